// A large OBJ file read in parts side by side, in three steps:
// 1. the text is cut into stretches of whole logical lines, and each sorts
//    its lines by keyword, counting the v, vt and vn lines before the rest;
// 2. the v, vt and vn lines, cut evenly, are read into the file's arrays at
//    the places their counts give;
// 3. the other lines, cut evenly, are read against the counts before each,
//    each part starting with its smoothing group and material unknown.
// Then the parts' triangles are joined in order, taking the group and the
// material in force where a part began without them, and each part's
// materials are numbered in the order the file first uses them.
//
// Only the line-by-line route counts lines, so anything amiss (an error, a
// limit, a mesh that breaks the rule) sends the file to it: every error is
// the one it gives, and a good file pays for no line numbers.

#include <algorithm>
#include <climits>
#include <deque>

#include "app/mesh/obj_parser.h"
#include "app/mesh/run_parts.h"

namespace {

// Below this much text a part costs more to start than it saves.
constexpr size_t kPartBytes = size_t{64} << 10;

std::string_view Keyword(std::string_view line)
{
    size_t i = 0;
    while (i < line.size() && IsObjBlank(line[i])) ++i;
    size_t j = i;
    while (j < line.size() && !IsObjBlank(line[j])) ++j;
    return line.substr(i, j - i);
}

// Whether the physical line ending at AT - 1, a '\n', continues onto AT.
bool ContinuesInto(std::string_view text, size_t at)
{
    const size_t before = at >= 2 ? text.rfind('\n', at - 2) : std::string_view::npos;
    const size_t start = before == std::string_view::npos ? 0 : before + 1;
    std::string_view cut;
    return CutObjLine(text.substr(start, at - 1 - start), cut);
}

// Where stretch K of PARTS begins: at the first logical line that starts at
// or after its share of the text.
size_t StretchStart(std::string_view text, int k, int parts)
{
    if (k == 0) return 0;
    auto nextLine = [&](size_t from) {
        const size_t end = text.find('\n', from);
        return end == std::string_view::npos ? text.size() : end + 1;
    };
    size_t at = text.size() / static_cast<size_t>(parts) * static_cast<size_t>(k);
    if (at > 0 && text[at - 1] != '\n') at = nextLine(at);
    while (at < text.size() && ContinuesInto(text, at)) at = nextLine(at);
    return at;
}

// A line read in step 3, with the v, vt and vn lines before it in its
// stretch.
struct OtherLine {
    std::string_view text;
    ObjCounts counts;
};

// One stretch's lines by keyword, viewing the file's text or the stretch's
// own joined lines.
struct Stretch {
    std::vector<std::string_view> v, t, n;
    std::vector<OtherLine> other;
    std::deque<std::string> joined;
    ObjCounts before;  // the v, vt and vn lines of the stretches before
};

void SortLines(std::string_view text, Stretch& s)
{
    std::string joined;
    ForEachObjLine(text, 1, joined, [&](int, std::string_view line) {
        const std::string_view key = Keyword(line);
        if (key.empty()) return;
        const bool v = key == "v", t = key == "vt", n = key == "vn";
        const bool other = !v && !t && !n &&
                           (key == "f" || key == "s" || key == "usemtl" || key == "mtllib" || key == "g" || key == "o");
        if (!v && !t && !n && !other) return;
        if (line.data() == joined.data()) line = s.joined.emplace_back(line);
        if (v) s.v.push_back(line);
        else if (t) s.t.push_back(line);
        else if (n) s.n.push_back(line);
        else s.other.push_back({line, {s.v.size(), s.t.size(), s.n.size()}});
    });
}

// Calls EACH(stretch, line) for the lines [FROM, TO) of LIST, numbered over
// all the stretches in order.
template <class Line, class Each>
void ForLines(const std::vector<Stretch>& stretches, std::vector<Line> Stretch::*list, size_t from, size_t to,
              Each&& each)
{
    size_t base = 0;
    for (const Stretch& s : stretches) {
        const std::vector<Line>& lines = s.*list;
        for (size_t i = std::max(from, base); i < std::min(to, base + lines.size()); ++i) each(s, lines[i - base]);
        base += lines.size();
    }
}


}  // namespace

