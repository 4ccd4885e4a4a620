// Presets: a Dunsmere.ini handed from one run to the next, byte-compatible
// with the plug-in's own file. The panel's settings are the plug-in's
// section, loaded and saved by its own rules; the command's values that the
// panel cannot hold live beside them in a section of their own, which the
// plug-in's loader never reads and its saves keep line for line.
#pragma once

#include <optional>
#include <string>

#include "app/command/options.h"

inline constexpr const char* kCommandSection = "dunsmere-command";

// The command's own values of a run, as the user gave them (never as the
// panel rounded or the host scaled them).
struct CommandValues {
    std::optional<float> distance, noiseSize;
    std::optional<double> distanceRelative, smoothAngle;
    std::optional<std::string> output;
};

CommandValues CommandValuesOf(const CommandOptions& options);

// Fills the values OPTIONS was not given from FILE's command section, each
// checked as the same option on the command line would be. A distance,
// given either way, is one value: the section's distance and relative
// distance apply only when the user gave neither. A missing file or section
// changes nothing. Throws CommandError (usage) naming SHOWN, the file as the
// user knows it, when a value would be refused on the command line.
void ApplyCommandSection(const std::string& file, const std::string& shown, CommandOptions& options);

// Writes VALUES into FILE's command section, each as the shortest decimal
// that reads back as the same number. A value not set is written empty
// (which reads as not set) where the section already has its key; a file
// without the section gets none unless some value is set. False when the
// file could not be written.
bool WriteCommandSection(const std::string& file, const CommandValues& values);

// The shortest decimal text that reads back as exactly V.
std::string ShortestDecimal(float v);
std::string ShortestDecimal(double v);
