#include "app/mesh/import_stream.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

namespace {

constexpr char kMagic[4] = {'D', 'S', 'M', 'I'};
constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kScene = 1, kError = 2;
constexpr size_t kHeaderBytes = 4 + 4 + 4 + 8;
// The Mesh counts in int.
constexpr std::uint32_t kMaxCount = INT_MAX;
constexpr std::uint32_t kMaxMaterial = 0xFFFF;

class Writer {
public:
    template <class T>
    void Put(const T& value)
    {
        out_.append(reinterpret_cast<const char*>(&value), sizeof value);
    }
    void PutCount(size_t n) { Put(static_cast<std::uint32_t>(n)); }
    void PutPoints(const std::vector<Point3>& points)
    {
        for (const Point3& p : points) {
            Put(p.x);
            Put(p.y);
            Put(p.z);
        }
    }
    void PutBytes(std::string_view bytes) { out_.append(bytes); }
    std::string& Text() { return out_; }

private:
    std::string out_;
};

std::string Framed(std::uint32_t kind, std::string_view payload)
{
    Writer w;
    w.PutBytes(std::string_view(kMagic, sizeof kMagic));
    w.Put(kVersion);
    w.Put(kind);
    w.Put(static_cast<std::uint64_t>(payload.size()));
    w.PutBytes(payload);
    return std::move(w.Text());
}

// Reads the payload front to back; every read is checked against what is
// left, so no count read from the stream allocates more than the stream holds.
class Reader {
public:
    Reader(std::string_view bytes, const std::string& path) : rest_(bytes), path_(path) {}

    [[noreturn]] void Fail(const std::string& why) const { throw MeshFileError(path_, why); }
    [[noreturn]] void Malformed(const std::string& why) const
    {
        Fail("could not be read (the importer's answer " + why + ")");
    }

    template <class T>
    T Get()
    {
        T value;
        std::memcpy(&value, Take(sizeof value).data(), sizeof value);
        return value;
    }
    std::string_view Take(size_t n)
    {
        if (n > rest_.size()) Malformed("is cut short");
        const std::string_view taken = rest_.substr(0, n);
        rest_.remove_prefix(n);
        return taken;
    }
    // A count of items of ITEM bytes each, all of which must still be there.
    size_t Count(size_t item)
    {
        const std::uint32_t n = Get<std::uint32_t>();
        if (n > kMaxCount) Fail("too many vertices or faces");
        if (item > 0 && n > rest_.size() / item) Malformed("is cut short");
        return n;
    }
    void Points(std::vector<Point3>& out, size_t n, const char* what)
    {
        if (n > rest_.size() / 12) Malformed("is cut short");
        out.resize(n);
        for (size_t i = 0; i < n; ++i) {
            Point3& p = out[i];
            p.x = Get<float>();
            p.y = Get<float>();
            p.z = Get<float>();
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
                Fail(std::string(what) + " " + std::to_string(i) + " has a " +
                     (std::string(what) == "vertex" ? "coordinate" : "component") + " that is not a finite number");
        }
    }
    size_t Left() const { return rest_.size(); }

private:
    std::string_view rest_;
    const std::string& path_;
};

}  // namespace

std::string EncodeImportedScene(const ImportedScene& scene)
{
    Writer w;
    w.PutCount(scene.verts.size());
    w.PutPoints(scene.verts);
    w.PutCount(scene.triangles.size());
    for (const ImportedTriangle& t : scene.triangles) {
        for (std::uint32_t v : t.v) w.Put(v);
        for (std::uint32_t v : t.flat) w.Put(v);
        w.Put(t.material);
    }
    w.Put(scene.flatCount);
    std::uint32_t mask = 0;
    for (unsigned k = 0; k < kImportUVSets; ++k)
        if (!scene.uvs[k].empty()) mask |= 1u << k;
    w.Put(mask);
    for (unsigned k = 0; k < kImportUVSets; ++k) w.PutPoints(scene.uvs[k]);
    w.Put(static_cast<std::uint32_t>(scene.colors.empty() ? 0 : 1));
    w.PutPoints(scene.colors);
    w.Put(static_cast<std::uint32_t>(scene.normals.empty() ? 0 : 1));
    w.PutPoints(scene.normals);
    w.PutCount(scene.materialNames.size());
    for (const std::string& name : scene.materialNames) {
        w.PutCount(name.size());
        w.PutBytes(name);
    }
    w.Put(scene.ignoredPrimitives);
    return Framed(kScene, w.Text());
}

