// A large OBJ file read side by side, cut into stretches of whole logical
// lines, many more than threads so that uneven stretches even out, which
// the threads take in turn, in three steps:
// 1. each stretch counts its v, vt and vn lines and the rest;
// 2. the stretches with v, vt or vn lines read them into the file's arrays,
//    at the places the counts before them give;
// 3. the stretches with other lines read those against the counts before
//    each, each stretch starting with its smoothing group and material
//    unknown.
// Then the stretches' triangles are joined in order, taking the group and
// the material in force where a stretch began without them, and each
// stretch's materials are numbered in the order the file first uses them.
//
// A stretch is read again in each step rather than its lines listed once:
// skipping a line costs less than keeping it, and a file's v lines and its
// faces mostly lie in stretches of their own, which the other step passes by.
//
// Only the line-by-line route counts lines, so anything amiss (an error, a
// limit, a mesh that breaks the rule) sends the file to it: every error is
// the one it gives, and a good file pays for no line numbers.

#include <algorithm>
#include <atomic>
#include <climits>

#include "app/mesh/obj_parser.h"
#include "app/mesh/run_parts.h"

namespace dunsmere {

namespace {

// Below this much text a thread costs more to start than it saves.
constexpr size_t kPartBytes = size_t{64} << 10;
// The text a stretch is cut to, where the file is large enough.
constexpr size_t kStretchBytes = size_t{128} << 10;

enum class LineKind { kNone, kVertex, kTexture, kNormal, kOther };

// What a stretch's steps need to know of a line: a v, vt or vn line, another
// line the parser reads, or none.
LineKind KindOf(std::string_view line)
{
    size_t i = 0;
    while (i < line.size() && IsObjBlank(line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !IsObjBlank(line[j])) ++j;
    switch (ObjKeyOf(line.substr(i, j - i))) {
    case ObjKey::kNone: return LineKind::kNone;
    case ObjKey::kVertex: return LineKind::kVertex;
    case ObjKey::kTexture: return LineKind::kTexture;
    case ObjKey::kNormal: return LineKind::kNormal;
    default: return LineKind::kOther;
    }
}

// Whether the physical line ending at AT - 1, a '\n', continues onto AT.
bool ContinuesInto(std::string_view text, size_t at)
{
    const size_t before = at >= 2 ? text.rfind('\n', at - 2) : std::string_view::npos;
    const size_t start = before == std::string_view::npos ? 0 : before + 1;
    std::string_view cut;
    return CutObjLine(text.substr(start, at - 1 - start), cut);
}

// Where stretch K of COUNT begins: at the first logical line that starts at
// or after its share of the text.
size_t StretchStart(std::string_view text, size_t k, size_t count)
{
    if (k == 0) return 0;
    if (k >= count) return text.size();
    auto nextLine = [&](size_t from) {
        const size_t end = text.find('\n', from);
        return end == std::string_view::npos ? text.size() : end + 1;
    };
    size_t at = PartBegin(text.size(), static_cast<int>(k), static_cast<int>(count));
    if (at > 0 && text[at - 1] != '\n') at = nextLine(at);
    while (at < text.size() && ContinuesInto(text, at)) at = nextLine(at);
    return at;
}

struct Stretch {
    std::string_view text;
    ObjCounts own;     // its v, vt and vn lines
    size_t others = 0;  // and the rest it reads
    ObjCounts before;  // the v, vt and vn lines of the stretches before
};

// Calls EACH(i) for every i below COUNT on up to THREADS threads, handing
// the items out in order.
template <class Each>
void ForEachStretch(int threads, size_t count, Each&& each)
{
    std::atomic<size_t> next{0};
    RunParts(threads, [&](int) {
        for (size_t i; (i = next.fetch_add(1)) < count;) each(i);
    });
}

// Calls LINE(kind, text) for each logical line of S that the parser reads.
template <class Line>
void ForStretchLines(const Stretch& s, std::string& joined, Line&& line)
{
    ForEachObjLine(s.text, 1, joined, [&](int, std::string_view text) {
        const LineKind kind = KindOf(text);
        if (kind != LineKind::kNone) line(kind, text);
    });
}

}  // namespace

class ObjPartsReader {
public:
    static std::optional<MeshFile> Read(std::string_view text, const std::string& path, int threads, MeshCheck& check);

private:
    static bool Join(std::vector<ObjParser>& parts, ObjParser& whole, std::vector<std::vector<DWORD>>& ids,
                     std::vector<ObjInherited>& inherited, std::vector<size_t>& at);
};

// What each part's triangles take from the parts before, where they go,
// and the file's materials and kept lines; false where the file passes a
// limit.
bool ObjPartsReader::Join(std::vector<ObjParser>& parts, ObjParser& whole, std::vector<std::vector<DWORD>>& ids,
                          std::vector<ObjInherited>& inherited, std::vector<size_t>& at)
{
    size_t faces = 0;
    DWORD group = 0, material = 0;
    for (size_t k = 0; k < parts.size(); ++k) {
        ObjParser& part = parts[k];
        for (std::string& name : part.materialNames_) {
            const auto [id, added] =
                whole.materialIds_.try_emplace(name, static_cast<DWORD>(whole.materialNames_.size()));
            if (added) {
                if (whole.materialNames_.size() > 0xFFFF) return false;
                whole.materialNames_.push_back(std::move(name));
            }
            ids[k].push_back(id->second);
        }
        inherited[k] = {group, material, part.beforeSmoothing_, part.beforeMaterial_, &ids[k]};
        if (part.sawSmoothing_) group = part.smGroup_;
        if (part.sawMaterial_) material = ids[k][part.material_];
        whole.sawSmoothing_ = whole.sawSmoothing_ || part.sawSmoothing_;
        at[k] = faces;
        faces += part.faces_.size();
        if (faces > INT_MAX) return false;
        for (ObjLine& line : part.lines_)
            whole.lines_.push_back({line.face + static_cast<int>(at[k]), std::move(line.text)});
    }
    at.back() = faces;
    return true;
}

std::optional<MeshFile> ObjPartsReader::Read(std::string_view text, const std::string& path, int threads,
                                             MeshCheck& check)
{
    const size_t count = std::max(static_cast<size_t>(threads), text.size() / kStretchBytes);
    std::vector<Stretch> stretches(count);
    for (size_t k = 0; k < count; ++k) {
        const size_t begin = StretchStart(text, k, count), end = StretchStart(text, k + 1, count);
        stretches[k].text = text.substr(begin, end - begin);
    }
    ForEachStretch(threads, count, [&](size_t k) {
        Stretch& s = stretches[k];
        std::string joined;
        ForStretchLines(s, joined, [&](LineKind kind, std::string_view) {
            switch (kind) {
            case LineKind::kVertex: ++s.own.v; break;
            case LineKind::kTexture: ++s.own.t; break;
            case LineKind::kNormal: ++s.own.n; break;
            default: ++s.others; break;
            }
        });
    });
    ObjCounts total;
    for (Stretch& s : stretches) {
        s.before = total;
        total.v += s.own.v;
        total.t += s.own.t;
        total.n += s.own.n;
    }
    if (total.v >= INT_MAX || total.t >= INT_MAX || total.n >= INT_MAX) return std::nullopt;

    ObjParser whole(path, false);
    whole.verts_.resize(total.v);
    whole.uvs_.resize(total.t);
    whole.normals_.resize(total.n);
    // A stretch's colours, white before its first coloured vertex, empty
    // where it has none.
    std::vector<std::vector<VertColor>> colors(count);
    ForEachStretch(threads, count, [&](size_t k) {
        const Stretch& s = stretches[k];
        if (s.own.v + s.own.t + s.own.n == 0) return;
        ObjParser reader(path, false);
        ObjCounts at = s.before;
        std::vector<VertColor> own;  // moved to its slot at the end: the slots share cache lines
        std::string joined;
        ForStretchLines(s, joined, [&](LineKind kind, std::string_view line) {
            if (kind == LineKind::kOther) return;
            reader.Split(line);
            if (kind == LineKind::kVertex) {
                VertColor color;
                if (reader.VertexValues(whole.verts_[at.v], color)) {
                    own.resize(at.v - s.before.v, VertColor{1.0f, 1.0f, 1.0f});
                    own.push_back(color);
                }
                ++at.v;
            } else if (kind == LineKind::kTexture) {
                whole.uvs_[at.t++] = reader.TextureValues();
            } else {
                whole.normals_[at.n++] = reader.NormalValues();
            }
        });
        colors[k] = std::move(own);
    });
    for (size_t k = 0; k < count; ++k) {
        if (colors[k].empty()) continue;
        whole.anyColor_ = true;
        whole.colors_.resize(stretches[k].before.v, VertColor{1.0f, 1.0f, 1.0f});
        whole.colors_.insert(whole.colors_.end(), colors[k].begin(), colors[k].end());
    }

    std::vector<ObjParser> readers(count, ObjParser(path, false));
    ForEachStretch(threads, count, [&](size_t k) {
        const Stretch& s = stretches[k];
        if (s.others == 0) return;
        ObjParser& reader = readers[k];
        reader.vertsAt_ = whole.verts_.data();
        reader.faces_.reserve(s.others);  // a triangle a line, as most files have
        ObjCounts at = s.before;
        std::string joined;
        ForStretchLines(s, joined, [&](LineKind kind, std::string_view line) {
            switch (kind) {
            case LineKind::kVertex: ++at.v; break;
            case LineKind::kTexture: ++at.t; break;
            case LineKind::kNormal: ++at.n; break;
            default:
                reader.Split(line);
                reader.Other(line, at);
                break;
            }
        });
    });
    std::vector<std::vector<DWORD>> ids(count);
    std::vector<ObjInherited> inherited(count);
    std::vector<size_t> at(count + 1);
    if (!Join(readers, whole, ids, inherited, at)) return std::nullopt;
    MeshFile file = whole.Begin(at.back());
    ForEachStretch(threads, count, [&](size_t k) { whole.PutFaces(file, at[k], readers[k].faces_, inherited[k]); });
    return whole.End(std::move(file), check);
}

std::optional<MeshFile> ReadObjParts(std::string_view text, const std::string& path, int threads, MeshCheck& check)
{
    const int parts = PartsFor(text.size(), kPartBytes, threads);
    if (parts <= 1) return std::nullopt;
    try {
        return ObjPartsReader::Read(text, path, parts, check);
    } catch (const MeshFileError&) {
        return std::nullopt;
    } catch (const ObjLinesUnknown&) {
        return std::nullopt;
    }
}

}  // namespace dunsmere
