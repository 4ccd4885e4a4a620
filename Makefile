# The two commands of the README. Everything else goes through CMake presets.
PRESET ?= release
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all test demo bootstrap configure build sanitize clean

all: build

bootstrap:
	@./scripts/bootstrap

configure: bootstrap
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	@ctest --preset $(PRESET) -j $(JOBS)

demo: build
	@./scripts/demo build/$(PRESET)/bin/dunsmere

# Address/UndefinedBehavior and Thread sanitizer runs of the whole test suite.
sanitize: bootstrap
	@cmake --preset asan >/dev/null && cmake --build --preset asan -j $(JOBS) && ctest --preset asan -j $(JOBS)
	@cmake --preset tsan >/dev/null && cmake --build --preset tsan -j $(JOBS) && ctest --preset tsan -j $(JOBS)

clean:
	rm -rf build out
