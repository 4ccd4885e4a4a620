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
// - With several threads each section is cut into as many ranges, formatted
//   side by side; the ranges joined in order are the text one thread writes,
//   and the error thrown is the one nearest the file's start.

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>

#include "app/mesh/mesh_formats.h"
#include "app/mesh/pending_file.h"
#include "app/mesh/run_parts.h"

namespace dunsmere {

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

// What the whole text is made from, shared read-only by the parts.
struct ObjText {
    const MeshFile& original;
    const Mesh& changed;
    const std::string& path;
    const ColoredVertices& out;
    const std::vector<Point3>& normals;
    const std::vector<ObjLine>& lines;
    bool keepLines = false;
    bool keepFaceData = false;
    size_t ntv = 0;
    const TVFace* tf = nullptr;
};

// The file's sections in their order, each cut into the same ranges.
enum Section { kVertices, kTextureVertices, kNormals, kFaces, kSections };

size_t SectionSize(const ObjText& o, int section)
{
    switch (section) {
    case kVertices: return o.out.vertex.size();
    case kTextureVertices: return o.tf ? o.ntv : 0;
    case kNormals: return o.normals.size();
    default: return o.changed.faces.size();
    }
}

// SEPARATOR, then the index as the file counts it.
void PutIndex(std::string& text, const char* separator, std::uint64_t index)
{
    char buffer[24];
    const auto done = std::to_chars(buffer, buffer + sizeof buffer, index);
    text += separator;
    text.append(buffer, done.ptr);
}

// The kept lines that go before FACE, from NEXT on: those read before it.
void PutLinesBefore(const ObjText& o, size_t face, size_t& next, std::string& text)
{
    for (; next < o.lines.size() && static_cast<size_t>(o.lines[next].face) <= face; ++next) {
        const std::string_view key = Keyword(o.lines[next].text);
        if (!o.keepFaceData && (key == "s" || key == "usemtl")) continue;
        const std::string& line = o.lines[next].text;
        text += line;
        // A final backslash would continue the line onto the next one; a
        // second one continues it onto an empty line instead, and the
        // reader takes the first back as part of the line.
        text += line.ends_with('\\') ? "\\\n\n" : "\n";
    }
}

// Where the kept lines stand when face FACE is reached: the lines before the
// vertices are those before face 0, so face 0 finds them written.
size_t LinesWrittenBefore(const ObjText& o, size_t face)
{
    const size_t last = face > 0 ? face - 1 : 0;
    size_t next = 0;
    while (next < o.lines.size() && static_cast<size_t>(o.lines[next].face) <= last) ++next;
    return next;
}

void PutFaces(const ObjText& o, size_t begin, size_t end, std::string& text)
{
    size_t nextLine = LinesWrittenBefore(o, begin);
    for (size_t f = begin; f < end; ++f) {
        PutLinesBefore(o, f, nextLine, text);
        const Face& face = o.changed.faces[f];
        if (!o.keepFaceData) {
            const Face* before = f > 0 ? &o.changed.faces[f - 1] : nullptr;
            const bool named = !o.original.materialNames.empty() || face.getMatID() != 0;
            if (before ? before->getMatID() != face.getMatID() : named)
                text += "usemtl " + MaterialName(o.original.materialNames, face.getMatID()) + "\n";
            if (!before || before->smGroup != face.smGroup) text += "s " + SmoothingName(face.smGroup) + "\n";
        }
        const ObjCorners* kept = o.keepLines ? &o.original.objFaces[f] : nullptr;
        const bool uv = o.tf && (!kept || kept->uv || o.tf[f] != TVFace{});
        text += "f";
        for (size_t k = 0; k < 3; ++k) {
            PutIndex(text, " ", static_cast<std::uint64_t>(o.out.faces[f][k]) + 1);
            const int n = kept ? kept->normal[k] : -1;
            const bool normal = n >= 0 && static_cast<size_t>(n) < o.normals.size();
            if (uv) PutIndex(text, "/", std::uint64_t{o.tf[f].t[k]} + 1);
            if (normal) PutIndex(text, uv ? "/" : "//", static_cast<std::uint64_t>(n) + 1);
        }
        text.push_back('\n');
    }
}

void PutRange(const ObjText& o, int section, size_t begin, size_t end, std::string& text)
{
    const std::string& path = o.path;
    switch (section) {
    case kVertices:
        text.reserve((end - begin) * (o.out.colored ? 64 : 36));
        for (size_t v = begin; v < end; ++v) {
            text += "v";
            PutPoint(text, o.changed.verts[o.out.vertex[v]], path, "a vertex");
            if (o.out.colored) PutPoint(text, o.out.color[v], path, "a vertex colour");
            text.push_back('\n');
        }
        break;
    case kTextureVertices:
        text.reserve((end - begin) * 24);
        for (size_t t = begin; t < end; ++t) {
            const UVVert& uv = o.changed.mapVerts(1)[t];
            text += "vt";
            PutNumber(text, uv.x, path, "a texture vertex");
            PutNumber(text, uv.y, path, "a texture vertex");
            // A third coordinate only where one is needed to read back the same bits.
            if (std::bit_cast<std::uint32_t>(uv.z) != 0) PutNumber(text, uv.z, path, "a texture vertex");
            text.push_back('\n');
        }
        break;
    case kNormals:
        text.reserve((end - begin) * 36);
        for (size_t n = begin; n < end; ++n) {
            text += "vn";
            PutPoint(text, o.normals[n], path, "a normal");
            text.push_back('\n');
        }
        break;
    default:
        text.reserve((end - begin) * 32);
        PutFaces(o, begin, end, text);
        break;
    }
}

// Writes the pieces of a text in order, each once it and every piece before
// it are done, on whichever thread finished the last of them: the disk is
// then busy with the first pieces while the later ones are formatted. A
// failed write is the file's to report at its commit.
class InOrderWriter {
public:
    InOrderWriter(std::vector<std::string>& pieces, PendingFile* file)
        : pieces_(pieces), done_(pieces.size(), 0), file_(file)
    {
    }

