#include "app/command/presets.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <string_view>
#include <vector>

#include "app/command/command.h"
#include "app/command/option_table.h"
#include "host/ini.h"
#include "host/numbers.h"

namespace dunsmere {

namespace {

constexpr const char* kPanelSection = "Dunsmere";

// The plug-in's keys are read as the options that set the same controls,
// so that a preset's value is checked against the command line's range. A
// switch is saved as 0 or 1, the algorithm as its radio button's code.
struct AlgorithmCode {
    const char* code;
    BakeAlgorithm algorithm;
};
constexpr AlgorithmCode kAlgorithmCodes[] = {
    {"1008", BakeAlgorithm::kUVMap}, {"1009", BakeAlgorithm::kVertexColors}, {"1010", BakeAlgorithm::kSpatial}};

// The command's section.
struct CommandKey {
    const char* key;
    const char* option;
};
constexpr CommandKey kDistance{"distance", "distance"};
constexpr CommandKey kNoiseSize{"noiseSize", "noise-size"};
constexpr CommandKey kDistanceRelative{"distanceRelative", "distance-relative"};
constexpr CommandKey kSmoothAngle{"smoothAngle", "smooth-angle"};
constexpr CommandKey kCommandKeys[] = {kDistance, kNoiseSize, kDistanceRelative, kSmoothAngle};
// Older files kept the output; it is now the command line's alone.
constexpr const char* kOutputKey = "output";

// Room for the longest path a file system takes.
constexpr int kValueBytes = 4097;

// Keys match as the settings file matches them: ignoring ASCII case.
bool SameKey(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](unsigned char x, unsigned char y) {
        return std::tolower(x) == std::tolower(y);
    });
}

const CommandKey* FindCommandKey(std::string_view key)
{
    const auto row = std::find_if(std::begin(kCommandKeys), std::end(kCommandKeys),
                                  [&](const CommandKey& r) { return SameKey(r.key, key); });
    return row == std::end(kCommandKeys) ? nullptr : row;
}

const OptionRow* FindPanelKey(std::string_view key)
{
    const auto row = std::find_if(std::begin(kOptionRows), std::end(kOptionRows),
                                  [&](const OptionRow& r) { return r.panelKey && SameKey(r.panelKey, key); });
    return row == std::end(kOptionRows) ? nullptr : row;
}

template <class Number>
std::string Shortest(Number v)
{
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return r.ec == std::errc{} ? std::string(buf, r.ptr) : std::string();
}

// The parser's message without its "dunsmere: " and anything past its first line.
std::string FirstLine(std::string_view message)
{
    constexpr std::string_view kPrefix = "dunsmere: ";
    if (message.substr(0, kPrefix.size()) == kPrefix) message.remove_prefix(kPrefix.size());
    return std::string(message.substr(0, message.find('\n')));
}

bool HasKey(const std::string& file, const char* key)
{
    // A missing key reads as the default, which no value can be.
    char probe[2];
    return GetPrivateProfileString(kCommandSection, key, "\n", probe, sizeof probe, file.c_str()) != 1 ||
           probe[0] != '\n';
}

// One reading of a preset, whose values are checked by the command line's
// own parser, one key at a time, so that a refusal names its key.
class Preset {
public:
    Preset(const std::string& file, const std::string& shown) : snapshot_(file.c_str()), shown_(shown) {}

    std::vector<std::string> Keys(const char* section) const { return snapshot_.Keys(section); }
    std::string Value(const char* section, const std::string& key) const
    {
        std::string buffer(kValueBytes, '\0');
        buffer.resize(static_cast<size_t>(snapshot_.GetString(section, key.c_str(), "", buffer.data(), kValueBytes)));
        return buffer;
    }
    // The options ARGUMENT sets, alone on a command line.
    CommandOptions Parsed(const char* section, const std::string& key, const std::string& value,
                          const std::string& argument) const
    {
        const char* argv[] = {"dunsmere", "--show-settings", argument.c_str()};
        const ParseResult parsed = ParseCommandLine(static_cast<int>(std::size(argv)), argv);
        if (!parsed.options) Refuse(section, key, value, FirstLine(parsed.err));
        return *parsed.options;
    }
    [[noreturn]] void Refuse(const char* section, const std::string& key, const std::string& value,
                             const std::string& why) const
    {
        throw CommandError(kExitUsage, shown_ + ": [" + section + "] " + key + "=" + value + ": " + why);
    }

private:
    ProfileSnapshot snapshot_;
    std::string shown_;
};

