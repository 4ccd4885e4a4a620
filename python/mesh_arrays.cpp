#include "python/mesh_arrays.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "app/mesh/smoothing.h"

namespace py = pybind11;

namespace dunsmere {
namespace {

using Floats = py::array_t<float, py::array::c_style | py::array::forcecast>;
using Indices = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

[[noreturn]] void Bad(const char* array, const std::string& why) { throw py::value_error(std::string(array) + ": " + why); }

std::string Shape(const py::array& a)
{
    std::string s = "(";
    for (py::ssize_t d = 0; d < a.ndim(); ++d) s += (d ? ", " : "") + std::to_string(a.shape(d));
    return s + (a.ndim() == 1 ? ",)" : ")");
}

// Numbers of any real dtype, converted once (a copy only where the dtype or
// the layout differs); ROWS rows (any, for -1) of one of COLUMNS.
template <class Array>
Array Rows(const py::object& given, const char* name, py::ssize_t rows, std::initializer_list<py::ssize_t> columns,
           const char* expected)
{
    const py::array raw = py::array::ensure(given);
    if (!raw) Bad(name, "not an array of numbers");
    if (raw.dtype().kind() == 'b' || raw.dtype().kind() == 'c' || raw.dtype().kind() == 'O' ||
        raw.dtype().kind() == 'U' || raw.dtype().kind() == 'S')
        Bad(name, "dtype " + std::string(py::str(raw.dtype())) + " is not a real number type");
    bool shaped = raw.ndim() == 2 && (rows < 0 || raw.shape(0) == rows);
    if (shaped) {
        bool any = false;
        for (py::ssize_t c : columns) any = any || raw.shape(1) == c;
        shaped = any;
    }
    if (!shaped) Bad(name, "shape " + Shape(raw) + ", expected " + expected);
    return Array::ensure(raw);
}

template <class Array>
Array Column(const py::object& given, const char* name, py::ssize_t rows)
{
    const py::array raw = py::array::ensure(given);
    if (!raw || raw.ndim() != 1 || raw.shape(0) != rows)
        Bad(name, "shape " + (raw ? Shape(raw) : std::string("?")) + ", expected (" + std::to_string(rows) + ",)");
    return Array::ensure(raw);
}

void CheckFinite(const Floats& a, const char* name)
{
    if (a.size() == 0) return;  // no rows: nothing to check, and no row width to divide by
    const float* p = a.data();
    const py::ssize_t cols = a.ndim() > 1 ? a.size() / a.shape(0) : 1;
    for (py::ssize_t i = 0; i < a.size(); ++i)
        if (!std::isfinite(p[i])) Bad(name, "row " + std::to_string(i / cols) + " is not finite");
}

// Three indices a row, each below COUNT.
std::vector<DWORD> Triangles(const py::object& given, const char* name, py::ssize_t rows, std::int64_t count,
                             const char* of)
{
    const Indices a = Rows<Indices>(given, name, rows, {3}, rows < 0 ? "(faces, 3)" : "(faces, 3), one row a face");
    std::vector<DWORD> out(static_cast<std::size_t>(a.size()));
    const std::int64_t* p = a.data();
    for (py::ssize_t i = 0; i < a.size(); ++i) {
        if (p[i] < 0 || p[i] >= count)
            Bad(name, "row " + std::to_string(i / 3) + " names " + of + " " + std::to_string(p[i]) + " of " +
                          std::to_string(count));
        out[static_cast<std::size_t>(i)] = static_cast<DWORD>(p[i]);
    }
    return out;
}

// A channel's vertices (u, v or u, v, w) and its faces, into CHANNEL.
void SetChannel(Mesh& mesh, int channel, const py::object& uvs, const py::object& uvFaces, const char* uvName,
                const char* facesName)
{
    const Floats tv = Rows<Floats>(uvs, uvName, -1, {2, 3}, "(n, 2) or (n, 3)");
    CheckFinite(tv, uvName);
    const std::vector<DWORD> tf = Triangles(uvFaces, facesName, mesh.getNumFaces(), tv.shape(0), "map vertex");
    const py::ssize_t cols = tv.shape(1);
    mesh.setMapSupport(channel);
    mesh.setNumMapVerts(channel, static_cast<int>(tv.shape(0)));
    for (py::ssize_t v = 0; v < tv.shape(0); ++v)
        mesh.mapVerts(channel)[v] = UVVert(tv.at(v, 0), tv.at(v, 1), cols == 3 ? tv.at(v, 2) : 0.0f);
    for (std::size_t f = 0; f < tf.size() / 3; ++f) mesh.mapFaces(channel)[f].setTVerts(tf[3 * f], tf[3 * f + 1], tf[3 * f + 2]);
}

void SetSelection(Mesh& mesh, const py::object& given)
{
    const py::array raw = py::array::ensure(given);
    const py::ssize_t faces = mesh.getNumFaces();
    mesh.faceSel.ClearAll();
    if (raw && raw.dtype().kind() == 'b') {
        const auto mask = Column<py::array_t<bool, py::array::c_style | py::array::forcecast>>(given, "selected_faces", faces);
        for (py::ssize_t f = 0; f < faces; ++f)
            if (mask.at(f)) mesh.faceSel.Set(static_cast<int>(f));
        return;
    }
    if (!raw || raw.ndim() != 1) Bad("selected_faces", "expected a bool mask, one a face, or face indices");
    const Indices index = Indices::ensure(raw);
    for (py::ssize_t i = 0; i < index.size(); ++i) {
        if (index.at(i) < 0 || index.at(i) >= faces)
            Bad("selected_faces", "row " + std::to_string(i) + " names face " + std::to_string(index.at(i)) + " of " +
                                      std::to_string(faces));
        mesh.faceSel.Set(static_cast<int>(index.at(i)));
    }
}

template <class T>
py::array_t<T> Array(std::initializer_list<py::ssize_t> shape)
{
    return py::array_t<T>(std::vector<py::ssize_t>(shape));
}

py::tuple ChannelArrays(const Mesh& mesh, int channel)
{
    const int n = mesh.getNumMapVerts(channel);
    bool w = false;
    for (int v = 0; v < n; ++v) w = w || mesh.mapVerts(channel)[v].z != 0.0f;
    auto tv = Array<float>({n, w ? 3 : 2});
    for (int v = 0; v < n; ++v)
        for (int c = 0; c < (w ? 3 : 2); ++c) tv.mutable_at(v, c) = mesh.mapVerts(channel)[v][c];
    auto tf = Array<std::uint32_t>({mesh.getNumFaces(), 3});
    for (int f = 0; f < mesh.getNumFaces(); ++f)
        for (int c = 0; c < 3; ++c) tf.mutable_at(f, c) = mesh.mapFaces(channel)[f].t[c];
    return py::make_tuple(tv, tf);
}

}  // namespace

PyMesh MeshFromArrays(const MeshArrays& in)
{
    auto file = std::make_shared<MeshFile>();
    file->path = kArraysName;
    Mesh& mesh = file->mesh;
    const Floats vertices = Rows<Floats>(in.vertices, "vertices", -1, {3}, "(vertices, 3)");
    CheckFinite(vertices, "vertices");
    if (vertices.shape(0) > 0x7FFFFFFF) Bad("vertices", "more than a mesh holds");
    const std::vector<DWORD> faces = Triangles(in.faces, "faces", -1, vertices.shape(0), "vertex");
    const py::ssize_t faceCount = static_cast<py::ssize_t>(faces.size() / 3);
    if (faceCount > 0x7FFFFFFF / 3) Bad("faces", "more than a mesh holds");

    mesh.setNumVerts(static_cast<int>(vertices.shape(0)));
    for (py::ssize_t v = 0; v < vertices.shape(0); ++v)
        mesh.verts[v] = Point3(vertices.at(v, 0), vertices.at(v, 1), vertices.at(v, 2));
    mesh.setNumFaces(static_cast<int>(faceCount));
    for (py::ssize_t f = 0; f < faceCount; ++f) mesh.faces[f].setVerts(faces[3 * f], faces[3 * f + 1], faces[3 * f + 2]);

    if (!in.uvs.is_none()) {
        // Without uv_faces the map vertices are the mesh's own, one a vertex.
        if (in.uvFaces.is_none() && py::len(in.uvs) != static_cast<std::size_t>(vertices.shape(0)))
            Bad("uvs", "without uv_faces, one row a vertex is expected");
        SetChannel(mesh, 1, in.uvs, in.uvFaces.is_none() ? in.faces : in.uvFaces, "uvs", "uv_faces");
    } else if (!in.uvFaces.is_none()) {
        Bad("uv_faces", "given without uvs");
    }
    if (!in.channels.is_none()) {
        for (const auto& [key, value] : py::dict(in.channels)) {
            const int channel = key.cast<int>();
            if (channel < 0 || channel >= kMaxMapChannels || (channel == 1 && !in.uvs.is_none()))
                Bad("channels", "channel " + std::to_string(channel) + " is not one of 0 and 2 to 99 (uvs are 1)");
            const py::tuple pair = value.cast<py::tuple>();
            if (pair.size() != 2) Bad("channels", "channel " + std::to_string(channel) + " is not (uvs, uv_faces)");
            SetChannel(mesh, channel, pair[0], pair[1], "channels", "channels");
        }
    }
    if (!in.materialIds.is_none()) {
        const Indices ids = Column<Indices>(in.materialIds, "material_ids", faceCount);
        for (py::ssize_t f = 0; f < faceCount; ++f) {
            if (ids.at(f) < 1 || ids.at(f) > 65536)
                Bad("material_ids", "row " + std::to_string(f) + " is " + std::to_string(ids.at(f)) + ", not 1 to 65536");
            mesh.faces[f].setMatID(static_cast<int>(ids.at(f) - 1));
        }
    }
    if (!in.selectedFaces.is_none()) SetSelection(mesh, in.selectedFaces);

    if (!in.smoothingGroups.is_none() && !in.cornerNormals.is_none())
        Bad("corner_normals", "given with smoothing_groups: the groups decide the edges alone");
    if (!in.smoothingGroups.is_none()) {
        const Indices groups = Column<Indices>(in.smoothingGroups, "smoothing_groups", faceCount);
        for (py::ssize_t f = 0; f < faceCount; ++f) {
            if (groups.at(f) < 0 || groups.at(f) > 0xFFFFFFFFll)
                Bad("smoothing_groups", "row " + std::to_string(f) + " is not a 32-bit mask");
            mesh.faces[f].setSmGroup(static_cast<DWORD>(groups.at(f)));
        }
    } else {
        std::vector<Point3> normals;
        if (!in.cornerNormals.is_none()) {
            const py::array raw = py::array::ensure(in.cornerNormals);
            if (!raw || raw.ndim() != 3 || raw.shape(0) != faceCount || raw.shape(1) != 3 || raw.shape(2) != 3)
                Bad("corner_normals", "shape " + (raw ? Shape(raw) : std::string("?")) + ", expected (" +
                                          std::to_string(faceCount) + ", 3, 3)");
            const Floats n = Floats::ensure(raw);
            CheckFinite(n, "corner_normals");
            normals.reserve(static_cast<std::size_t>(faceCount) * 3);
            for (py::ssize_t i = 0; i < faceCount * 3; ++i)
                normals.emplace_back(n.data()[3 * i], n.data()[3 * i + 1], n.data()[3 * i + 2]);
        }
        const double angle = in.smoothAngle.value_or(kDefaultSmoothAngle);
        if (!(angle >= 0.0 && angle <= kMaxSmoothAngle)) throw py::value_error("smooth_angle: 0 to 180 degrees");
        SmoothMeshFile(*file, file->path, normals, angle);
    }
    return PyMesh{std::move(file)};
}

py::dict MeshToArrays(const MeshFile& file)
{
    const Mesh& mesh = file.mesh;
    const int faces = mesh.getNumFaces();
    py::dict out;
    auto vertices = Array<float>({mesh.getNumVerts(), 3});
    for (int v = 0; v < mesh.getNumVerts(); ++v)
        for (int c = 0; c < 3; ++c) vertices.mutable_at(v, c) = mesh.verts[v][c];
    auto corners = Array<std::uint32_t>({faces, 3});
    auto groups = Array<std::uint32_t>({faces});
    auto ids = Array<std::int32_t>({faces});
    auto selected = Array<bool>({faces});
    for (int f = 0; f < faces; ++f) {
        for (int c = 0; c < 3; ++c) corners.mutable_at(f, c) = mesh.faces[f].v[c];
        groups.mutable_at(f) = mesh.faces[f].getSmGroup();
        ids.mutable_at(f) = mesh.faces[f].getMatID() + 1;
        selected.mutable_at(f) = mesh.faceSel[f];
    }
    out["vertices"] = vertices;
    out["faces"] = corners;
    py::dict channels;
    for (int channel = 0; channel < kMaxMapChannels; ++channel) {
        if (!mesh.mapSupport(channel)) continue;
        if (channel == 1) {
            const py::tuple uv = ChannelArrays(mesh, 1);
            out["uvs"] = uv[0];
            out["uv_faces"] = uv[1];
        } else {
            channels[py::int_(channel)] = ChannelArrays(mesh, channel);
        }
    }
    if (!mesh.mapSupport(1)) {
        out["uvs"] = py::none();
        out["uv_faces"] = py::none();
    }
    out["channels"] = channels;
    out["smoothing_groups"] = groups;
    out["material_ids"] = ids;
    out["selected_faces"] = selected;
    return out;
}

MeshFile WithCornerColours(const MeshFile& file, const py::object& colours)
{
    MeshFile out = file;
    Mesh& mesh = out.mesh;
    const int faces = mesh.getNumFaces();
    const py::array raw = py::array::ensure(colours);
    if (!raw || raw.ndim() != 3 || raw.shape(0) != faces || raw.shape(1) != 3 || raw.shape(2) != 3)
        Bad("colors", "shape " + (raw ? Shape(raw) : std::string("?")) + ", expected (" + std::to_string(faces) + ", 3, 3)");
    const Floats c = Floats::ensure(raw);
    CheckFinite(c, "colors");
    mesh.setNumVertCol(faces * 3);
    mesh.setNumVCFaces(faces);
    for (int corner = 0; corner < faces * 3; ++corner)
        mesh.vertCol()[corner] = VertColor(c.data()[3 * corner], c.data()[3 * corner + 1], c.data()[3 * corner + 2]);
    for (int f = 0; f < faces; ++f)
        mesh.vcFace()[f].setTVerts(static_cast<DWORD>(3 * f), static_cast<DWORD>(3 * f + 1), static_cast<DWORD>(3 * f + 2));
    return out;
}

}  // namespace dunsmere