std::string EncodeImportError(std::string_view message) { return Framed(kError, message); }

ImportedScene DecodeImportAnswer(std::string_view bytes, const std::string& path)
{
    Reader header(bytes.substr(0, kHeaderBytes), path);
    if (bytes.size() < kHeaderBytes) header.Malformed("is cut short");
    if (std::memcmp(header.Take(sizeof kMagic).data(), kMagic, sizeof kMagic) != 0) header.Malformed("is not one");
    const auto version = header.Get<std::uint32_t>();
    if (version != kVersion)
        header.Malformed("is of version " + std::to_string(version) + ", not " + std::to_string(kVersion));
    const auto kind = header.Get<std::uint32_t>();
    const auto length = header.Get<std::uint64_t>();
    const std::string_view payload = bytes.substr(kHeaderBytes);
    if (length > payload.size()) header.Malformed("is cut short");
    if (length < payload.size())
        header.Malformed("has " + std::to_string(payload.size() - length) + " bytes too many");
    if (kind == kError) throw MeshFileError(path, std::string(payload));
    if (kind != kScene) header.Malformed("is of unknown kind " + std::to_string(kind));

    Reader in(payload, path);
    ImportedScene scene;
    in.Points(scene.verts, in.Count(12), "vertex");
    scene.triangles.resize(in.Count(28));
    for (size_t f = 0; f < scene.triangles.size(); ++f) {
        ImportedTriangle& t = scene.triangles[f];
        for (std::uint32_t& v : t.v) {
            v = in.Get<std::uint32_t>();
            if (v >= scene.verts.size())
                in.Fail("face " + std::to_string(f) + " uses vertex " + std::to_string(v) + " of " +
                        std::to_string(scene.verts.size()));
        }
        for (std::uint32_t& v : t.flat) v = in.Get<std::uint32_t>();
        t.material = in.Get<std::uint32_t>();
        if (t.material > kMaxMaterial) in.Fail("material index " + std::to_string(t.material) + " too large");
    }
    scene.flatCount = in.Get<std::uint32_t>();
    if (scene.flatCount > kMaxCount) in.Fail("too many vertices or faces");
    // The corner indices are checked once the count they index is known.
    for (size_t f = 0; f < scene.triangles.size(); ++f)
        for (std::uint32_t v : scene.triangles[f].flat)
            if (v >= scene.flatCount)
                in.Fail("face " + std::to_string(f) + " uses corner vertex " + std::to_string(v) + " of " +
                        std::to_string(scene.flatCount));
    const auto mask = in.Get<std::uint32_t>();
    if (mask >> kImportUVSets) in.Malformed("names UV sets that do not exist");
    for (unsigned k = 0; k < kImportUVSets; ++k)
        if (mask & (1u << k)) in.Points(scene.uvs[k], scene.flatCount, "map vertex");
    const auto colored = in.Get<std::uint32_t>();
    if (colored > 1) in.Malformed("has a colour flag of " + std::to_string(colored));
    if (colored) in.Points(scene.colors, scene.flatCount, "colour vertex");
    const auto normaled = in.Get<std::uint32_t>();
    if (normaled > 1) in.Malformed("has a normal flag of " + std::to_string(normaled));
    if (normaled) in.Points(scene.normals, scene.flatCount, "normal");
    scene.materialNames.resize(in.Count(4));
    for (std::string& name : scene.materialNames) name = in.Take(in.Count(1));
    scene.ignoredPrimitives = in.Get<std::uint64_t>();
    if (in.Left() > 0) in.Malformed("has " + std::to_string(in.Left()) + " bytes too many");
    if (scene.triangles.empty()) in.Fail("no triangles");
    return scene;
}

}  // namespace dunsmere
