#include "high_low_pair.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace {

// The torus: quads around the ring and around the tube, twice as many
// around the ring as it is twice as long at the middle of the tube.
constexpr int kRing = 160, kTube = 80;
constexpr double kRingRadius = 2.0, kTubeRadius = 1.0;
// Kept free on every side of the one chart.
constexpr double kUvMargin = 0.01;
constexpr int kCuts = 10;  // each low triangle into kCuts^2
// Of the low's bounding-box diagonal: the most the high surface moves.
constexpr double kBumpShare = 0.01;

// Waves over the position, in cycles per diagonal; the weights sum to 1,
// so the bump stays within +-kBumpShare of the diagonal. The steepest
// slopes add up to about 0.5: no high face turns its back on the low.
struct Wave {
    double axis[3];
    double cycles, phase, weight;
};
constexpr Wave kWaves[] = {
    {{0.6, 0.8, 0.0}, 2.0, 0.3, 0.35},   {{-0.48, 0.36, 0.8}, 5.0, 1.7, 0.25}, {{0.0, -0.6, 0.8}, 9.0, 4.1, 0.20},
    {{0.8, 0.0, -0.6}, 17.0, 2.9, 0.12}, {{0.36, -0.48, 0.8}, 31.0, 5.3, 0.08},
};

struct Vec {
    double x = 0.0, y = 0.0, z = 0.0;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
Vec Cross(Vec a, Vec b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double Length(Vec a) { return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z); }
Vec Unit(Vec a)
{
    const double len = Length(a);
    return len > 0.0 ? (1.0 / len) * a : a;
}
// The float the reader will hold, so that the high surface is built on the
// low faces a bake sees.
Vec AsFloats(Vec a)
{
    const auto f = [](double x) { return static_cast<double>(static_cast<float>(x)); };
    return {f(a.x), f(a.y), f(a.z)};
}

struct Low {
    std::vector<Vec> points, normals;  // normals: averaged, area-weighted
    std::vector<int> faces;            // 3 per face, zero-based
    std::vector<int> uvFaces;          // into the (kRing + 1) x (kTube + 1) UV grid
    double diagonal = 0.0;
};

Low MakeLow()
{
    Low low;
    constexpr double kTurn = 6.283185307179586;
    for (int j = 0; j < kTube; ++j)
        for (int i = 0; i < kRing; ++i) {
            const double a = kTurn * i / kRing, b = kTurn * j / kTube;
            const double r = kRingRadius + kTubeRadius * std::cos(b);
            low.points.push_back(AsFloats({r * std::cos(a), r * std::sin(a), kTubeRadius * std::sin(b)}));
        }
    for (int j = 0; j < kTube; ++j)
        for (int i = 0; i < kRing; ++i) {
            // Seen from outside, ring then tube turns anticlockwise.
            const int p[4] = {j * kRing + i, j * kRing + (i + 1) % kRing, (j + 1) % kTube * kRing + (i + 1) % kRing,
                              (j + 1) % kTube * kRing + i};
            const int t[4] = {j * (kRing + 1) + i, j * (kRing + 1) + i + 1, (j + 1) * (kRing + 1) + i + 1,
                              (j + 1) * (kRing + 1) + i};
            for (const int k : {0, 1, 2, 0, 2, 3}) {
                low.faces.push_back(p[k]);
                low.uvFaces.push_back(t[k]);
            }
        }
    low.normals.assign(low.points.size(), Vec{});
    for (size_t f = 0; f < low.faces.size(); f += 3) {
        const int a = low.faces[f], b = low.faces[f + 1], c = low.faces[f + 2];
        const Vec& pa = low.points[static_cast<size_t>(a)];
        const Vec n = Cross(low.points[static_cast<size_t>(b)] - pa, low.points[static_cast<size_t>(c)] - pa);
        for (const int v : {a, b, c}) low.normals[static_cast<size_t>(v)] = low.normals[static_cast<size_t>(v)] + n;
    }
    Vec lo = low.points[0], hi = low.points[0];
    for (Vec& n : low.normals) n = Unit(n);
    for (const Vec& p : low.points) {
        lo = {std::min(lo.x, p.x), std::min(lo.y, p.y), std::min(lo.z, p.z)};
        hi = {std::max(hi.x, p.x), std::max(hi.y, p.y), std::max(hi.z, p.z)};
    }
    low.diagonal = Length(hi - lo);
    return low;
}

double Bump(Vec p, double diagonal)
{
    double h = 0.0;
    for (const Wave& w : kWaves) {
        const double along = (w.axis[0] * p.x + w.axis[1] * p.y + w.axis[2] * p.z) / diagonal;
        h += w.weight * std::sin(6.283185307179586 * w.cycles * along + w.phase);
    }
    return kBumpShare * diagonal * h;
}

// Text built in a buffer and written in large pieces: about 100 MB of OBJ
// in a second or so, where fprintf takes several.
class ObjText {
public:
    explicit ObjText(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb"))
    {
        if (!file_) throw std::runtime_error("cannot write " + path);
        text_.reserve(kPiece + 256);
    }
    ~ObjText()
    {
        if (file_) std::fclose(file_);
    }
    ObjText(const ObjText&) = delete;
    ObjText& operator=(const ObjText&) = delete;

    void Put(std::string_view s) { text_ += s; }
    void Put(float x) { Number(x); }
    void Put(int x) { Number(x); }
    // Ends a line; the buffer goes to the file once it holds a piece.
    void End()
    {
        text_ += '\n';
        if (text_.size() >= kPiece) Spill();
    }
    void Close()
    {
        Spill();
        const bool failed = std::ferror(file_) != 0;
        if (std::fclose(file_) != 0 || failed) {
            file_ = nullptr;
            throw std::runtime_error("cannot write " + path_);
        }
        file_ = nullptr;
    }

private:
    static constexpr size_t kPiece = size_t{1} << 22;
    template <class T>
    void Number(T x)
    {
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, x).ptr;
        text_ += ' ';
        text_.append(digits, end);
    }
    void Spill()
    {
        if (std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size())
            throw std::runtime_error("cannot write " + path_);
        text_.clear();
    }

