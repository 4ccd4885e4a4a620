#include "app/session/panel_settings.h"

#include <cmath>

#include "app/session/session.h"

namespace dunsmere {
namespace {

void CheckOption(const Panel& panel, const std::string& option)
{
    if (!panel.Has(option)) throw SessionError("the panel has no option \"" + option + "\"");
}

}  // namespace

void ApplySettings(const Panel& panel, const PanelSettings& s)
{
    if (!s.algorithm.empty()) {
        CheckOption(panel, s.algorithm);
        if (panel.Algorithm() != AlgorithmNamed(s.algorithm)) panel.Press(s.algorithm);
    }
    for (const auto& [option, value] : s.numbers) {
        CheckOption(panel, option);
        if (panel.SpinnerLimits(option)) {
            panel.Type(option, static_cast<float>(value));
            continue;
        }
        if (!(std::trunc(value) == value && std::fabs(value) < 2147483648.0))
            throw SessionError("the option \"" + option + "\" takes a whole number");
        panel.Type(option, static_cast<int>(value));
    }
    for (const auto& [option, on] : s.ticks) {
        CheckOption(panel, option);
        panel.Tick(option, on);
    }
}

}  // namespace dunsmere
