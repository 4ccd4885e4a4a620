#include "eval/settings_range.h"

#include <cmath>
#include <cstdint>

#include "eval/messages.h"
#include "eval/sample.h"
#include "eval/setting_text.h"
#include "host/mesh.h"

namespace dunsmere {

namespace {

std::string Quote(const char* key, const std::string& value) { return std::string(key) + " = " + value; }

bool MapSide(std::int32_t side) { return side >= 1 && side <= kMaxMapSide; }

}  // namespace

std::string UnservableSetting(const UtilitySettings& s, SettingsUse use)
{
    const bool map = use == SettingsUse::kMap;
    if (map && !MapSide(s.XSiz)) return Quote("XSiz", SettingText(s.XSiz));
    if (map && !MapSide(s.YSiz)) return Quote("YSiz", SettingText(s.YSiz));
    if (RayScratchCount(s) == 0) return Quote("verticalSpread", SettingText(s.verticalSpread));
    if (map && (s.mapChannel < 0 || s.mapChannel >= kMaxMapChannels))
        return Quote("mapChannel", SettingText(s.mapChannel));
    if (!(s.dist > 0.0f) || !std::isfinite(s.dist)) return Quote("dist", SettingText(s.dist));
    if (map && s.noiseOn && (!(s.noiseSize >= 0.0f) || !std::isfinite(s.noiseSize)))
        return Quote("noiseSize", SettingText(s.noiseSize));
    if (map && (s.padding < 0 || s.padding > kMaxPadding)) return Quote("padding", SettingText(s.padding));
    // At 1 the map is the specified one, whose sides reach kMaxMapSide.
    if (map && (s.supersample < 1 || s.supersample > kMaxSupersample ||
                (s.supersample > 1 && (std::int64_t{s.supersample} * s.XSiz > kMaxSupersampledSide ||
                                       std::int64_t{s.supersample} * s.YSiz > kMaxSupersampledSide))))
        return Quote("supersample", SettingText(s.supersample));
    if (!(s.rayBias >= 0.0f && s.rayBias <= kMaxRayBias)) return Quote("rayBias", SettingText(s.rayBias));
    if (s.highPoly && !(s.rayFront >= 0.0f && s.rayFront <= 1.0f)) return Quote("rayFront", SettingText(s.rayFront));
    if (s.highPoly && !(s.rayRear >= 0.0f && s.rayRear <= 1.0f)) return Quote("rayRear", SettingText(s.rayRear));
    return {};
}

bool RefuseUnservableSettings(Interface& ip, const UtilitySettings& settings, SettingsUse use)
{
    const std::string value = UnservableSetting(settings, use);
    if (value.empty()) return false;
    ShowInfo(ip, (kSettingsOutOfRange + value).c_str());
    return true;
}

}  // namespace dunsmere