    // Piece I is done, and holds TEXT where one is given.
    void Done(size_t i, std::optional<std::string> text = std::nullopt)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (text) pieces_[i] = std::move(*text);
        done_[i] = 1;
        if (writing_) return;  // the thread writing takes it in turn
        writing_ = true;
        while (next_ < pieces_.size() && done_[next_]) {
            const std::string piece = std::move(pieces_[next_++]);
            lock.unlock();
            if (file_) (void)file_->TryWrite(piece.data(), piece.size());
            lock.lock();
        }
        writing_ = false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string>& pieces_;
    std::vector<char> done_;
    size_t next_ = 0;
    bool writing_ = false;
    PendingFile* file_;
};

}  // namespace

void WriteObjFile(const MeshFile& original, const Mesh& changed, const std::string& path, int threads)
{
    const ColoredVertices out = SplitVerticesByColor(changed, path);
    const size_t nf = changed.faces.size();
    const bool keepLines = original.format == MeshFormat::kObj && original.objFaces.size() == nf &&
                           original.mesh.faces.size() == nf;
    const std::vector<Point3> noNormals;
    const std::vector<ObjLine> noLines;

    const size_t ntv = static_cast<size_t>(changed.getNumMapVerts(1));
    const TVFace* tf = ntv > 0 ? changed.mapFaces(1) : nullptr;
    for (size_t f = 0; tf && f < nf; ++f)
        for (DWORD t : tf[f].t)
            if (static_cast<size_t>(t) >= ntv)
                throw MeshFileError(path, "map face " + std::to_string(f) + " uses map vertex " +
                                    std::to_string(t) + " of " + std::to_string(ntv));

    const ObjText o{original,
                    changed,
                    path,
                    out,
                    keepLines ? original.objNormals : noNormals,
                    keepLines ? original.objLines : noLines,
                    keepLines,
                    keepLines && SameFaceData(original.mesh, changed),
                    ntv,
                    tf};

    size_t lines = 0;
    for (int section = 0; section < kSections; ++section) lines += SectionSize(o, section);
    const size_t parts = static_cast<size_t>(PartsFor(lines, 2048, threads));
    // The kept lines before the vertices, range k of every section for part
    // k, and the kept lines after the faces, in file order.
    std::vector<std::string> pieces(kSections * parts + 2);
    auto at = [&](int section, size_t k) { return 1 + static_cast<size_t>(section) * parts + k; };
    size_t nextLine = 0;
    PutLinesBefore(o, 0, nextLine, pieces.front());
    nextLine = LinesWrittenBefore(o, nf);
    PutLinesBefore(o, nf, nextLine, pieces.back());

    // A file that cannot be made is reported after any number that cannot
    // be written, as when the text came first.
    std::optional<PendingFile> file;
    std::exception_ptr unmade;
    try {
        file.emplace(path);
    } catch (const MeshFileError&) {
        unmade = std::current_exception();
    }
    InOrderWriter writer(pieces, file ? &*file : nullptr);
    writer.Done(0);
    writer.Done(pieces.size() - 1);
    // A part stops at its first error: its ranges after it lie further on
    // in the file, so the first failure in file order is the one one thread
    // would have met.
    std::vector<std::exception_ptr> failures(pieces.size());
    RunParts(static_cast<int>(parts), [&](int part) {
        const size_t k = static_cast<size_t>(part);
        for (int section = 0; section < kSections; ++section) {
            const size_t size = SectionSize(o, section);
            try {
                // Formatted apart from the list: the parts' strings lie side
                // by side there, and growing them in place would have the
                // threads fight over the cache lines their lengths share.
                std::string text;
                PutRange(o, section, size * k / parts, size * (k + 1) / parts, text);
                writer.Done(at(section, k), std::move(text));
            } catch (...) {
                failures[at(section, k)] = std::current_exception();
                return;
            }
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
    if (unmade) std::rethrow_exception(unmade);
    file->Commit();
}

}  // namespace dunsmere
