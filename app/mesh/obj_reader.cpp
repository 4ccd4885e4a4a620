// Wavefront OBJ, read by our own line reader: general OBJ libraries read a
// malformed number as 0, only warn about bad indices, split polygons their own
// way and renumber materials through the .mtl file, and a bake must not run
// on a mesh that differs from the file. Anything this reader cannot take
// exactly is an error naming the file and the line.
//
// Choices beyond the format's usual rules:
// - A comment runs from the first '#' to the end of its physical line; a
//   backslash ending what is left continues the line onto the next one, as
//   if it were a blank. Errors name the first physical line of a continued
//   line. A UTF-8 byte-order mark at the start is skipped.
// - Numbers are read as the nearest float, in any locale; one too small for
//   a float reads as a zero of its sign, one too large is an error.
// - `v` takes three numbers or six (a colour); `vt` one to three; `vn` three.
// - Indices must refer to lines that came before the face.
// - The corners of one face use one index form.
// - Map channel 1 exists exactly when the file has a `vt` line, so the map
//   face (0, 0, 0) of a face without texture indices always refers to a map
//   vertex, the file's first.
// - A polygon keeps its fan from the first corner where that fan covers it
//   exactly, and is ear-clipped otherwise (app/mesh/polygon.h); one that
//   cannot be triangulated is an error.
// - Normals are kept only for writing back; the mesh has no place for them.
// - `usemtl` takes the rest of its line as the name, blanks inside included.

#include <algorithm>
#include <array>
#include <charconv>
#include <climits>
#include <cmath>
#include <optional>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/obj_parser.h"
#include "app/mesh/polygon.h"
#include "app/mesh/whole_file.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

namespace {

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsObjBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsObjBlank(s.back())) s.remove_suffix(1);
    return s;
}

void SplitBlanks(std::string_view line, std::vector<std::string_view>& tokens)
{
    tokens.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsObjBlank(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !IsObjBlank(line[i])) ++i;
        if (i > start) tokens.push_back(line.substr(start, i - start));
    }
}

// A token quoted for a message; a long or binary one is cut short.
std::string Quote(std::string_view token)
{
    std::string q = "'";
    for (char c : token.substr(0, 40)) q.push_back(c >= ' ' && c < 127 ? c : '?');
    if (token.size() > 40) q += "...";
    return q + "'";
}

}  // namespace

void ObjParser::ParseLine(int number, std::string_view line)
{
    line_ = number;
    Split(line);
    if (tokens_.empty()) return;
    switch (ObjKeyOf(tokens_[0])) {
    case ObjKey::kVertex: Vertex(); break;
    case ObjKey::kTexture:
        if (uvs_.size() >= INT_MAX) Fail("too many texture vertices");
        uvs_.push_back(TextureValues());
        break;
    case ObjKey::kNormal:
        if (normals_.size() >= INT_MAX) Fail("too many normals");
        normals_.push_back(NormalValues());
        break;
    default:
        vertsAt_ = verts_.data();
        Other(line, {verts_.size(), uvs_.size(), normals_.size()});
        break;
    }
}

void ObjParser::Split(std::string_view line) { SplitBlanks(line, tokens_); }

void ObjParser::Other(std::string_view line, const ObjCounts& counts)
{
    switch (ObjKeyOf(tokens_[0])) {
    case ObjKey::kFace: Polygon(counts); break;
    case ObjKey::kSmoothing: Smoothing(line); break;
    case ObjKey::kMaterial: Material(line); break;
    case ObjKey::kKept: Keep(line); break;
    default: break;
    }
}

void ObjParser::Keep(std::string_view line)
{
    lines_.push_back({static_cast<int>(faces_.size()), std::string(Trim(line))});
}

