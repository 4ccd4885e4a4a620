// The compiled half of `import dunsmere` (_dunsmere): meshes, bakes and the
// command's facts, on the session library. dunsmere/__init__.py gives the
// bakes their keyword signatures.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <optional>
#include <string>

#include "app/command/command.h"
#include "app/command/info.h"
#include "app/command/options.h"
#include "app/mesh/mesh_files.h"
#include "app/session/bake_turn.h"
#include "host/cpu.h"
#include "python/bake_call.h"
#include "python/mesh_arrays.h"
#include "python/option_data.h"
#include "python/results.h"

namespace py = pybind11;

namespace dunsmere {
namespace {

// The plug-in's refusal as its box said it, without the title every line carries.
std::string RefusalText(const BakeOutcome& outcome)
{
    std::string text = outcome.messages.empty() ? "the plug-in refused the bake" : outcome.messages.back();
    const std::string prefix = "Dunsmere: ";
    for (std::size_t at = 0; (at = text.find(prefix, at)) != std::string::npos;)
        if (at == 0 || text[at - 1] == '\n') text.erase(at, prefix.size());
        else at += prefix.size();
    return text;
}

// The numpy this module was built against is the one it runs with, by major
// version: arrays cross between them by the buffer protocol's layout.
void CheckNumpy()
{
    const std::string version = py::module_::import("numpy").attr("__version__").cast<std::string>();
    if (version.substr(0, version.find('.')) != DUNSMERE_NUMPY_MAJOR)
        throw py::import_error("dunsmere was built for numpy " DUNSMERE_NUMPY_MAJOR ".x, not numpy " + version);
}

PyMesh ReadMesh(const std::string& path, std::optional<double> smoothAngle)
{
    MeshFile file;
    {
        const py::gil_scoped_release released;
        // An import forks a child: no bake may have threads running meanwhile.
        const BakeTurn turn(nullptr);
        try {
            file = ReadMeshFile(path, {1.0, nullptr, smoothAngle, ProcessorsAvailable()});
        } catch (const MeshFileError& e) {
            const py::gil_scoped_acquire held;
            throw py::value_error(e.what());
        }
    }
    return PyMesh{std::make_shared<MeshFile>(std::move(file))};
}

// MESH None: a scene with nothing selected, for a host that asks the
// plug-in what it says then.
py::object RunBake(const std::optional<PyMesh>& mesh, const std::string& algorithm, const py::dict& options, const py::object& progress,
                   const std::shared_ptr<CancelToken>& cancel, const std::string& onCancel, const py::object& colours,
                   bool missMap)
{
    if (onCancel != "discard" && onCancel != "keep") throw py::value_error("on_cancel: \"discard\" or \"keep\"");
    BakeRequest request = RequestOf(algorithm, options);
    request.keepPartial = onCancel == "keep";
    if (missMap && (request.sources.empty() || algorithm != "uv-map"))
        throw py::value_error(request.sources.empty() ? "miss_map needs a high-poly mesh: give high="
                                                      : "miss_map: vertex colours have no map of misses");
    request.keepMissMap = missMap;
    std::optional<MeshFile> coloured;
    if (mesh && !colours.is_none()) coloured = WithCornerColours(*mesh->file, colours);
    BakeOutcome outcome;
    double sessionSeconds = 0.0;
    try {
        outcome = Bake(coloured ? &*coloured : mesh ? mesh->file.get() : nullptr, request, progress, cancel,
                       &sessionSeconds);
    } catch (const SessionError& e) {
        throw py::value_error(e.what());
    }
    using End = BakeOutcome::End;
    const bool map = algorithm == "uv-map";
    if (outcome.end == End::kRefused) throw BakeRefused(RefusalText(outcome));
    if (outcome.end == End::kFailed)
        throw std::runtime_error(!outcome.error.empty() ? outcome.error : RefusalText(outcome));
    if (outcome.end == End::kCancelled && !(map && request.keepPartial && outcome.map.width > 0))
        throw Cancelled("the bake was cancelled");
    if (!mesh) throw std::runtime_error("the plug-in baked a scene with nothing selected");
    if (!map) return py::cast(ColorsOf(*mesh->file, outcome));
    bool alpha = false;
    for (const auto& [option, on] : request.settings.ticks)
        if (option == "coverage-alpha") alpha = on;
    MapResult result = MapOf(*mesh->file, outcome, alpha, request.threads);
    result.cancelled = outcome.end == End::kCancelled;
    result.sessionSeconds = sessionSeconds;
    return py::cast(std::move(result));
}

}  // namespace
}  // namespace dunsmere

