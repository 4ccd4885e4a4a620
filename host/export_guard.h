// The one rule for code the host calls into (the library's exports and entry,
// dialog procedures): nothing thrown may unwind into the host, which is not
// built to pass an exception on.
#pragma once

#include <utility>

#include "host/runtime.h"

// Runs BODY and returns its result. Should BODY throw, the throw is reported
// as a failed check at LINE of SOURCE (through assert1, so a host's assertion
// log names the entry point) and FALLBACK is returned instead.
template <typename Result, typename Body>
Result CallGuarded(const char* source, int line, Result fallback, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        assert1(line, source);
        return fallback;
    }
}

// The same for a BODY with no result.
template <typename Body>
void CallGuarded(const char* source, int line, Body&& body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (...) {
        assert1(line, source);
    }
}
