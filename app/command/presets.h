// Presets: a Dunsmere.ini handed from one run to the next, byte-compatible
// with the plug-in's own file. The panel's settings are the plug-in's
// section, loaded and saved by its own rules; the command's values that the
// panel cannot hold live beside them in a section of their own, which the
// plug-in's loader never reads and its saves keep line for line.
#pragma once

#include <optional>
#include <string>

#include "app/command/options.h"

namespace dunsmere {

inline constexpr const char* kCommandSection = "dunsmere-command";

// The command's own values of a run as the user knows them: the distance
// and noise size it baked with, given or the panel's, never as the host
// scaled them (the plug-in's section holds those); the relative distance
// and smoothing angle as given.
struct CommandValues {
    std::optional<float> distance, noiseSize;
    std::optional<double> distanceRelative, smoothAngle;
};

// Checks FILE, which the user knows as SHOWN (a preset, or the last bake's
// file), and fills from it what OPTIONS was not given on the line.
//
// Every key of both sections is checked as the option it stands for would
// be on the command line; an unknown key or a value the line would refuse
// throws CommandError (usage) naming SHOWN, the section, the key and the
// value. An output key is ignored (the output is the line's alone), with a
// note unless OPTIONS is quiet.
//
// The command's section wins over the plug-in's, whose distance and noise
// size are taken as given on the line, so that a value past the panel's
// range is scaled, not clamped. A distance, given either way, is one value:
// a relative distance wins over an absolute one of the same section.
void ApplyPreset(const std::string& file, const std::string& shown, CommandOptions& options);

// Writes VALUES into FILE's command section, each as the shortest decimal
// that reads back as the same number, and removes an output key an older
// file held. A value not set is written empty (which reads as not set)
// where the section already has its key; a file without the section gets
// none unless some value is set. False when the file could not be written.
bool WriteCommandSection(const std::string& file, const CommandValues& values);

// The shortest decimal text that reads back as exactly V.
std::string ShortestDecimal(float v);
std::string ShortestDecimal(double v);

}  // namespace dunsmere