    std::string path_;
    std::FILE* file_;
    std::string text_;
};

void PutPoint(ObjText& out, Vec p)
{
    out.Put("v");
    out.Put(static_cast<float>(p.x));
    out.Put(static_cast<float>(p.y));
    out.Put(static_cast<float>(p.z));
    out.End();
}

void WriteLow(const Low& low, const std::string& path)
{
    ObjText out(path);
    out.Put("# bench pair, low: torus of " + std::to_string(kRing) + " x " + std::to_string(kTube) +
            " quads, one UV chart");
    out.End();
    out.Put("o low");
    out.End();
    for (const Vec& p : low.points) PutPoint(out, p);
    const double span = 1.0 - 2.0 * kUvMargin;
    for (int j = 0; j <= kTube; ++j)
        for (int i = 0; i <= kRing; ++i) {
            out.Put("vt");
            out.Put(static_cast<float>(kUvMargin + span * i / kRing));
            out.Put(static_cast<float>(kUvMargin + span * j / kTube));
            out.End();
        }
    out.Put("s 1");
    out.End();
    for (size_t f = 0; f < low.faces.size(); f += 3) {
        out.Put("f");
        for (size_t k = f; k < f + 3; ++k) {
            out.Put(low.faces[k] + 1);
            out.Put("/");
            // Put(int) leads with a space: the index goes in by hand.
            char digits[16];
            out.Put(std::string_view(digits, std::to_chars(digits, digits + sizeof digits, low.uvFaces[k] + 1).ptr));
        }
        out.End();
    }
    out.Close();
}

// The high vertices: the low's first, then each low edge's kCuts - 1 inner
// points from its lower-numbered end, made by the first face that reaches
// the edge, then each face's inner points. Every point lies on its low face
// and moves along the low's averaged normal interpolated there.
class HighPoints {
public:
    explicit HighPoints(const Low& low) : low_(low)
    {
        for (size_t v = 0; v < low.points.size(); ++v) Add(static_cast<int>(v), static_cast<int>(v), 0, 0.0, 0.0);
    }

    // Point `step` of kCuts from low vertex u towards v.
    int OnEdge(int u, int v, int step)
    {
        const int from = std::min(u, v), to = std::max(u, v);
        const std::uint64_t key = static_cast<std::uint64_t>(from) << 32 | static_cast<std::uint32_t>(to);
        auto [it, fresh] = edges_.try_emplace(key, static_cast<int>(points_.size() / 3));
        if (fresh)
            for (int s = 1; s < kCuts; ++s) Add(from, to, from, static_cast<double>(s) / kCuts, 0.0);
        return it->second + (u == from ? step : kCuts - step) - 1;
    }