float ObjParser::Number(std::string_view token) const
{
    std::string_view s = token;
    // from_chars takes no plus sign; other writers put one.
    if (s.size() > 1 && s[0] == '+' && s[1] != '-' && s[1] != '+') s.remove_prefix(1);
    const char* end = s.data() + s.size();
    float value = 0.0f;
    const auto parsed = std::from_chars(s.data(), end, value);
    if (parsed.ptr == end && parsed.ec == std::errc::result_out_of_range) {
        // Below the smallest float the nearest float is zero; above the
        // largest there is none.
        double wide = 0.0;
        const auto again = std::from_chars(s.data(), end, wide);
        if (again.ec == std::errc() && std::fabs(wide) < 1.0) return static_cast<float>(wide);
        Fail("number out of range: " + Quote(token));
    }
    if (parsed.ec != std::errc() || parsed.ptr != end) Fail("not a number: " + Quote(token));
    if (!std::isfinite(value)) Fail("not a finite number: " + Quote(token));
    return value;
}

DWORD ObjParser::Index(std::string_view token, size_t count, const char* what) const
{
    long long n = 0;
    const char* end = token.data() + token.size();
    const auto parsed = std::from_chars(token.data(), end, n);
    if (parsed.ec != std::errc() || parsed.ptr != end) Fail(std::string("bad ") + what + " index " + Quote(token));
    if (n == 0) Fail(std::string(what) + " index 0 (indices start at 1)");
    // Negative indices count back from the last one defined so far.
    const long long zero = n > 0 ? n - 1 : static_cast<long long>(count) + n;
    if (zero < 0 || zero >= static_cast<long long>(count))
        Fail(std::string(what) + " index " + std::string(token) + " is out of range (" + std::to_string(count) +
             " defined so far)");
    return static_cast<DWORD>(zero);
}

