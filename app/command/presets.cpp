#include "app/command/presets.h"

#include <charconv>
#include <string_view>
#include <vector>

#include "app/command/command.h"
#include "host/ini.h"

namespace {

// The section's keys and the options they stand for.
struct Key {
    const char* key;
    const char* option;
};
constexpr Key kDistance{"distance", "--distance"};
constexpr Key kNoiseSize{"noiseSize", "--noise-size"};
constexpr Key kDistanceRelative{"distanceRelative", "--distance-relative"};
constexpr Key kOutput{"output", "--output"};
constexpr Key kSmoothAngle{"smoothAngle", "--smooth-angle"};

// Room for the longest path a file system takes.
constexpr int kValueBytes = 4097;

std::string ReadValue(const Key& key, const std::string& file)
{
    std::string buffer(kValueBytes, '\0');
    const int n = GetPrivateProfileString(kCommandSection, key.key, "", buffer.data(), kValueBytes, file.c_str());
    buffer.resize(static_cast<size_t>(n));
    return buffer;
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

}  // namespace

std::string ShortestDecimal(float v) { return Shortest(v); }
std::string ShortestDecimal(double v) { return Shortest(v); }

CommandValues CommandValuesOf(const CommandOptions& o)
{
    CommandValues v;
    v.distance = o.distance;
    v.noiseSize = o.noiseSize;
    v.distanceRelative = o.distanceRelative;
    v.smoothAngle = o.smoothAngle;
    if (!o.output.empty()) v.output = o.output;
    return v;
}

void ApplyCommandSection(const std::string& file, const std::string& shown, CommandOptions& o)
{
    // The section's values are read as the options they stand for, by the
    // command line's own parser, so that a preset can hold nothing the
    // command line would refuse.
    std::vector<std::string> args{"dunsmere", "--show-settings"};
    auto take = [&](const Key& key) {
        const std::string value = ReadValue(key, file);
        if (!value.empty()) args.push_back(std::string(key.option) + "=" + value);
    };
    if (!o.distance && !o.distanceRelative) {
        take(kDistance);
        take(kDistanceRelative);
    }
    if (!o.noiseSize) take(kNoiseSize);
    if (o.output.empty()) take(kOutput);
    if (!o.smoothAngle) take(kSmoothAngle);
    if (args.size() == 2) return;

    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    const ParseResult parsed = ParseCommandLine(static_cast<int>(argv.size()), argv.data());
    if (!parsed.options)
        throw CommandError(kExitUsage, shown + ": [" + kCommandSection + "] " + FirstLine(parsed.err));
    const CommandOptions& from = *parsed.options;
    if (from.distance) o.distance = from.distance;
    if (from.distanceRelative) o.distanceRelative = from.distanceRelative;
    if (from.noiseSize) o.noiseSize = from.noiseSize;
    if (!from.output.empty()) o.output = from.output;
    if (from.smoothAngle) o.smoothAngle = from.smoothAngle;
}

bool WriteCommandSection(const std::string& file, const CommandValues& v)
{
    const std::pair<const Key*, std::string> values[] = {
        {&kDistance, v.distance ? ShortestDecimal(*v.distance) : ""},
        {&kNoiseSize, v.noiseSize ? ShortestDecimal(*v.noiseSize) : ""},
        {&kDistanceRelative, v.distanceRelative ? ShortestDecimal(*v.distanceRelative) : ""},
        {&kOutput, v.output.value_or("")},
        {&kSmoothAngle, v.smoothAngle ? ShortestDecimal(*v.smoothAngle) : ""},
    };
    // A key not set is only written, empty, over a value an earlier run left.
    ProfileEntries entries;
    for (const auto& [key, value] : values)
        if (!value.empty() || HasKey(file, key->key)) entries.emplace_back(key->key, value);
    if (entries.empty()) return true;
    return WritePrivateProfileStrings(kCommandSection, entries, file.c_str());
}
