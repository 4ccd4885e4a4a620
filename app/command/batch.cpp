#include "app/command/batch.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <string_view>

#include "app/command/command.h"

namespace dunsmere {

namespace fs = std::filesystem;

namespace {

// {udim} stands for itself here: each tile of a map fills it in later
// (app/command/tiles.h), and it alone names no input's own file.
constexpr std::string_view kPlaceholders[] = {"{stem}", "{name}", "{ext}", "{channel}", "{index}", "{base}", "{udim}"};
constexpr std::size_t kLiteral = std::size(kPlaceholders);
constexpr std::size_t kChannel = 3;
constexpr std::size_t kTile = 6;
static_assert(kPlaceholders[kChannel] == "{channel}" && kPlaceholders[kTile] == "{udim}");

// One piece of a pattern: a placeholder (its index in kPlaceholders) or
// literal text. "{{" is a literal brace; any other "{word}" that names no
// placeholder is an error, so that a misspelt one never becomes part of a
// file name.
struct Piece {
    std::size_t which = kLiteral;
    std::string_view text;  // the literal text, or the unknown "{word}"
    bool unknown = false;
};

template <class Visit>
void ForEachPiece(std::string_view pattern, Visit&& visit)
{
    std::size_t at = 0;
    while (at < pattern.size()) {
        const std::size_t brace = pattern.find('{', at);
        if (brace == std::string_view::npos) {
            visit(Piece{kLiteral, pattern.substr(at)});
            return;
        }
        if (brace > at) visit(Piece{kLiteral, pattern.substr(at, brace - at)});
        if (pattern.compare(brace, 2, "{{") == 0) {
            visit(Piece{kLiteral, pattern.substr(brace, 1)});
            at = brace + 2;
            continue;
        }
        const std::size_t close = pattern.find_first_of("{}/", brace + 1);
        if (close == std::string_view::npos || pattern[close] != '}') {
            // A brace that opens no placeholder is part of the name.
            visit(Piece{kLiteral, pattern.substr(brace, 1)});
            at = brace + 1;
            continue;
        }
        const std::string_view word = pattern.substr(brace, close + 1 - brace);
        const auto known = std::find(std::begin(kPlaceholders), std::end(kPlaceholders), word);
        visit(Piece{static_cast<std::size_t>(known - std::begin(kPlaceholders)), word, known == std::end(kPlaceholders)});
        at = close + 1;
    }
}

bool Names(std::string_view pattern, std::size_t which)
{
    bool found = false;
    ForEachPiece(pattern, [&](const Piece& p) { found = found || (!p.unknown && p.which == which); });
    return found;
}

// Two spellings of one file: relative and absolute, "a/./b" and "a/b".
std::string SamePathKey(const std::string& path)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

// A low mesh's stem names its high mesh's: "crate_low" is "crate"'s.
std::string BaseOf(const std::string& stem)
{
    constexpr std::string_view kLow = "_low";
    if (stem.size() <= kLow.size()) return stem;
    const std::string_view tail = std::string_view(stem).substr(stem.size() - kLow.size());
    const bool low = std::equal(tail.begin(), tail.end(), kLow.begin(),
                                [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
    return low ? stem.substr(0, stem.size() - kLow.size()) : stem;
}

// PATTERN for input I of O: one file for every input, or each its own.
std::string SideFile(const std::string& pattern, const CommandOptions& o, std::size_t i, int channel)
{
    if (pattern.empty()) return pattern;
    const std::string& input = o.meshes[i];
    return ExpandOutput(pattern, {input, NodeName(input), static_cast<int>(i) + 1, channel});
}

}  // namespace

bool HasPlaceholder(const std::string& pattern)
{
    bool found = false;
    ForEachPiece(pattern,
                 [&](const Piece& p) { found = found || (!p.unknown && p.which != kLiteral && p.which != kTile); });
    return found;
}

bool NamesChannel(const std::string& pattern) { return Names(pattern, kChannel); }

std::string PatternError(const std::string& pattern)
{
    std::string unknown;
    ForEachPiece(pattern, [&](const Piece& p) {
        if (p.unknown && unknown.empty()) unknown = p.text;
    });
    if (unknown.empty()) return "";
    std::string known;
    for (const std::string_view p : kPlaceholders) known += (known.empty() ? "" : ", ") + std::string(p);
    return "--output " + pattern + ": no placeholder " + unknown + "; the placeholders are " + known +
           ", and {{ writes a brace";
}

std::string ExpandOutput(const std::string& pattern, const OutputNames& names)
{
    const fs::path input(names.input);
    std::string ext = input.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    const std::string values[] = {input.stem().string(), names.node,          ext, std::to_string(names.channel),
                                  std::to_string(names.index), BaseOf(input.stem().string()),
                                  std::string(kPlaceholders[kTile])};
    static_assert(std::size(values) == kLiteral);
    std::string out;
    ForEachPiece(pattern, [&](const Piece& p) { out += p.which < kLiteral ? std::string_view(values[p.which]) : p.text; });
    return out;
}

std::vector<std::string> PlanOutputs(const CommandOptions& o, int channel)
{
    if (o.meshes.size() > 1 && !HasPlaceholder(o.output))
        throw CommandError(kExitUsage, "--output " + o.output + " names one file for " +
                                           std::to_string(o.meshes.size()) +
                                           " inputs: give a pattern such as '{stem}_smurl.png'");
    std::vector<std::string> outputs;
    std::map<std::string, std::size_t> seen;  // output path to the input that takes it
    for (std::size_t i = 0; i < o.meshes.size(); ++i) {
        const std::string& input = o.meshes[i];
        outputs.push_back(ExpandOutput(o.output, {input, NodeName(input), static_cast<int>(i) + 1, channel}));
        const auto [at, fresh] = seen.emplace(SamePathKey(outputs.back()), i);
        if (!fresh)
            throw CommandError(kExitUsage, "--output " + o.output + ": " + o.meshes[at->second] + " and " + input +
                                               " would both be written to " + outputs.back());
    }
    return outputs;
}

std::vector<SideFiles> PlanSides(const CommandOptions& o, int channel)
{
    if (o.meshes.size() > 1 && !o.missMap.empty() && !HasPlaceholder(o.missMap))
        throw CommandError(kExitUsage, "--miss-map " + o.missMap + " names one file for " +
                                           std::to_string(o.meshes.size()) +
                                           " inputs: give a pattern such as '{stem}_misses.png'");
    std::vector<SideFiles> sides;
    for (std::size_t i = 0; i < o.meshes.size(); ++i) {
        SideFiles& s = sides.emplace_back();
        for (const std::string& high : o.highs) s.highs.push_back(SideFile(high, o, i, channel));
        s.cage = SideFile(o.cage, o, i, channel);
        s.missMap = SideFile(o.missMap, o, i, channel);
    }
    return sides;
}

int WorseStatus(int a, int b)
{
    // Worst first: an internal fault, then a usage or input error, then a
    // refusal or failure.
    for (const int status : {kExitInternal, kExitUsage, kExitFailed})
        if (a == status || b == status) return status;
    return std::max(a, b);
}

}  // namespace dunsmere
