// SHA-256 of a byte string, for naming a file by what it holds.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace dunsmere {

std::array<std::uint8_t, 32> Sha256(std::string_view bytes);
// The digest as 64 lower-case hex digits.
std::string Sha256Hex(std::string_view bytes);

}  // namespace dunsmere
