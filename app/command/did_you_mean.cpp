#include "app/command/did_you_mean.h"

#include <algorithm>

namespace dunsmere {

namespace {

// Optimal string alignment distance: Levenshtein with a swap of two
// neighbours as one edit, the commonest typing slip.
size_t EditDistance(std::string_view a, std::string_view b)
{
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

}  // namespace

std::string NearestName(std::string_view typed, const std::vector<std::string>& names)
{
    const size_t limit = std::min<size_t>(3, typed.size() / 3);
    std::string best;
    size_t bestDistance = limit + 1;
    for (const std::string& name : names) {
        const size_t d = EditDistance(typed, name);
        if (d < bestDistance) {
            best = name;
            bestDistance = d;
        }
    }
    return best;
}

}  // namespace dunsmere
