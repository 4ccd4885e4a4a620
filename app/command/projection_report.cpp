#include "app/command/projection_report.h"

#include <cmath>
#include <cstdio>
#include <vector>

#include "app/command/command.h"
#include "app/image/image_files.h"

namespace dunsmere {

bool WriteMissMap(const std::string& path, const RunOutcome::Projection& p, int threads)
{
    if (p.missLevels.empty()) return false;
    std::vector<BMM_Color_64> pixels;
    pixels.reserve(p.missLevels.size());
    for (const std::uint16_t level : p.missLevels) pixels.push_back({level, level, level, 65535});
    try {
        WriteImageFile(path, p.missWidth, p.missHeight, pixels, threads, {ImageChannels::kGrey, 16});
    } catch (const ImageFileError& e) {
        throw CommandError(kExitFailed, e.what());
    }
    return true;
}

void AddProjection(RunOutcome::Projection& total, const RunOutcome::Projection& more)
{
    total.samples += more.samples;
    total.missed += more.missed;
    total.front = more.front;
    total.rear = more.rear;
}

std::string MissWarning(const std::string& file, const RunOutcome::Projection& p, int exponent)
{
    if (p.missed == 0) return "";
    char text[256];
    std::snprintf(text, sizeof text,
                  "%lld of %lld samples missed the high-poly meshes, with rays from %g in front to %g behind the "
                  "mesh; missed texels are filled as background (see --ray-distance, --cage and --miss-map)",
                  static_cast<long long>(p.missed), static_cast<long long>(p.samples),
                  static_cast<double>(std::ldexp(p.front, -exponent)), static_cast<double>(std::ldexp(p.rear, -exponent)));
    return file + ": " + text;
}

std::string MissShareFailure(const CommandOptions& o, const RunOutcome::Projection& p)
{
    if (!o.maxMissShare || p.samples == 0) return "";
    const double share = static_cast<double>(p.missed) / static_cast<double>(p.samples);
    if (!(share > *o.maxMissShare)) return "";
    char text[160];
    std::snprintf(text, sizeof text, "%lld of %lld samples missed (%.4g), more than --max-miss-share %g",
                  static_cast<long long>(p.missed), static_cast<long long>(p.samples), share, *o.maxMissShare);
    return text;
}

}  // namespace dunsmere
