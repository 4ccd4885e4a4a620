// What a user would type into the panel, by the controls' names, kept until
// the panel is open: a session's settings, and a script's preset.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "app/session/panel.h"

namespace dunsmere {

struct PanelSettings {
    std::string algorithm;
    std::vector<std::pair<std::string, double>> numbers;
    std::vector<std::pair<std::string, bool>> ticks;
};

// In the order a user would: the algorithm first, then the edits, then
// the check boxes. An edit with a float spinner takes the number as it is,
// another a whole number. Throws SessionError for a name the panel lacks or
// a fraction typed into a whole number's edit.
void ApplySettings(const Panel& panel, const PanelSettings& settings);

}  // namespace dunsmere
