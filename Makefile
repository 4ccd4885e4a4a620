# The two commands of the README. Everything else goes through CMake presets.
PRESET ?= release
JOBS   ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all test test-gcc test-sanitized demo bench bootstrap configure build sanitize fuzz clean blender-addon

all: build

bootstrap:
	@./scripts/bootstrap

configure: bootstrap
	@cmake --preset $(PRESET) >/dev/null

build: configure
	@cmake --build --preset $(PRESET) -j $(JOBS)

# The suite in the release build (Clang), then what CI keeps green besides:
# the whole tree built with GCC, warnings as errors, with the pinned outputs
# checked there too (the same bytes from either compiler); Clang at -O1 with
# AddressSanitizer and UndefinedBehaviorSanitizer over the suite but the
# heavy tests; and ThreadSanitizer over the tests labelled threads.
test: build
	@ctest --preset $(PRESET) -j $(JOBS)
	@$(MAKE) --no-print-directory test-gcc
	@$(MAKE) --no-print-directory test-sanitized

test-gcc: bootstrap
	@cmake --preset gcc >/dev/null && cmake --build --preset gcc -j $(JOBS) && ctest --preset gcc -j $(JOBS)

test-sanitized: bootstrap
	@cmake --preset ci-asan >/dev/null && cmake --build --preset ci-asan -j $(JOBS) && ctest --preset ci-asan -j $(JOBS)
	@cmake --preset ci-tsan >/dev/null && cmake --build --preset ci-tsan -j $(JOBS) && ctest --preset ci-tsan -j $(JOBS)

demo: build
	@./scripts/demo build/$(PRESET)/bin/dunsmere

# The ray scene against the brute force and Embree, whole bakes, and what the
# Python module adds to a bake; writes bench/results.md. Not part of test:
# Embree is installed for it alone.
bench:
	@./scripts/bootstrap bench
	@cmake --preset release -DDUNSMERE_BUILD_BENCH=ON >/dev/null
	@cmake --build --preset release -j $(JOBS) --target dunsmere dunsmere_bench _dunsmere
	@build/release/bench/dunsmere_bench --dunsmere build/release/bin/dunsmere --crate examples/crate.obj \
	    --work build/release/bench-work --results bench/results.md
	@PYTHONPATH=build/release/python /usr/bin/python3 bench/python_bench.py examples/crate.obj bench/results.md

# The Blender add-on for "Install...": build/release/dunsmere_blender.zip, and
# the extension zip (Blender 4.2 and later) beside it.
blender-addon: configure
	@cmake --build --preset $(PRESET) -j $(JOBS) --target blender_addon
	@ls build/$(PRESET)/dunsmere_blender*.zip

# Address/UndefinedBehavior and Thread sanitizer runs of the whole test suite.
sanitize: bootstrap
	@cmake --preset asan >/dev/null && cmake --build --preset asan -j $(JOBS) && ctest --preset asan -j $(JOBS)
	@cmake --preset tsan >/dev/null && cmake --build --preset tsan -j $(JOBS) && ctest --preset tsan -j $(JOBS)

# The libFuzzer targets (fuzz/), each for FUZZ_SECONDS on its kept corpus,
# which is then merged back, minimised. Findings land in build/fuzz/findings.
FUZZ_SECONDS ?= 600
FUZZ_TARGETS ?= obj settings raster flatten
fuzz:
	@./scripts/bootstrap fuzz
	@cmake --preset fuzz >/dev/null
	@cmake --build --preset fuzz -j $(JOBS) --target $(addprefix fuzz_,$(FUZZ_TARGETS))
	@./scripts/fuzz build/fuzz $(FUZZ_SECONDS) $(FUZZ_TARGETS)

clean:
	rm -rf build out