class ObjPartsReader {
public:
    static std::optional<MeshFile> Read(std::string_view text, const std::string& path, int parts, MeshCheck& check);

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

std::optional<MeshFile> ObjPartsReader::Read(std::string_view text, const std::string& path, int parts,
                                             MeshCheck& check)
{
    std::vector<Stretch> stretches(static_cast<size_t>(parts));
    RunParts(parts, [&](int k) {
        const size_t begin = StretchStart(text, k, parts), end = StretchStart(text, k + 1, parts);
        if (begin < end) SortLines(text.substr(begin, end - begin), stretches[static_cast<size_t>(k)]);
    });
    ObjCounts total;
    size_t others = 0;
    for (Stretch& s : stretches) {
        s.before = total;
        total.v += s.v.size();
        total.t += s.t.size();
        total.n += s.n.size();
        others += s.other.size();
    }
    if (total.v >= INT_MAX || total.t >= INT_MAX || total.n >= INT_MAX) return std::nullopt;

    ObjParser whole(path, false);
    whole.verts_.resize(total.v);
    whole.uvs_.resize(total.t);
    whole.normals_.resize(total.n);
    // A part's colours, white before its first coloured vertex, empty
    // where it has none.
    std::vector<std::vector<VertColor>> colors(static_cast<size_t>(parts));
    RunParts(parts, [&](int k) {
        ObjParser reader(path, false);
        size_t at = PartBegin(total.v, k, parts);
        const size_t first = at;
        std::vector<VertColor> own;  // moved to its slot at the end: the slots share cache lines
        ForLines(stretches, &Stretch::v, at, PartBegin(total.v, k + 1, parts), [&](const Stretch&, std::string_view line) {
            reader.Split(line);
            VertColor color;
            if (reader.VertexValues(whole.verts_[at], color)) {
                own.resize(at - first, VertColor{1.0f, 1.0f, 1.0f});
                own.push_back(color);
            }
            ++at;
        });
        at = PartBegin(total.t, k, parts);
        ForLines(stretches, &Stretch::t, at, PartBegin(total.t, k + 1, parts), [&](const Stretch&, std::string_view line) {
            reader.Split(line);
            whole.uvs_[at++] = reader.TextureValues();
        });
        at = PartBegin(total.n, k, parts);
        ForLines(stretches, &Stretch::n, at, PartBegin(total.n, k + 1, parts), [&](const Stretch&, std::string_view line) {
            reader.Split(line);
            whole.normals_[at++] = reader.NormalValues();
        });
        colors[static_cast<size_t>(k)] = std::move(own);
    });
    for (int k = 0; k < parts; ++k) {
        if (colors[static_cast<size_t>(k)].empty()) continue;
        whole.anyColor_ = true;
        whole.colors_.resize(PartBegin(total.v, k, parts), VertColor{1.0f, 1.0f, 1.0f});
        whole.colors_.insert(whole.colors_.end(), colors[static_cast<size_t>(k)].begin(),
                             colors[static_cast<size_t>(k)].end());
    }

    std::vector<ObjParser> readers(static_cast<size_t>(parts), ObjParser(path, false));
    RunParts(parts, [&](int k) {
        ObjParser& reader = readers[static_cast<size_t>(k)];
        reader.vertsAt_ = whole.verts_.data();
        const size_t from = PartBegin(others, k, parts), to = PartBegin(others, k + 1, parts);
        reader.faces_.reserve(to - from);  // a triangle a line, as most files have
        ForLines(stretches, &Stretch::other, from, to,
                 [&](const Stretch& s, const OtherLine& line) {
                     reader.Split(line.text);
                     reader.Other(line.text, {s.before.v + line.counts.v, s.before.t + line.counts.t,
                                              s.before.n + line.counts.n});
                 });
    });
    std::vector<std::vector<DWORD>> ids(static_cast<size_t>(parts));
    std::vector<ObjInherited> inherited(static_cast<size_t>(parts));
    std::vector<size_t> at(static_cast<size_t>(parts) + 1);
    if (!Join(readers, whole, ids, inherited, at)) return std::nullopt;
    MeshFile file = whole.Begin(at.back());
    RunParts(parts, [&](int k) {
        const auto i = static_cast<size_t>(k);
        whole.PutFaces(file, at[i], readers[i].faces_, inherited[i]);
    });
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
