// A setting's value as the settings file writes it, whatever the process's
// locale: an integer as "%d", a float widened to double as "%f" (six
// decimals). The refusal of a value no run can serve quotes it the same way.
#pragma once

#include <cstdint>
#include <string>

namespace dunsmere {

std::string SettingText(std::int32_t value);
std::string SettingText(float value);

}  // namespace dunsmere
