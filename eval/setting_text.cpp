#include "eval/setting_text.h"

#include <charconv>

namespace dunsmere {

std::string SettingText(std::int32_t value)
{
    char buf[256];
    const auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
    return {buf, end};
}

std::string SettingText(float value)
{
    char buf[256];
    const auto r = std::to_chars(buf, buf + sizeof buf, static_cast<double>(value), std::chars_format::fixed, 6);
    if (r.ec != std::errc{}) return "0.000000";
    return {buf, r.ptr};
}

}  // namespace dunsmere
