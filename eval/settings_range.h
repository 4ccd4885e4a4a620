// The values a generation refuses before it starts. The record enforces no
// range (another host may fill it with anything); these are the values no
// run could serve: a map side a bitmap cannot have, a ray count beyond
// 32 bits, a map channel the mesh cannot have, a distance or a noise size
// that gives no finite point.
#pragma once

#include <string>

#include "eval/settings.h"

class Interface;

namespace dunsmere {

// A bitmap side is 16 bits.
inline constexpr std::int32_t kMaxMapSide = 65535;

// Which values a generation reads, and so refuses.
enum class SettingsUse { kVertexColors, kMap };

// "KEY = VALUE" (VALUE as the settings file writes it) for the first of these,
// in record order, that the generation reads; empty when there is none:
//   XSiz, YSiz outside 1..kMaxMapSide (map);
//   horizontalSpread * verticalSpread + 1 beyond 32 bits, quoted as verticalSpread;
//   mapChannel outside 0..99 (map);
//   dist not positive and finite;
//   noiseSize negative or not finite, when noiseOn is set (map);
//   padding outside 0..kMaxPadding (map);
//   supersample outside 1..kMaxSupersample, or above 1 with supersample *
//   XSiz or supersample * YSiz above kMaxSupersampledSide (map);
//   rayBias outside 0..kMaxRayBias, or not a number.
// May be called from any thread.
std::string UnservableSetting(const UtilitySettings& settings, SettingsUse use);

// Shows "Settings out of range: KEY = VALUE" (title "Dunsmere", information
// icon) and returns true when the generation cannot serve the record; shows
// nothing and returns false otherwise. User-interface thread.
bool RefuseUnservableSettings(Interface& ip, const UtilitySettings& settings, SettingsUse use);

}  // namespace dunsmere
