// The OBJ reader's parts, shared by its two routes (app/mesh/obj_reader.cpp
// reads a file line by line, app/mesh/obj_parts.cpp cuts a large one into
// parts read side by side): the logical lines of the text and the parser
// that turns them into a mesh file.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/mesh/mesh_file.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

inline bool IsObjBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// Whether a physical line, ending where its '\n' is, continues onto the
// next: a backslash ends what is left once the comment and the trailing
// blanks are cut. CUT is the line so cut, the backslash dropped.
inline bool CutObjLine(std::string_view line, std::string_view& cut)
{
    cut = line.substr(0, line.find('#'));
    while (!cut.empty() && IsObjBlank(cut.back())) cut.remove_suffix(1);
    const bool continued = !cut.empty() && cut.back() == '\\';
    if (continued) cut.remove_suffix(1);
    return continued;
}

// Calls LINE(number, text) for each logical line of TEXT, numbered by its
// first physical line (TEXT's first is FIRST): a continued line is joined
// into JOINED, its parts each followed by a blank, and is valid only while
// LINE runs.
template <class Line>
void ForEachObjLine(std::string_view text, int first, std::string& joined, Line&& line)
{
    bool continuing = false;
    int start = 0;
    int number = first - 1;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        std::string_view cut;
        const bool continued = CutObjLine(text.substr(at, end - at), cut);
        at = end + 1;
        ++number;
        if (!continuing && !continued) {
            line(number, cut);
            continue;
        }
        if (!continuing) {
            joined.clear();
            start = number;
            continuing = true;
        }
        joined.append(cut);
        joined.push_back(' ');
        if (!continued) {
            line(start, std::string_view(joined));
            continuing = false;
        }
    }
    if (continuing) line(start, std::string_view(joined));
}

// What the reader makes of a line, by its first token: the one list of the
// keywords it takes. Any other line (curves, points, lines, vertex
// parameters) is not ours.
enum class ObjKey { kNone, kVertex, kTexture, kNormal, kFace, kSmoothing, kMaterial, kKept };

inline ObjKey ObjKeyOf(std::string_view key)
{
    if (key == "v") return ObjKey::kVertex;
    if (key == "vt") return ObjKey::kTexture;
    if (key == "vn") return ObjKey::kNormal;
    if (key == "f") return ObjKey::kFace;
    if (key == "s") return ObjKey::kSmoothing;
    if (key == "usemtl") return ObjKey::kMaterial;
    if (key == "mtllib" || key == "g" || key == "o") return ObjKey::kKept;
    return ObjKey::kNone;
}

struct ObjCorner {
    DWORD v = 0, t = 0;
    int n = -1;
};

// How many v, vt and vn lines came before a line: what its indices may
// refer to.
struct ObjCounts {
    size_t v = 0, t = 0, n = 0;
};

// What a part's triangles take from the parts before it: the smoothing
// group and the material in force before its first s and usemtl lines, and
// the file's material IDs for its own.
struct ObjInherited {
    DWORD group = 0, material = 0;
    size_t beforeGroup = 0, beforeMaterial = 0;
    const std::vector<DWORD>* ids = nullptr;
};

// What End throws for a mesh that breaks the rule when the lines of its
// faces and vertices are not known.
struct ObjLinesUnknown {};

// The state of one file's reading, or of one part of it: what the lines so
// far defined. Errors throw MeshFileError naming the line.
class ObjParser {
public:
    // A parser of a part of a file knows no line numbers: COUNTS_LINES
    // false keeps none, and a mesh that breaks the rule throws
    // ObjLinesUnknown for the line-by-line reading to name its line.
    explicit ObjParser(const std::string& path, bool countsLines = true) : path_(path), countsLines_(countsLines) {}

    // One logical line, comment and continuations already removed.
    void ParseLine(int number, std::string_view line);

private:
    friend class ObjPartsReader;
    friend MeshFile ReadObjFile(const std::string& path, int threads, MeshCheck& check);

    struct Triangle {
        std::array<DWORD, 3> v, t;
        DWORD smGroup, material;
        ObjCorners corners;
    };
    // The mesh file with room for FACES triangles, and the vertices, map
    // vertices and colours read.
    MeshFile Begin(size_t faces);
    // TRIANGLES into FILE from triangle AT on.
    void PutFaces(MeshFile& file, size_t at, const std::vector<Triangle>& triangles,
                  const ObjInherited& inherited) const;
    // FILE after the rule every mesh read obeys; CHECK is its outcome (a
    // fault throws).
    MeshFile End(MeshFile file, MeshCheck& check);

    [[noreturn]] void Fail(const std::string& message) const { throw MeshFileError(path_, message, line_); }
    void Split(std::string_view line);
    float Number(std::string_view token) const;
    DWORD Index(std::string_view token, size_t count, const char* what) const;
    ObjCorner ParseCorner(std::string_view token, const ObjCounts& counts, bool& uv, bool& normal) const;
    // The values of the v, vt and vn line split last; a v line's colour is
    // set only where the line gives one, and true is returned then.
    bool VertexValues(Point3& position, VertColor& color) const;
    UVVert TextureValues() const;
    Point3 NormalValues() const;
    void Vertex();
    // A face line, a smoothing line, a material line or a kept line, split
    // last; COUNTS are the v, vt and vn lines before it.
    void Other(std::string_view line, const ObjCounts& counts);
    void Polygon(const ObjCounts& counts);
    void Smoothing(std::string_view line);
    void Material(std::string_view line);
    void Keep(std::string_view line);

    const std::string& path_;
    bool countsLines_;
    int line_ = 0;
    std::vector<std::string_view> tokens_;
    std::vector<ObjCorner> corners_;
    std::vector<Point3> positions_;
    std::vector<std::array<int, 3>> triangles_;
    // Where the vertex positions are read from for triangulating: the
    // parser's own, or those of the whole file when it reads a part.
    const Point3* vertsAt_ = nullptr;

    std::vector<Point3> verts_;
    std::vector<VertColor> colors_;  // white where a vertex gave none
    bool anyColor_ = false;
    std::vector<UVVert> uvs_;
    std::vector<Point3> normals_;

    std::vector<Triangle> faces_;
    // The line of each triangle's face and of each v, where lines are
    // counted.
    std::vector<int> faceLines_;
    std::vector<int> vertexLines_;
    DWORD smGroup_ = 0;
    bool sawSmoothing_ = false;
    DWORD material_ = 0;
    bool sawMaterial_ = false;
    // Triangles before the first s and the first usemtl line: in a part,
    // the ones whose group and material come from the parts before.
    size_t beforeSmoothing_ = SIZE_MAX, beforeMaterial_ = SIZE_MAX;
    std::unordered_map<std::string, DWORD> materialIds_;
    std::vector<std::string> materialNames_;
    std::vector<ObjLine> lines_;
};

// The side-by-side route: reads TEXT (the file's, after any byte-order mark)
// in THREADS parts. Empty where it met anything amiss, or where the text is
// too small to cut: the line-by-line route then gives the answer, and the
// error, that it always gives.
std::optional<MeshFile> ReadObjParts(std::string_view text, const std::string& path, int threads, MeshCheck& check);

}  // namespace dunsmere
