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
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <system_error>
#include <unordered_map>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/polygon.h"
#include "host/mesh_check.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

void SplitBlanks(std::string_view line, std::vector<std::string_view>& tokens)
{
    tokens.clear();
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        const size_t start = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
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

std::string ReadWholeFile(const std::string& path)
{
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) throw MeshFileError(path, "cannot open: " + std::system_category().message(errno));
    std::string text;
    char buffer[1 << 16];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) text.append(buffer, n);
    if (std::ferror(file.get())) throw MeshFileError(path, "cannot read: " + std::system_category().message(errno));
    return text;
}

struct Corner {
    DWORD v = 0, t = 0;
    int n = -1;
};

// The state of one file's reading: what the lines so far defined.
class ObjParser {
public:
    explicit ObjParser(const std::string& path) : path_(path) {}

    // One logical line, comment and continuations already removed.
    void ParseLine(int number, std::string_view line);
    MeshFile Finish();

private:
    [[noreturn]] void Fail(const std::string& message) const
    {
        throw MeshFileError(path_, message, line_);
    }
    float Number(std::string_view token) const;
    DWORD Index(std::string_view token, size_t count, const char* what) const;
    Corner ParseCorner(std::string_view token, bool& uv, bool& normal) const;
    void Vertex();
    void TextureVertex();
    void Normal();
    void Polygon();
    void Smoothing(std::string_view line);
    void Material(std::string_view line);
    void Keep(std::string_view line) { lines_.push_back({static_cast<int>(faces_.size()), std::string(Trim(line))}); }

    const std::string& path_;
    int line_ = 0;
    std::vector<std::string_view> tokens_;
    std::vector<Corner> corners_;
    std::vector<Point3> positions_;
    std::vector<std::array<int, 3>> triangles_;

    std::vector<Point3> verts_;
    std::vector<VertColor> colors_;  // white where a vertex gave none
    bool anyColor_ = false;
    std::vector<UVVert> uvs_;
    std::vector<Point3> normals_;

    struct Triangle {
        std::array<DWORD, 3> v, t;
        DWORD smGroup, material;
        ObjCorners corners;
    };
    std::vector<Triangle> faces_;
    std::vector<int> faceLines_;    // the line of each triangle's face
    std::vector<int> vertexLines_;  // the line of each v
    DWORD smGroup_ = 0;
    bool sawSmoothing_ = false;
    DWORD material_ = 0;
    std::unordered_map<std::string, DWORD> materialIds_;
    std::vector<std::string> materialNames_;
    std::vector<ObjLine> lines_;
};

void ObjParser::ParseLine(int number, std::string_view line)
{
    line_ = number;
    SplitBlanks(line, tokens_);
    if (tokens_.empty()) return;
    const std::string_view key = tokens_[0];
    if (key == "v") Vertex();
    else if (key == "vt") TextureVertex();
    else if (key == "vn") Normal();
    else if (key == "f") Polygon();
    else if (key == "s") Smoothing(line);
    else if (key == "usemtl") Material(line);
    else if (key == "mtllib" || key == "g" || key == "o") Keep(line);
    // Anything else (curves, points, lines, vertex parameters) is not ours.
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

Corner ObjParser::ParseCorner(std::string_view token, bool& uv, bool& normal) const
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
    Corner c;
    c.v = Index(parts[0], verts_.size(), "vertex");
    if (uv) {
        if (uvs_.empty()) Fail("the face has texture indices but no vt line came before it");
        c.t = Index(parts[1], uvs_.size(), "texture vertex");
    }
    if (normal) c.n = static_cast<int>(Index(parts[2], normals_.size(), "normal"));
    return c;
}

void ObjParser::Vertex()
{
    if (tokens_.size() != 4 && tokens_.size() != 7) Fail("v needs x y z, or x y z r g b");
    if (verts_.size() >= INT_MAX) Fail("too many vertices");
    verts_.push_back({Number(tokens_[1]), Number(tokens_[2]), Number(tokens_[3])});
    vertexLines_.push_back(line_);
    if (tokens_.size() == 7) {
        colors_.resize(verts_.size() - 1, VertColor{1.0f, 1.0f, 1.0f});
        colors_.push_back({Number(tokens_[4]), Number(tokens_[5]), Number(tokens_[6])});
        anyColor_ = true;
    }
}

void ObjParser::TextureVertex()
{
    if (tokens_.size() < 2 || tokens_.size() > 4) Fail("vt needs u, u v or u v w");
    if (uvs_.size() >= INT_MAX) Fail("too many texture vertices");
    UVVert uv;
    uv.x = Number(tokens_[1]);
    if (tokens_.size() > 2) uv.y = Number(tokens_[2]);
    if (tokens_.size() > 3) uv.z = Number(tokens_[3]);
    uvs_.push_back(uv);
}

void ObjParser::Normal()
{
    if (tokens_.size() != 4) Fail("vn needs x y z");
    if (normals_.size() >= INT_MAX) Fail("too many normals");
    normals_.push_back({Number(tokens_[1]), Number(tokens_[2]), Number(tokens_[3])});
}