    // The point a + wb (b - a) + wc (c - a) of a low face.
    int Add(int a, int b, int c, double wb, double wc)
    {
        const auto at = [](const std::vector<Vec>& v, int i) { return v[static_cast<size_t>(i)]; };
        const Vec pa = at(low_.points, a), na = at(low_.normals, a);
        const Vec p = pa + wb * (at(low_.points, b) - pa) + wc * (at(low_.points, c) - pa);
        const Vec n = Unit(na + wb * (at(low_.normals, b) - na) + wc * (at(low_.normals, c) - na));
        const Vec moved = p + Bump(p, low_.diagonal) * n;
        points_.insert(points_.end(), {static_cast<float>(moved.x), static_cast<float>(moved.y),
                                       static_cast<float>(moved.z)});
        return static_cast<int>(points_.size() / 3) - 1;
    }

    const std::vector<float>& Points() const { return points_; }

private:
    const Low& low_;
    std::vector<float> points_;
    std::unordered_map<std::uint64_t, int> edges_;
};

std::vector<int> SubdivideLow(const Low& low, HighPoints& points)
{
    std::vector<int> faces;
    faces.reserve(low.faces.size() * kCuts * kCuts);
    // A face's lattice: point (i, j) is a + i/kCuts (b - a) + j/kCuts (c - a).
    std::vector<int> lattice(static_cast<size_t>((kCuts + 1) * (kCuts + 1)));
    const auto at = [&lattice](int i, int j) -> int& { return lattice[static_cast<size_t>(j * (kCuts + 1) + i)]; };
    for (size_t f = 0; f < low.faces.size(); f += 3) {
        const int a = low.faces[f], b = low.faces[f + 1], c = low.faces[f + 2];
        for (int j = 0; j <= kCuts; ++j)
            for (int i = 0; i + j <= kCuts; ++i) {
                if (i == 0 && j == 0) at(i, j) = a;
                else if (i == kCuts) at(i, j) = b;
                else if (j == kCuts) at(i, j) = c;
                else if (j == 0) at(i, j) = points.OnEdge(a, b, i);
                else if (i == 0) at(i, j) = points.OnEdge(a, c, j);
                else if (i + j == kCuts) at(i, j) = points.OnEdge(b, c, j);
                else at(i, j) = points.Add(a, b, c, static_cast<double>(i) / kCuts, static_cast<double>(j) / kCuts);
            }
        // Both kinds of small triangle keep the low face's winding.
        for (int j = 0; j < kCuts; ++j)
            for (int i = 0; i + j < kCuts; ++i) {
                faces.insert(faces.end(), {at(i, j), at(i + 1, j), at(i, j + 1)});
                if (i + j + 1 < kCuts) faces.insert(faces.end(), {at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)});
            }
    }
    return faces;
}

void WriteHigh(const std::vector<float>& points, const std::vector<int>& faces, const std::string& path)
{
    ObjText out(path);
    out.Put("# bench pair, high: the low cut " + std::to_string(kCuts) + " x " + std::to_string(kCuts) +
            " per face, pushed along its averaged normals by waves");
    out.End();
    out.Put("o high");
    out.End();
    for (size_t v = 0; v < points.size(); v += 3) {
        out.Put("v");
        for (size_t k = v; k < v + 3; ++k) out.Put(points[k]);
        out.End();
    }
    out.Put("s 1");
    out.End();
    for (size_t f = 0; f < faces.size(); f += 3) {
        out.Put("f");
        for (size_t k = f; k < f + 3; ++k) out.Put(faces[k] + 1);
        out.End();
    }
    out.Close();
}

}  // namespace

HighLowPair WriteHighLowPair(const std::string& dir)
{
    std::filesystem::create_directories(dir);
    HighLowPair pair;
    pair.low = (std::filesystem::path(dir) / "high-low-low.obj").string();
    pair.high = (std::filesystem::path(dir) / "high-low-high.obj").string();
    const Low low = MakeLow();
    WriteLow(low, pair.low);
    pair.lowFaces = static_cast<int>(low.faces.size() / 3);
    std::vector<int> faces;
    {
        HighPoints points(low);
        faces = SubdivideLow(low, points);
        WriteHigh(points.Points(), faces, pair.high);
    }
    pair.highFaces = static_cast<int>(faces.size() / 3);
    return pair;
}
