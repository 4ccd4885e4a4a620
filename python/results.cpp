#include "python/results.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "app/command/bake_report.h"
#include "app/image/file_bitmaps.h"
#include "app/image/image_files.h"

namespace py = pybind11;

namespace dunsmere {
namespace {

// VALUES handed to numpy as they are: the array owns the vector.
template <class T>
py::array_t<T> Owning(std::vector<T>&& values, std::vector<py::ssize_t> shape)
{
    auto* owned = new std::vector<T>(std::move(values));
    py::capsule owner(owned, [](void* p) { delete static_cast<std::vector<T>*>(p); });
    return py::array_t<T>(std::move(shape), owned->data(), owner);
}

// The command's --json object of one bake, as Python data.
py::dict Stats(const MeshFile& mesh, const BakeOutcome& outcome, const BakeReport::Values& value, bool map)
{
    BakeReport report;
    report.inputs = {mesh.path};
    report.faces = CountFaces(mesh.mesh, outcome.filter, map);
    report.value = value;
    report.seconds = {0.0, outcome.bakeSeconds, outcome.writeSeconds};
    if (const auto& p = outcome.projection) report.projection = {true, p->samples, p->missed};
    const py::list all = py::module_::import("json").attr("loads")(BakeReportsJson({report}));
    return all[0].cast<py::dict>();
}

py::object ProjectionOf(const BakeOutcome& outcome)
{
    const auto& p = outcome.projection;
    if (!p) return py::none();
    return py::dict(py::arg("samples") = p->samples, py::arg("missed") = p->missed,
                    py::arg("front") = static_cast<double>(p->front), py::arg("rear") = static_cast<double>(p->rear));
}

}  // namespace

MapResult MapOf(const MeshFile& mesh, BakeOutcome& outcome, bool coverageAlpha, int threads)
{
    BakedMap& map = outcome.map;
    MapResult r;
    const std::vector<py::ssize_t> shape{map.height, map.width};
    r.levels = Owning(std::move(map.levels), shape);
    r.coverage = Owning(std::move(map.coverage), shape);
    r.alpha = coverageAlpha ? py::object(r.coverage) : py::none();
    r.threads = threads;
    r.stats = Stats(mesh, outcome, {true, map.min / 65535.0, map.max / 65535.0, map.mean / 65535.0}, true);
    r.projection = ProjectionOf(outcome);
    r.missMap = py::none();
    if (outcome.projection && !outcome.projection->missLevels.empty()) {
        ProjectionOutcome& p = *outcome.projection;
        r.missMap = Owning(std::move(p.missLevels), {p.missHeight, p.missWidth});
    }
    return r;
}

void MapResult::Save(const std::string& path, const std::string& channels, int bitDepth) const
{
    std::optional<ImageChannels> layout;
    if (!channels.empty() && !(layout = ImageChannelsNamed(channels)))
        throw py::value_error("channels: grey, grey-alpha or rgba, not " + channels);
    if (bitDepth != 8 && bitDepth != 16) throw py::value_error("bit_depth: 8 or 16");
    if (!IsSupportedImagePath(path))
        throw py::value_error("cannot write " + path + ": not one of " + SupportedImageExtensions());
    const auto levelsOf = py::array_t<std::uint16_t, py::array::c_style | py::array::forcecast>::ensure(levels);
    const auto alphaOf = py::array_t<std::uint16_t, py::array::c_style | py::array::forcecast>::ensure(
        alpha.is_none() ? py::object(coverage) : alpha);
    if (!levelsOf || levelsOf.ndim() != 2 || !alphaOf || alphaOf.ndim() != 2 || alphaOf.shape(0) != levelsOf.shape(0) ||
        alphaOf.shape(1) != levelsOf.shape(1))
        throw py::value_error("levels and alpha: two uint16 arrays of one shape, height x width");
    const int height = static_cast<int>(levelsOf.shape(0)), width = static_cast<int>(levelsOf.shape(1));
    std::vector<BMM_Color_64> pixels(static_cast<std::size_t>(levelsOf.size()));
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const WORD level = levelsOf.data()[i];
        pixels[i] = {level, level, level, alphaOf.data()[i]};
    }
    FileBitmapManager manager("");
    manager.SetWriteLayout(layout, bitDepth, !alpha.is_none());
    const ImageLayout written = manager.WriteLayout(path);
    try {
        const py::gil_scoped_release released;
        WriteImageFile(path, width, height, pixels, threads > 0 ? threads : 1, written);
    } catch (const ImageFileError& e) {
        throw py::value_error(e.what());
    }
}

ColorsResult ColorsOf(const MeshFile& file, const BakeOutcome& outcome)
{
    const Mesh& mesh = file.mesh;
    const int faces = mesh.getNumFaces();
    std::vector<float> colours = outcome.colours.empty() ? std::vector<float>() : outcome.colours[0];
    colours.resize(static_cast<std::size_t>(faces) * 9, 0.0f);

    // One grey a vertex where every corner at it has the same colour.
    std::vector<float> grey(static_cast<std::size_t>(mesh.getNumVerts()), 0.0f);
    std::vector<const float*> first(grey.size(), nullptr);
    bool single = true;
    for (int f = 0; f < faces && single; ++f)
        for (int c = 0; c < 3 && single; ++c) {
            const float* colour = &colours[static_cast<std::size_t>(9 * f + 3 * c)];
            const DWORD v = mesh.faces[f].v[c];
            if (!first[v]) first[v] = colour, grey[v] = colour[0];
            else single = first[v][0] == colour[0] && first[v][1] == colour[1] && first[v][2] == colour[2];
        }

    Mesh coloured = mesh;
    coloured.setNumVertCol(faces * 3);
    coloured.setNumVCFaces(faces);
    for (int corner = 0; corner < faces * 3; ++corner)
        coloured.vertCol()[corner] = VertColor(colours[3 * corner], colours[3 * corner + 1], colours[3 * corner + 2]);
    for (int f = 0; f < faces; ++f)
        coloured.vcFace()[f].setTVerts(static_cast<DWORD>(3 * f), static_cast<DWORD>(3 * f + 1), static_cast<DWORD>(3 * f + 2));

    ColorsResult r;
    r.stats = Stats(file, outcome, CornerValues(coloured, outcome.filter.selectedOnly), false);
    r.projection = ProjectionOf(outcome);
    r.cornerColors = Owning(std::move(colours), {faces, 3, 3});
    const auto vertices = static_cast<py::ssize_t>(grey.size());
    r.vertexGrey = single ? py::object(Owning(std::move(grey), {vertices})) : py::none();
    return r;
}

}  // namespace dunsmere