PYBIND11_MODULE(_dunsmere, m)
{
    using namespace dunsmere;
    CheckNumpy();
    m.attr("__version__") = kCommandVersion;

    static py::exception<BakeRefused> refused(m, "BakeRefused", PyExc_RuntimeError);
    static py::exception<Cancelled> cancelled(m, "Cancelled", PyExc_RuntimeError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const BakeRefused& e) {
            PyErr_SetString(refused.ptr(), e.what());
        } catch (const Cancelled& e) {
            PyErr_SetString(cancelled.ptr(), e.what());
        } catch (const SessionError& e) {
            PyErr_SetString(PyExc_RuntimeError, e.what());
        } catch (const CommandError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    py::class_<CancelToken, std::shared_ptr<CancelToken>>(m, "CancelToken",
                                                          "Cancels the bake it is given to, from any thread.")
        .def(py::init<>())
        .def("set", [](CancelToken& t) { t.set = true; })
        .def("clear", [](CancelToken& t) { t.set = false; })
        .def_property_readonly("is_set", [](const CancelToken& t) { return t.set.load(); });

    py::class_<PyMesh>(m, "Mesh")
        .def(py::init([](py::object vertices, py::object faces, py::object uvs, py::object uvFaces, py::object channels,
                         py::object smoothingGroups, py::object cornerNormals, py::object materialIds,
                         py::object selectedFaces, std::optional<double> smoothAngle) {
                 return MeshFromArrays({vertices, faces, uvs, uvFaces, channels, smoothingGroups, cornerNormals,
                                        materialIds, selectedFaces, smoothAngle});
             }),
             py::arg("vertices"), py::arg("faces"), py::kw_only(), py::arg("uvs") = py::none(),
             py::arg("uv_faces") = py::none(), py::arg("channels") = py::none(),
             py::arg("smoothing_groups") = py::none(), py::arg("corner_normals") = py::none(),
             py::arg("material_ids") = py::none(), py::arg("selected_faces") = py::none(),
             py::arg("smooth_angle") = py::none())
        .def("arrays", [](const PyMesh& mesh) { return MeshToArrays(*mesh.file); })
        .def_property_readonly("face_count", [](const PyMesh& mesh) { return mesh.file->mesh.getNumFaces(); })
        .def_property_readonly("vertex_count", [](const PyMesh& mesh) { return mesh.file->mesh.getNumVerts(); })
        .def_property_readonly("path", [](const PyMesh& mesh) { return mesh.file->path; })
        .def("__repr__", [](const PyMesh& mesh) {
            return "<dunsmere.Mesh " + mesh.file->path + ": " + std::to_string(mesh.file->mesh.getNumVerts()) +
                   " vertices, " + std::to_string(mesh.file->mesh.getNumFaces()) + " faces>";
        });

    py::class_<MapResult>(m, "MapResult")
        .def_readonly("levels", &MapResult::levels)
        .def_readonly("alpha", &MapResult::alpha)
        .def_readonly("stats", &MapResult::stats)
        .def_readonly("cancelled", &MapResult::cancelled)
        .def_readonly("projection", &MapResult::projection)
        .def_readonly("miss_map", &MapResult::missMap)
        .def_readonly("_session_seconds", &MapResult::sessionSeconds)
        .def("save", &MapResult::Save, py::arg("path"), py::kw_only(), py::arg("channels") = "",
             py::arg("bit_depth") = 16);
    py::class_<ColorsResult>(m, "ColorsResult")
        .def_readonly("corner_colors", &ColorsResult::cornerColors)
        .def_readonly("vertex_grey", &ColorsResult::vertexGrey)
        .def_readonly("projection", &ColorsResult::projection)
        .def_readonly("stats", &ColorsResult::stats);

    m.def("read_mesh", &ReadMesh, py::arg("path"), py::arg("smooth_angle") = py::none());
    m.def("_bake", &RunBake, py::arg("mesh"), py::arg("algorithm"), py::arg("options"), py::arg("progress"),
          py::arg("cancel"), py::arg("on_cancel"), py::arg("colors"), py::arg("miss_map") = false);
    m.def("info", [](const PyMesh& mesh) {
        return py::module_::import("json").attr("loads")(MeshReportJson(ReportMesh(*mesh.file)));
    });
    m.def("_option_rows", &OptionRows);
    m.def("_plugin_version", &PluginVersionText);
    m.def("read_preset", &ReadPreset, py::arg("path"));
    m.def("_write_preset", &WritePreset, py::arg("path"), py::arg("options"));
}
