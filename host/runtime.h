// The process-wide host functions. They live in one small shared library
// (dunsmere_hostrt) so that the plug-in library, the command and the tests
// all see a single host, a single assertion reporter and a single debug sink.
//
// Every function here may be called from any thread.
#pragma once

#if defined(_WIN32)
#define DUNSMERE_HOST_API __declspec(dllexport)
#else
#define DUNSMERE_HOST_API __attribute__((visibility("default")))
#endif

class Interface;

// Reports a failed internal check at `line` of `source`. It returns to the
// caller, which must then skip the access that failed the check. It never
// throws, so checks may fire on worker threads and inside library exports.
DUNSMERE_HOST_API void assert1(int line, const char* source);

using AssertReporter = void (*)(int line, const char* source);
// Installs a reporter and returns the previous one. nullptr restores the
// default, which prints "internal check failed: SOURCE line N" to stderr.
DUNSMERE_HOST_API AssertReporter SetAssertReporter(AssertReporter reporter);

// printf-style diagnostic line, handed whole to the debug sink. Lines are
// dropped while no sink is installed.
DUNSMERE_HOST_API void DebugPrint(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

using DebugSink = void (*)(const char* text);
DUNSMERE_HOST_API DebugSink SetDebugSink(DebugSink sink);

// The host's core interface, installed by whoever plays the host.
DUNSMERE_HOST_API Interface* GetCOREInterface();
DUNSMERE_HOST_API void SetCOREInterface(Interface* core);

// Registers the host's custom controls; the plug-in calls it once at load.
DUNSMERE_HOST_API void InitCustomControls(void* instance);
DUNSMERE_HOST_API int CustomControlsInitCount();