// The command line's argument for a value of the plug-in's section.
std::string PanelArgument(const Preset& preset, const OptionRow& row, const std::string& key,
                          const std::string& value)
{
    const std::string option = std::string("--") + row.name;
    if (row.kind == OptionKind::kSwitch) {
        if (value != "0" && value != "1") preset.Refuse(kPanelSection, key, value, "wants 0 or 1");
        return value == "1" ? option : "--no-" + std::string(row.name);
    }
    if (row.kind != OptionKind::kChoice) return option + "=" + value;
    // The one choice on the panel: the algorithm's radio buttons.
    std::string wanted = "wants";
    for (std::size_t i = 0; i < std::size(kAlgorithmCodes); ++i) {
        const auto& [code, algorithm] = kAlgorithmCodes[i];
        if (value == code) return option + "=" + NameOf(algorithm);
        wanted += std::string(i == 0 ? " " : i + 1 == std::size(kAlgorithmCodes) ? " or " : ", ") + code + " (" +
                  NameOf(algorithm) + ")";
    }
    preset.Refuse(kPanelSection, key, value, wanted);
}

}  // namespace

std::string ShortestDecimal(float v) { return Shortest(v); }
std::string ShortestDecimal(double v) { return Shortest(v); }

void ApplyPreset(const std::string& file, const std::string& shown, CommandOptions& o)
{
    const Preset preset(file, shown);
    CommandValues command, panel;
    for (const std::string& key : preset.Keys(kCommandSection)) {
        const std::string value = preset.Value(kCommandSection, key);
        if (SameKey(key, kOutputKey)) {
            if (!value.empty() && !o.quiet)
                std::fprintf(stderr, "dunsmere: note: %s: its output key is ignored; give -o\n", shown.c_str());
            continue;
        }
        const CommandKey* row = FindCommandKey(key);
        if (!row) preset.Refuse(kCommandSection, key, value, "no such key");
        if (value.empty()) continue;  // a value not set
        const std::string argument = "--" + std::string(row->option) + "=" + value;
        const CommandOptions parsed = preset.Parsed(kCommandSection, key, value, argument);
        if (parsed.distance) command.distance = parsed.distance;
        if (parsed.noiseSize) command.noiseSize = parsed.noiseSize;
        if (parsed.distanceRelative) command.distanceRelative = parsed.distanceRelative;
        if (parsed.smoothAngle) command.smoothAngle = parsed.smoothAngle;
    }
    for (const std::string& key : preset.Keys(kPanelSection)) {
        const std::string value = preset.Value(kPanelSection, key);
        const OptionRow* row = FindPanelKey(key);
        if (!row) preset.Refuse(kPanelSection, key, value, "no such key");
        const CommandOptions parsed = preset.Parsed(kPanelSection, key, value, PanelArgument(preset, *row, key, value));
        // Read as the plug-in reads them, which is what it would have baked
        // had the panel's spinner not clamped them.
        if (parsed.distance) panel.distance = ParseFloatC(value.c_str());
        if (parsed.noiseSize) panel.noiseSize = ParseFloatC(value.c_str());
    }

    if (!o.distance && !o.distanceRelative) {
        if (command.distanceRelative) o.distanceRelative = command.distanceRelative;
        else o.distance = command.distance ? command.distance : panel.distance;
    }
    if (!o.noiseSize) o.noiseSize = command.noiseSize ? command.noiseSize : panel.noiseSize;
    if (!o.smoothAngle) o.smoothAngle = command.smoothAngle;
}

bool WriteCommandSection(const std::string& file, const CommandValues& v)
{
    const std::pair<const CommandKey*, std::string> values[] = {
        {&kDistance, v.distance ? ShortestDecimal(*v.distance) : ""},
        {&kNoiseSize, v.noiseSize ? ShortestDecimal(*v.noiseSize) : ""},
        {&kDistanceRelative, v.distanceRelative ? ShortestDecimal(*v.distanceRelative) : ""},
        {&kSmoothAngle, v.smoothAngle ? ShortestDecimal(*v.smoothAngle) : ""},
    };
    // A key not set is only written, empty, over a value an earlier run left.
    ProfileEntries entries;
    for (const auto& [key, value] : values)
        if (!value.empty() || HasKey(file, key->key)) entries.emplace_back(key->key, value);
    entries.emplace_back(kOutputKey, std::nullopt);
    return WritePrivateProfileStrings(kCommandSection, entries, file.c_str());
}

}  // namespace dunsmere
