#include "host/runtime.h"

#include "host/bitmap.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {

void DefaultReporter(int line, const char* source)
{
    std::fprintf(stderr, "internal check failed: %s line %d\n", source ? source : "?", line);
}

std::atomic<AssertReporter> gReporter{&DefaultReporter};
std::atomic<DebugSink> gDebugSink{nullptr};
std::atomic<Interface*> gCore{nullptr};
std::atomic<int> gControlsInit{0};
std::atomic<BitmapManager*> gBitmapManager{nullptr};

}  // namespace

void assert1(int line, const char* source) { gReporter.load()(line, source); }

AssertReporter SetAssertReporter(AssertReporter reporter)
{
    return gReporter.exchange(reporter ? reporter : &DefaultReporter);
}

void DebugPrint(const char* format, ...)
{
    DebugSink sink = gDebugSink.load();
    if (!sink) return;
    char small[512];
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        sink(small);
    } else if (n >= 0) {
        std::vector<char> big(static_cast<size_t>(n) + 1);
        std::vsnprintf(big.data(), big.size(), format, again);
        sink(big.data());
    }
    va_end(again);
}

DebugSink SetDebugSink(DebugSink sink) { return gDebugSink.exchange(sink); }

Interface* GetCOREInterface() { return gCore.load(); }
void SetCOREInterface(Interface* core) { gCore.store(core); }

void InitCustomControls(void*) { gControlsInit.fetch_add(1); }
int CustomControlsInitCount() { return gControlsInit.load(); }

BitmapManager* TheManager() { return gBitmapManager.load(); }
void SetBitmapManager(BitmapManager* manager) { gBitmapManager.store(manager); }
