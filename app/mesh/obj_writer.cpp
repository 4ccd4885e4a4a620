// Wavefront OBJ written back: the mesh's vertices with their colours
// (`v x y z r g b`), its map channel 1, and its triangles, with the lines an
// OBJ file was read with put back at their places between the faces.
//
// - Numbers are printed as %.9g in the C locale would, so each reads back
//   as the same float whatever the process's locale. A non-finite number
//   cannot be read back and is refused before anything is written.
// - Polygons come back as the triangles they were read as.
// - While the faces keep the smoothing groups and material IDs the file gave
//   them, the file's own `s` and `usemtl` lines are written back; otherwise
//   (or for a mesh that came from another format) `s` and `usemtl` lines are
//   made from the faces: a face's lowest smoothing group, and the material's
//   name, or material_N where the mesh has none for ID N.
// - `mtllib`, `g`, `o` and `vn` lines and the faces' normal indices are kept
//   while the mesh has the faces it was read with. A kept line ending in a
//   backslash is continued onto an empty line, which reads back as it was.
// - A face that had no texture indices is written without them while its map
//   face is still (0, 0, 0).

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/pending_file.h"

namespace {

void PutNumber(std::string& out, float value, const std::string& path, const char* what)
{
    if (!std::isfinite(value)) throw MeshFileError(path, std::string("cannot write the non-finite number in ") + what);
    char buffer[32];
    const auto done = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 9);
    out.push_back(' ');
    out.append(buffer, done.ptr);
}

void PutPoint(std::string& out, const Point3& p, const std::string& path, const char* what)
{
    PutNumber(out, p.x, path, what);
    PutNumber(out, p.y, path, what);
    PutNumber(out, p.z, path, what);
}

std::string_view Keyword(std::string_view line) { return line.substr(0, line.find_first_of(" \t")); }

// A name a reader of ours takes back as it is: one line, no comment sign.
std::string MaterialName(const std::vector<std::string>& names, int id)
{
    std::string name = static_cast<size_t>(id) < names.size() ? names[static_cast<size_t>(id)] : std::string();
    for (char& c : name)
        if (c == '#' || c == '\n' || c == '\r' || c == '\\') c = '_';
    if (name.find_first_not_of(" \t\f\v") == std::string::npos) name = "material_" + std::to_string(id);
    return name;
}

std::string SmoothingName(DWORD mask)
{
    return mask == 0 ? "off" : std::to_string(std::countr_zero(mask) + 1);
}

bool SameFaceData(const Mesh& a, const Mesh& b)
{
    for (size_t f = 0; f < a.faces.size(); ++f)
        if (a.faces[f].smGroup != b.faces[f].smGroup || a.faces[f].getMatID() != b.faces[f].getMatID()) return false;
    return true;
}

}  // namespace

void WriteObjFile(const MeshFile& original, const Mesh& changed, const std::string& path)
{
    const ColoredVertices out = SplitVerticesByColor(changed, path);
    const size_t nf = changed.faces.size();
    const bool keepLines = original.format == MeshFormat::kObj && original.objFaces.size() == nf &&
                           original.mesh.faces.size() == nf;
    const bool keepFaceData = keepLines && SameFaceData(original.mesh, changed);
    const std::vector<Point3> noNormals;
    const std::vector<Point3>& normals = keepLines ? original.objNormals : noNormals;

    const size_t ntv = static_cast<size_t>(changed.getNumMapVerts(1));
    const TVFace* tf = ntv > 0 ? changed.mapFaces(1) : nullptr;
    for (size_t f = 0; tf && f < nf; ++f)
        for (DWORD t : tf[f].t)
            if (static_cast<size_t>(t) >= ntv)
                throw MeshFileError(path, "map face " + std::to_string(f) + " uses map vertex " +
                                    std::to_string(t) + " of " + std::to_string(ntv));

    std::string text;
    text.reserve(out.vertex.size() * 48 + ntv * 24 + nf * 32);
    size_t nextLine = 0;
    const std::vector<ObjLine> noLines;
    const std::vector<ObjLine>& lines = keepLines ? original.objLines : noLines;
    auto putLinesBefore = [&](size_t face) {
        for (; nextLine < lines.size() && static_cast<size_t>(lines[nextLine].face) <= face; ++nextLine) {
            const std::string_view key = Keyword(lines[nextLine].text);
            if (!keepFaceData && (key == "s" || key == "usemtl")) continue;
            const std::string& line = lines[nextLine].text;
            text += line;
            // A final backslash would continue the line onto the next one; a
            // second one continues it onto an empty line instead, and the
            // reader takes the first back as part of the line.
            text += line.ends_with('\\') ? "\\\n\n" : "\n";
        }
    };

    putLinesBefore(0);
    for (size_t o = 0; o < out.vertex.size(); ++o) {
        text += "v";
        PutPoint(text, changed.verts[out.vertex[o]], path, "a vertex");
        if (out.colored) PutPoint(text, out.color[o], path, "a vertex colour");
        text.push_back('\n');
    }
    for (size_t t = 0; tf && t < ntv; ++t) {
        const UVVert& uv = changed.mapVerts(1)[t];
        text += "vt";
        PutNumber(text, uv.x, path, "a texture vertex");
        PutNumber(text, uv.y, path, "a texture vertex");
        // A third coordinate only where one is needed to read back the same bits.
        if (std::bit_cast<std::uint32_t>(uv.z) != 0) PutNumber(text, uv.z, path, "a texture vertex");
        text.push_back('\n');
    }
    for (const Point3& n : normals) {
        text += "vn";
        PutPoint(text, n, path, "a normal");
        text.push_back('\n');
    }

    for (size_t f = 0; f < nf; ++f) {
        putLinesBefore(f);
        const Face& face = changed.faces[f];
        if (!keepFaceData) {
            const Face* before = f > 0 ? &changed.faces[f - 1] : nullptr;
            const bool named = !original.materialNames.empty() || face.getMatID() != 0;
            if (before ? before->getMatID() != face.getMatID() : named)
                text += "usemtl " + MaterialName(original.materialNames, face.getMatID()) + "\n";
            if (!before || before->smGroup != face.smGroup) text += "s " + SmoothingName(face.smGroup) + "\n";
        }
        const ObjCorners* kept = keepLines ? &original.objFaces[f] : nullptr;
        const bool uv = tf && (!kept || kept->uv || tf[f] != TVFace{});
        text += "f";
        for (size_t k = 0; k < 3; ++k) {
            text += " " + std::to_string(out.faces[f][k] + 1);
            const int n = kept ? kept->normal[k] : -1;
            const bool normal = n >= 0 && static_cast<size_t>(n) < normals.size();
            if (uv) text += "/" + std::to_string(tf[f].t[k] + 1);
            if (normal) text += (uv ? "/" : "//") + std::to_string(n + 1);
        }
        text.push_back('\n');
    }
    putLinesBefore(nf);

    PendingFile file(path);
    file.Write(text);
    file.Commit();
}
