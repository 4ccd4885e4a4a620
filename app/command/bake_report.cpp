#include "app/command/bake_report.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <fstream>

namespace dunsmere {

namespace {

// A settings value as JSON: a number when the whole text is one, else text.
nlohmann::ordered_json SettingValue(const std::string& text)
{
    long long whole = 0;
    const char* end = text.data() + text.size();
    if (auto [at, ec] = std::from_chars(text.data(), end, whole); ec == std::errc() && at == end && !text.empty())
        return whole;
    double real = 0.0;
    if (auto [at, ec] = std::from_chars(text.data(), end, real); ec == std::errc() && at == end && !text.empty())
        return real;
    return text;
}

// 2^K, a whole number where it is one.
nlohmann::ordered_json DistanceScale(int k)
{
    if (k >= 0 && k < 63) return std::int64_t{1} << k;
    return std::ldexp(1.0, k);
}

nlohmann::ordered_json ValuesJson(const BakeReport::Values& v)
{
    if (!v.known) return nullptr;
    return {{"min", v.min}, {"max", v.max}, {"mean", v.mean}};
}

}  // namespace

BakeReport::Faces CountFaces(const Mesh& mesh, const MapFaceFilter& filter, bool map)
{
    BakeReport::Faces faces;
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        const FaceExclusion why = map ? MapFaceExclusion(mesh, filter, f)
                                      : filter.selectedOnly && !mesh.faceSel[f] ? FaceExclusion::kNotSelected
                                                                                : FaceExclusion::kBaked;
        switch (why) {
        case FaceExclusion::kBaked: ++faces.baked; break;
        case FaceExclusion::kNotSelected: ++faces.notSelected; break;
        case FaceExclusion::kOtherMaterial: ++faces.otherMaterial; break;
        case FaceExclusion::kNoMapChannel:
        case FaceExclusion::kMapIndexOutOfRange:
        case FaceExclusion::kOutsideUnitSquare: ++faces.outOfRange; break;
        }
    }
    return faces;
}

BakeReport::Values CornerValues(const Mesh& mesh, bool selectedOnly)
{
    BakeReport::Values v;
    const VertColor* colours = mesh.vertCol();
    const TVFace* faces = mesh.vcFace();
    if (!colours || !faces) return v;
    double sum = 0.0;
    long long n = 0;
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        if (selectedOnly && !mesh.faceSel[f]) continue;
        for (const DWORD c : faces[f].t) {
            if (c >= static_cast<DWORD>(mesh.getNumVertCol())) continue;
            const double grey = static_cast<double>(colours[c].x);
            v.min = n == 0 ? grey : std::min(v.min, grey);
            v.max = n == 0 ? grey : std::max(v.max, grey);
            sum += grey;
            ++n;
        }
    }
    v.known = n > 0;
    v.mean = n > 0 ? sum / static_cast<double>(n) : 0.0;
    return v;
}

std::vector<std::pair<std::string, std::string>> SettingsKeys(const std::string& file)
{
    std::vector<std::pair<std::string, std::string>> keys;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::size_t eq = line.find('=');
        if (line.empty() || line[0] == '[' || line[0] == ';' || eq == std::string::npos) continue;
        keys.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    }
    return keys;
}

std::string BakeReportsJson(const std::vector<BakeReport>& reports)
{
    nlohmann::ordered_json all = nlohmann::ordered_json::array();
    for (const BakeReport& r : reports) {
        nlohmann::ordered_json settings = nlohmann::ordered_json::object();
        for (const auto& [key, text] : r.settings) {
            if (text.empty()) continue;
            settings[key] = SettingValue(text);
            // The user's distance, with the scale the panel's dist holds it at.
            if (key == "distance") settings["distanceScale"] = DistanceScale(r.distanceExponent);
        }
        nlohmann::ordered_json faces = {{"baked", r.faces.baked},
                                        {"notSelected", r.faces.notSelected},
                                        {"otherMaterial", r.faces.otherMaterial},
                                        {"outOfRange", r.faces.outOfRange}};
        if (r.tiled) faces["crossingTiles"] = r.crossingFaces;
        all.push_back({{"inputs", r.inputs},
                       {"outputs", r.outputs},
                       {"settings", settings},
                       {"faces", faces},
                       {"value", ValuesJson(r.value)},
                       {"seconds", {{"load", r.seconds.load}, {"bake", r.seconds.bake}, {"write", r.seconds.write}}},
                       {"status", r.status},
                       {"error", r.error.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(r.error)}});
        if (r.projection.known)
            all.back()["projection"] = {{"samples", r.projection.samples}, {"missed", r.projection.missed}};
        if (!r.tiled) continue;
        nlohmann::ordered_json tiles = nlohmann::ordered_json::array();
        for (const BakeReport::Tile& t : r.tiles)
            tiles.push_back({{"tile", t.tile},
                             {"output", t.output.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(t.output)},
                             {"faces", t.faces},
                             {"value", ValuesJson(t.value)}});
        all.back()["tiles"] = tiles;
    }
    return all.dump(2) + "\n";
}

}  // namespace dunsmere