void ObjParser::Polygon()
{
    const size_t n = tokens_.size() - 1;
    if (n < 3) Fail("a face needs at least three corners; this one has " + std::to_string(n));
    corners_.clear();
    bool uv = false, normal = false;
    for (size_t i = 1; i <= n; ++i) {
        bool cornerUV = false, cornerNormal = false;
        corners_.push_back(ParseCorner(tokens_[i], cornerUV, cornerNormal));
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
        for (const Corner& corner : corners_) positions_.push_back(verts_[corner.v]);
        const PolygonFault fault = TriangulatePolygon(positions_, triangles_);
        if (fault != PolygonFault::kNone) Fail(PolygonFaultText(fault));
    }
    for (const std::array<int, 3>& t : triangles_) {
        const Corner& a = corners_[static_cast<size_t>(t[0])];
        const Corner& b = corners_[static_cast<size_t>(t[1])];
        const Corner& c = corners_[static_cast<size_t>(t[2])];
        Triangle tri{{a.v, b.v, c.v}, {0, 0, 0}, smGroup_, material_, {}};
        if (uv) tri.t = {a.t, b.t, c.t};
        tri.corners.uv = uv;
        tri.corners.normal[0] = a.n;
        tri.corners.normal[1] = b.n;
        tri.corners.normal[2] = c.n;
        faces_.push_back(tri);
        faceLines_.push_back(line_);
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
    Keep(line);
}

MeshFile ObjParser::Finish()
{
    if (faces_.empty()) throw MeshFileError(path_, "no faces");
    MeshFile file;
    file.format = MeshFormat::kObj;
    Mesh& mesh = file.mesh;
    const int nv = static_cast<int>(verts_.size());
    const int nf = static_cast<int>(faces_.size());
    mesh.setNumVerts(nv);
    std::copy(verts_.begin(), verts_.end(), mesh.verts.begin());
    mesh.setNumFaces(nf);
    file.objFaces.resize(faces_.size());
    for (size_t f = 0; f < faces_.size(); ++f) {
        const Triangle& tri = faces_[f];
        Face& face = mesh.faces[f];
        face.setVerts(tri.v[0], tri.v[1], tri.v[2]);
        // A file that never says otherwise is smooth all over.
        face.smGroup = sawSmoothing_ ? tri.smGroup : 1u;
        face.flags = tri.material << 16;
        file.objFaces[f] = tri.corners;
    }
    if (!uvs_.empty()) {
        mesh.setNumMapVerts(1, static_cast<int>(uvs_.size()));
        std::copy(uvs_.begin(), uvs_.end(), mesh.mapVerts(1));
        TVFace* tf = mesh.mapFaces(1);
        for (size_t f = 0; f < faces_.size(); ++f) tf[f].setTVerts(faces_[f].t[0], faces_[f].t[1], faces_[f].t[2]);
    }
    if (anyColor_) {
        // Colour vertex i belongs to vertex i.
        colors_.resize(verts_.size(), VertColor{1.0f, 1.0f, 1.0f});
        mesh.setNumVertCol(nv);
        std::copy(colors_.begin(), colors_.end(), mesh.vertCol());
        mesh.setNumVCFaces(nf);
        TVFace* vc = mesh.vcFace();
        for (size_t f = 0; f < faces_.size(); ++f) vc[f].setTVerts(faces_[f].v[0], faces_[f].v[1], faces_[f].v[2]);
    }
    // The rule every mesh read obeys, checked here too so that its error
    // names the line of the face or vertex at fault.
    const MeshCheck check = CheckMesh(mesh);
    if (!check.ok()) {
        const int line = check.face >= 0 ? faceLines_[static_cast<size_t>(check.face)]
                         : check.fault == MeshFault::kNonFiniteMapVertex ? 0
                         : vertexLines_[static_cast<size_t>(check.vertex)];
        throw MeshFileError(path_, MeshFaultText(check), line);
    }
    file.hadColors = anyColor_;
    file.materialNames = std::move(materialNames_);
    file.objLines = std::move(lines_);
    file.objNormals = std::move(normals_);
    return file;
}

}  // namespace

MeshFile ReadObjFile(const std::string& path)
{
    std::string text = ReadWholeFile(path);
    // A byte-order mark would hide the first line's keyword.
    if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
    ObjParser parser(path);
    std::string joined;  // a line continued over several physical lines
    bool continuing = false;
    int first = 0;
    int number = 0;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        ++number;
        line = line.substr(0, line.find('#'));
        while (!line.empty() && IsBlank(line.back())) line.remove_suffix(1);
        const bool continued = !line.empty() && line.back() == '\\';
        if (continued) line.remove_suffix(1);
        if (!continuing && !continued) {
            parser.ParseLine(number, line);
            continue;
        }
        if (!continuing) {
            joined.clear();
            first = number;
            continuing = true;
        }
        joined.append(line);
        joined.push_back(' ');
        if (!continued) {
            parser.ParseLine(first, joined);
            continuing = false;
        }
    }
    if (continuing) parser.ParseLine(first, joined);
    return parser.Finish();
}
