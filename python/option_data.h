// The command's options as a script sees them: keyword arguments by the
// command's names ("noise-size" is noise_size), their ranges and defaults
// as the plug-in's panel sets them up, and presets read and written as the
// command does.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "python/bake_call.h"

namespace dunsmere {

// A bake's keyword arguments (None: the plug-in's default) for ALGORITHM;
// TypeError for a name no option has, ValueError for a value it refuses.
BakeRequest RequestOf(const std::string& algorithm, const pybind11::dict& options);

// dunsmere.options(): one dict an option, in the command's order.
pybind11::list OptionRows();

// The plug-in's name and version as its About box gives them.
std::string PluginVersionText();

// A preset as keyword arguments of the bakes, checked as --preset is.
pybind11::dict ReadPreset(const std::string& path);
// The preset a bake with OPTIONS would save, as --write-preset writes it.
void WritePreset(const std::string& path, const pybind11::dict& options);

}  // namespace dunsmere
