// Suggestions for a mistyped option name.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dunsmere {

// The name in NAMES nearest TYPED by edit distance (insertions, deletions,
// substitutions and swaps of neighbours, each counting one), when it is
// near enough to be what was meant: at most a third of TYPED's length, and
// never more than 3. The first of equally near names wins; "" for none.
std::string NearestName(std::string_view typed, const std::vector<std::string>& names);

}  // namespace dunsmere
