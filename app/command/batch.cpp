#include "app/command/batch.h"

#include <algorithm>
#include <filesystem>
#include <map>

#include "app/command/command.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kPlaceholders[] = {"{stem}", "{name}", "{ext}", "{channel}", "{index}"};

// Two spellings of one file: relative and absolute, "a/./b" and "a/b".
std::string SamePathKey(const std::string& path)
{
    std::error_code ec;
    const fs::path absolute = fs::absolute(path, ec);
    return (ec ? fs::path(path) : absolute).lexically_normal().string();
}

}  // namespace

std::string NodeName(const std::string& input) { return fs::path(input).stem().string(); }

bool HasPlaceholder(const std::string& pattern)
{
    return std::any_of(std::begin(kPlaceholders), std::end(kPlaceholders),
                       [&](const char* p) { return pattern.find(p) != std::string::npos; });
}

bool NamesChannel(const std::string& pattern) { return pattern.find("{channel}") != std::string::npos; }

std::string ExpandOutput(const std::string& pattern, const OutputNames& names)
{
    const fs::path input(names.input);
    std::string ext = input.extension().string();
    if (!ext.empty()) ext.erase(0, 1);
    const std::string values[] = {input.stem().string(), names.node, ext, std::to_string(names.channel),
                                  std::to_string(names.index)};
    std::string out;
    for (std::size_t at = 0; at < pattern.size();) {
        std::size_t which = 0;
        while (which < std::size(kPlaceholders) && pattern.compare(at, std::char_traits<char>::length(
                                                                           kPlaceholders[which]),
                                                                   kPlaceholders[which]) != 0)
            ++which;
        if (which == std::size(kPlaceholders)) {
            out += pattern[at++];
            continue;
        }
        out += values[which];
        at += std::char_traits<char>::length(kPlaceholders[which]);
    }
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

int WorseStatus(int a, int b)
{
    // Worst first: an internal fault, then a usage or input error, then a
    // refusal or failure.
    for (const int status : {kExitInternal, kExitUsage, kExitFailed})
        if (a == status || b == status) return status;
    return std::max(a, b);
}
