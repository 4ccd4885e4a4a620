// Test helper: records internal-check reports instead of printing them.
#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "host/runtime.h"

namespace dunsmere {

struct CheckReport {
    int line;
    std::string source;
    bool operator==(const CheckReport&) const = default;
};

// Installs itself as the assertion reporter for its lifetime. Reports from
// any thread are collected in order of arrival.
class CheckRecorder {
public:
    CheckRecorder() { previous_ = SetAssertReporter(&Record); }
    ~CheckRecorder() { SetAssertReporter(previous_); Reports().clear(); }
    CheckRecorder(const CheckRecorder&) = delete;
    CheckRecorder& operator=(const CheckRecorder&) = delete;

    std::vector<CheckReport> Take()
    {
        std::lock_guard<std::mutex> lock(Mutex());
        return std::exchange(Reports(), {});
    }

private:
    static std::mutex& Mutex() { static std::mutex m; return m; }
    static std::vector<CheckReport>& Reports() { static std::vector<CheckReport> r; return r; }
    static void Record(int line, const char* source)
    {
        std::lock_guard<std::mutex> lock(Mutex());
        Reports().push_back({line, source ? source : ""});
    }

    AssertReporter previous_ = nullptr;
};

}  // namespace dunsmere
