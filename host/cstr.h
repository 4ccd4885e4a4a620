// The host's owned, null-terminated string.
#pragma once

#include <string>
#include <string_view>

class CStr {
public:
    CStr() = default;
    CStr(const char* s) : s_(s ? s : "") {}  // NOLINT: converts like the host's
    explicit CStr(std::string s) : s_(std::move(s)) {}

    const char* data() const { return s_.c_str(); }
    operator const char*() const { return s_.c_str(); }  // NOLINT
    int Length() const { return static_cast<int>(s_.size()); }
    const std::string& str() const { return s_; }

    CStr& operator+=(std::string_view more) { s_.append(more); return *this; }
    CStr operator+(std::string_view more) const { CStr r(*this); r += more; return r; }
    bool operator==(const CStr&) const = default;

private:
    std::string s_;
};
