// What a bake computes, as the panel's radio buttons choose it, and the
// names the command line and a client give each.
#pragma once

#include <algorithm>
#include <iterator>
#include <optional>
#include <string_view>

namespace dunsmere {

enum class BakeAlgorithm { kUVMap, kVertexColors, kSpatial };

struct AlgorithmName {
    BakeAlgorithm algorithm;
    const char* name;
};
inline constexpr AlgorithmName kAlgorithmNames[] = {
    {BakeAlgorithm::kUVMap, "uv-map"},
    {BakeAlgorithm::kVertexColors, "vertex-colors"},
    {BakeAlgorithm::kSpatial, "spatial"},
};

constexpr const char* NameOf(BakeAlgorithm algorithm)
{
    for (const AlgorithmName& n : kAlgorithmNames)
        if (n.algorithm == algorithm) return n.name;
    return "";
}

constexpr std::optional<BakeAlgorithm> AlgorithmNamed(std::string_view name)
{
    const auto* n = std::find_if(std::begin(kAlgorithmNames), std::end(kAlgorithmNames),
                                 [&](const AlgorithmName& a) { return name == a.name; });
    if (n == std::end(kAlgorithmNames)) return std::nullopt;
    return n->algorithm;
}

}  // namespace dunsmere
