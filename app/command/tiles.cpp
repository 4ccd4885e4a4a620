#include "app/command/tiles.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <string_view>

#include "app/mesh/uv_cover.h"

namespace dunsmere {

namespace {

constexpr std::string_view kTileTokens[] = {"<UDIM>", "{udim}"};

// The tiles along one axis, 0 to COUNT - 1, whose shift by -k brings all of
// A, B and C within the map's range. Only the tiles next to A's own can.
std::vector<int> AxisTiles(float a, float b, float c, int count)
{
    std::vector<int> found;
    if (!(a > -2.0f && a < static_cast<float>(count) + 2.0f)) return found;  // NaN too
    const int near = static_cast<int>(std::floor(a));
    for (int k = std::max(0, near - 1); k <= std::min(count - 1, near + 1); ++k) {
        const float shift = static_cast<float>(k);
        if (InMapRange(a - shift) && InMapRange(b - shift) && InMapRange(c - shift)) found.push_back(k);
    }
    return found;
}

// Whether one corner lies in some tile, alone.
bool CornerInTiles(const UVVert& t)
{
    return !AxisTiles(t.x, t.x, t.x, kTileColumns).empty() && !AxisTiles(t.y, t.y, t.y, kTileRows).empty();
}

}  // namespace

bool NamesTile(const std::string& pattern)
{
    return std::any_of(std::begin(kTileTokens), std::end(kTileTokens),
                       [&](std::string_view token) { return pattern.find(token) != std::string::npos; });
}

std::string TileOutput(const std::string& pattern, int tile)
{
    std::string out = pattern;
    const std::string number = std::to_string(tile);
    for (const std::string_view token : kTileTokens)
        for (std::size_t at = out.find(token); at != std::string::npos; at = out.find(token, at + number.size()))
            out.replace(at, token.size(), number);
    return out;
}

std::optional<std::vector<int>> ParseTiles(const std::string& text)
{
    std::vector<int> tiles;
    std::string_view rest = text;
    const auto number = [](std::string_view s, int& n) {
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
        return ec == std::errc() && end == s.data() + s.size() && n >= kFirstTile && n <= kLastTile;
    };
    while (true) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const std::size_t dash = item.find('-');
        int first = 0, last = 0;
        if (!number(item.substr(0, dash), first)) return std::nullopt;
        last = first;
        if (dash != std::string_view::npos && (!number(item.substr(dash + 1), last) || last < first))
            return std::nullopt;
        for (int t = first; t <= last; ++t) tiles.push_back(t);
        if (comma == std::string_view::npos) break;
        rest = rest.substr(comma + 1);
    }
    std::sort(tiles.begin(), tiles.end());
    tiles.erase(std::unique(tiles.begin(), tiles.end()), tiles.end());
    return tiles;
}

std::vector<int> TilesOfFace(const UVVert& t0, const UVVert& t1, const UVVert& t2)
{
    std::vector<int> tiles;
    for (const int v : AxisTiles(t0.y, t1.y, t2.y, kTileRows))
        for (const int u : AxisTiles(t0.x, t1.x, t2.x, kTileColumns)) tiles.push_back(TileNumber(u, v));
    return tiles;
}

TileSplit SplitByTile(const Mesh& mesh, const MapFaceFilter& filter)
{
    TileSplit split;
    std::map<int, int> faces;  // by tile
    const UVVert* tv = mesh.mapVerts(filter.mapChannel);
    const TVFace* tf = mesh.mapFaces(filter.mapChannel);
    for (int f = 0; f < mesh.getNumFaces(); ++f) {
        switch (MapFaceExclusion(mesh, filter, f)) {
        case FaceExclusion::kNotSelected: ++split.notSelected; continue;
        case FaceExclusion::kOtherMaterial: ++split.otherMaterial; continue;
        case FaceExclusion::kNoMapChannel:
        case FaceExclusion::kMapIndexOutOfRange: ++split.outOfRange; continue;
        case FaceExclusion::kBaked:
        case FaceExclusion::kOutsideUnitSquare: break;
        }
        const TVFace& m = tf[f];
        const std::vector<int> tiles = TilesOfFace(tv[m.t[0]], tv[m.t[1]], tv[m.t[2]]);
        for (const int tile : tiles) ++faces[tile];
        if (!tiles.empty())
            ++split.baked;
        else if (CornerInTiles(tv[m.t[0]]) && CornerInTiles(tv[m.t[1]]) && CornerInTiles(tv[m.t[2]]))
            ++split.crossing;
        else
            ++split.outOfRange;
    }
    for (const auto& [tile, n] : faces) split.tiles.push_back({tile, n});
    return split;
}

int FacesInTile(const TileSplit& split, int tile)
{
    for (const TileSplit::Tile& t : split.tiles)
        if (t.tile == tile) return t.faces;
    return 0;
}

bool UsesTiles(const TileSplit& split)
{
    return std::any_of(split.tiles.begin(), split.tiles.end(),
                       [](const TileSplit::Tile& t) { return t.tile != kFirstTile; });
}

std::vector<double> TileCoverages(const Mesh& mesh, int channel, const TileSplit& split)
{
    std::vector<double> coverages;
    if (split.tiles.empty()) return coverages;
    // One copy, shifted onto each tile in turn; a face of another tile
    // keeps no area, so that a crossing face's part in the square counts
    // no more than the bake rasterizes it.
    Mesh copy = mesh;
    const TVFace* faces = mesh.mapFaces(channel);
    const UVVert* tv = mesh.mapVerts(channel);
    TVFace* shiftedFaces = copy.mapFaces(channel);
    TileShift shift(copy, channel);
    for (const TileSplit::Tile& t : split.tiles) {
        shift.To(t.tile);
        for (int f = 0; f < mesh.getNumFaces(); ++f) {
            const TVFace& m = faces[f];
            const std::vector<int> tiles =
                MapFaceExclusion(mesh, {channel}, f) == FaceExclusion::kMapIndexOutOfRange
                    ? std::vector<int>{}
                    : TilesOfFace(tv[m.t[0]], tv[m.t[1]], tv[m.t[2]]);
            const bool in = std::find(tiles.begin(), tiles.end(), t.tile) != tiles.end();
            shiftedFaces[f] = m;
            if (!in) shiftedFaces[f].setTVerts(m.t[0], m.t[0], m.t[0]);
        }
        coverages.push_back(UvCoverage(copy, channel));
    }
    return coverages;
}

TileShift::TileShift(Mesh& mesh, int channel) : mesh_(mesh), channel_(channel)
{
    const UVVert* tv = mesh.mapVerts(channel);
    if (tv) original_.assign(tv, tv + std::max(0, mesh.getNumMapVerts(channel)));
}

TileShift::~TileShift()
{
    if (!original_.empty()) std::copy(original_.begin(), original_.end(), mesh_.mapVerts(channel_));
}

void TileShift::To(int tile)
{
    UVVert* tv = mesh_.mapVerts(channel_);
    const float du = static_cast<float>(TileU(tile)), dv = static_cast<float>(TileV(tile));
    for (std::size_t i = 0; i < original_.size(); ++i)
        tv[i] = UVVert(original_[i].x - du, original_[i].y - dv, original_[i].z);
}

}  // namespace dunsmere