ObjCorner ObjParser::ParseCorner(std::string_view token, const ObjCounts& counts, bool& uv, bool& normal) const
{
    std::string_view parts[3];
    int count = 0;
    for (size_t start = 0;;) {
        if (count == 3) Fail("bad face corner " + Quote(token));
        const size_t slash = token.find('/', start);
        parts[count++] = token.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
    // v, v/vt, v/vt/vn or v//vn.
    if (parts[0].empty() || (count == 2 && parts[1].empty()) || (count == 3 && parts[2].empty()))
        Fail("bad face corner " + Quote(token));
    uv = count >= 2 && !parts[1].empty();
    normal = count == 3;
    ObjCorner c;
    c.v = Index(parts[0], counts.v, "vertex");
    if (uv) {
        if (counts.t == 0) Fail("the face has texture indices but no vt line came before it");
        c.t = Index(parts[1], counts.t, "texture vertex");
    }
    if (normal) c.n = static_cast<int>(Index(parts[2], counts.n, "normal"));
    return c;
}

bool ObjParser::VertexValues(Point3& position, VertColor& color) const
{
    if (tokens_.size() != 4 && tokens_.size() != 7) Fail("v needs x y z, or x y z r g b");
    position = {Number(tokens_[1]), Number(tokens_[2]), Number(tokens_[3])};
    if (tokens_.size() != 7) return false;
    color = {Number(tokens_[4]), Number(tokens_[5]), Number(tokens_[6])};
    return true;
}

UVVert ObjParser::TextureValues() const
{
    if (tokens_.size() < 2 || tokens_.size() > 4) Fail("vt needs u, u v or u v w");
    UVVert uv;
    uv.x = Number(tokens_[1]);
    if (tokens_.size() > 2) uv.y = Number(tokens_[2]);
    if (tokens_.size() > 3) uv.z = Number(tokens_[3]);
    return uv;
}

Point3 ObjParser::NormalValues() const
{
    if (tokens_.size() != 4) Fail("vn needs x y z");
    return {Number(tokens_[1]), Number(tokens_[2]), Number(tokens_[3])};
}

void ObjParser::Vertex()
{
    if (verts_.size() >= INT_MAX) Fail("too many vertices");
    Point3 position;
    VertColor color;
    const bool colored = VertexValues(position, color);
    verts_.push_back(position);
    if (countsLines_) vertexLines_.push_back(line_);
    if (colored) {
        colors_.resize(verts_.size() - 1, VertColor{1.0f, 1.0f, 1.0f});
        colors_.push_back(color);
        anyColor_ = true;
    }
}

void ObjParser::Polygon(const ObjCounts& counts)
{
    const size_t n = tokens_.size() - 1;
    if (n < 3) Fail("a face needs at least three corners; this one has " + std::to_string(n));
    corners_.clear();
    bool uv = false, normal = false;
    for (size_t i = 1; i <= n; ++i) {
        bool cornerUV = false, cornerNormal = false;
        corners_.push_back(ParseCorner(tokens_[i], counts, cornerUV, cornerNormal));
        if (i == 1) {
            uv = cornerUV;
            normal = cornerNormal;
        } else if (cornerUV != uv || cornerNormal != normal) {
            Fail("the corners of one face use different index forms");
        }
    }
    if (faces_.size() + (n - 2) > INT_MAX) Fail("too many faces");
    triangles_.clear();
    if (n == 3) {
        triangles_.push_back({0, 1, 2});
    } else {
        positions_.clear();
        for (const ObjCorner& corner : corners_) positions_.push_back(vertsAt_[corner.v]);
        const PolygonFault fault = TriangulatePolygon(positions_, triangles_);
        if (fault != PolygonFault::kNone) Fail(PolygonFaultText(fault));
    }
    for (const std::array<int, 3>& t : triangles_) {
        const ObjCorner& a = corners_[static_cast<size_t>(t[0])];
        const ObjCorner& b = corners_[static_cast<size_t>(t[1])];
        const ObjCorner& c = corners_[static_cast<size_t>(t[2])];
        Triangle tri{{a.v, b.v, c.v}, {0, 0, 0}, smGroup_, material_, {}};
        if (uv) tri.t = {a.t, b.t, c.t};
        tri.corners.uv = uv;
        tri.corners.normal[0] = a.n;
        tri.corners.normal[1] = b.n;
        tri.corners.normal[2] = c.n;
        faces_.push_back(tri);
        if (countsLines_) faceLines_.push_back(line_);
    }
}

void ObjParser::Smoothing(std::string_view line)
{
    if (tokens_.size() != 2) Fail("s needs one group number, or off");
    const std::string_view arg = tokens_[1];
    if (arg == "off") {
        smGroup_ = 0;
    } else {
        unsigned long long n = 0;
        const char* end = arg.data() + arg.size();
        const auto parsed = std::from_chars(arg.data(), end, n);
        if (parsed.ec != std::errc() || parsed.ptr != end) Fail("bad smoothing group " + Quote(arg));
        // The 32 groups a face can be in; larger numbers wrap round.
        smGroup_ = n == 0 ? 0u : DWORD{1} << ((n - 1) % 32);
    }
    if (!sawSmoothing_) beforeSmoothing_ = faces_.size();
    sawSmoothing_ = true;
    Keep(line);
}

void ObjParser::Material(std::string_view line)
{
    if (tokens_.size() < 2) Fail("usemtl needs a material name");
    const std::string name(Trim(line.substr(static_cast<size_t>(tokens_[1].data() - line.data()))));
    const auto [at, added] = materialIds_.try_emplace(name, static_cast<DWORD>(materialNames_.size()));
    if (added) {
        // The material ID takes the upper 16 bits of the face flags.
        if (materialNames_.size() > 0xFFFF) Fail("more than 65536 materials");
        materialNames_.push_back(name);
    }
    material_ = at->second;
    if (!sawMaterial_) beforeMaterial_ = faces_.size();
    sawMaterial_ = true;
    Keep(line);
}

MeshFile ObjParser::Begin(size_t faces)
{
    if (faces == 0) throw MeshFileError(path_, "no faces");
    MeshFile file;
    file.format = MeshFormat::kObj;
    Mesh& mesh = file.mesh;
    const int nv = static_cast<int>(verts_.size());
    const int nf = static_cast<int>(faces);
    mesh.verts = std::move(verts_);  // the parser reads them no more
    mesh.setNumFaces(nf);
    file.objFaces.resize(faces);
    if (!uvs_.empty()) {
        mesh.setNumMapVerts(1, static_cast<int>(uvs_.size()));
        std::copy(uvs_.begin(), uvs_.end(), mesh.mapVerts(1));
    }
    if (anyColor_) {
        // Colour vertex i belongs to vertex i.
        colors_.resize(static_cast<size_t>(nv), VertColor{1.0f, 1.0f, 1.0f});
        mesh.setNumVertCol(nv);
        std::copy(colors_.begin(), colors_.end(), mesh.vertCol());
        mesh.setNumVCFaces(nf);
    }
    return file;
}

void ObjParser::PutFaces(MeshFile& file, size_t at, const std::vector<Triangle>& triangles,
                         const ObjInherited& inherited) const
{
    Mesh& mesh = file.mesh;
    TVFace* tf = uvs_.empty() ? nullptr : mesh.mapFaces(1);
    TVFace* vc = anyColor_ ? mesh.vcFace() : nullptr;
    for (size_t f = 0; f < triangles.size(); ++f) {
        const Triangle& tri = triangles[f];
        Face& face = mesh.faces[at + f];
        face.setVerts(tri.v[0], tri.v[1], tri.v[2]);
        // A file that never says otherwise is smooth all over.
        face.smGroup = !sawSmoothing_ ? 1u : f < inherited.beforeGroup ? inherited.group : tri.smGroup;
        const DWORD material = f < inherited.beforeMaterial ? inherited.material
                               : inherited.ids             ? (*inherited.ids)[tri.material]
                                                           : tri.material;
        face.flags = material << 16;
        file.objFaces[at + f] = tri.corners;
        if (tf) tf[at + f].setTVerts(tri.t[0], tri.t[1], tri.t[2]);
        if (vc) vc[at + f].setTVerts(tri.v[0], tri.v[1], tri.v[2]);
    }
}

MeshFile ObjParser::End(MeshFile file, MeshCheck& checked)
{
    // The rule every mesh read obeys, checked here so that its error names
    // the line of the face or vertex at fault.
    const MeshCheck check = CheckMesh(file.mesh);
    if (!check.ok()) {
        if (!countsLines_) throw ObjLinesUnknown{};
        const int line = check.face >= 0 ? faceLines_[static_cast<size_t>(check.face)]
                         : check.fault == MeshFault::kNonFiniteMapVertex ? 0
                         : vertexLines_[static_cast<size_t>(check.vertex)];
        throw MeshFileError(path_, MeshFaultText(check), line);
    }
    checked = check;
    file.hadColors = anyColor_;
    file.materialNames = std::move(materialNames_);
    file.objLines = std::move(lines_);
    file.objNormals = std::move(normals_);
    return file;
}

MeshFile ReadObjFile(const std::string& path, int threads, MeshCheck& check)
{
    const WholeFile whole = ReadWholeFile(path, threads);
    // A byte-order mark would hide the first line's keyword.
    std::string_view body = whole.text();
    if (body.starts_with("\xEF\xBB\xBF")) body.remove_prefix(3);
    if (std::optional<MeshFile> file = ReadObjParts(body, path, threads, check)) return std::move(*file);
    ObjParser parser(path);
    std::string joined;
    ForEachObjLine(body, 1, joined, [&](int number, std::string_view line) { parser.ParseLine(number, line); });
    MeshFile file = parser.Begin(parser.faces_.size());
    parser.PutFaces(file, 0, parser.faces_, {});
    return parser.End(std::move(file), check);
}

}  // namespace dunsmere
