#include "app/session/session.h"

#include <cmath>
#include <optional>
#include <utility>

#include "app/mesh/mesh_files.h"
#include "app/session/bake_turn.h"
#include "app/session/edit_session.h"
#include "app/session/occluders.h"
#include "app/session/output_kind.h"
#include "app/session/panel_settings.h"
#include "host/cpu.h"
#include "app/mesh/mesh_check.h"

namespace dunsmere {

namespace {

// A file: the kind the run writes, and for vertex colours the one mesh's.
void CheckOutput(const std::string& output, std::optional<BakeAlgorithm> algorithm, std::size_t meshes)
{
    if (output.empty()) return;
    CheckOutputKind(output, algorithm);
    if (algorithm == BakeAlgorithm::kVertexColors && meshes != 1)
        throw SessionError("cannot write " + output + ": it holds the vertex colours of one mesh, not " +
                           std::to_string(meshes));
}

BakedMap KeptMap(const FileBitmapManager& bitmaps)
{
    BakedMap map;
    const std::vector<BMM_Color_64>& pixels = bitmaps.KeptPixels();
    map.width = bitmaps.KeptWidth();
    map.height = map.width > 0 ? static_cast<int>(pixels.size() / static_cast<std::size_t>(map.width)) : 0;
    map.levels.reserve(pixels.size());
    map.coverage.reserve(pixels.size());
    for (const BMM_Color_64& p : pixels) {
        map.levels.push_back(p.r);
        map.coverage.push_back(p.a);
    }
    const FileBitmapManager::Levels& levels = bitmaps.WrittenLevels();
    map.min = levels.min;
    map.max = levels.max;
    map.mean = levels.mean;
    return map;
}

std::vector<float> CornerColours(const Mesh& mesh)
{
    std::vector<float> colours;
    if (mesh.getNumVCFaces() != mesh.getNumFaces()) return colours;
    colours.reserve(static_cast<std::size_t>(mesh.getNumFaces()) * 9);
    for (int face = 0; face < mesh.getNumFaces(); ++face)
        for (DWORD c : mesh.vcFace()[face].t)
            for (float x : {mesh.vertCol()[c].x, mesh.vertCol()[c].y, mesh.vertCol()[c].z}) colours.push_back(x);
    return colours;
}

void CheckMeshFile(const MeshFile& file)
{
    const MeshCheck check = CheckMesh(file.mesh);
    if (!check.ok()) throw SessionError(file.path + ": " + MeshFaultText(check));
}

// The mesh the arrays describe (BakeSession::AddMesh), checked as a file's
// would be.
MeshFile MeshOf(const std::string& name, const std::vector<float>& vertices, const std::vector<std::uint32_t>& faces,
                const std::vector<float>& uvs)
{
    const std::size_t vertexCount = vertices.size() / 3, faceCount = faces.size() / 3;
    if (vertices.size() % 3 != 0 || faces.size() % 3 != 0)
        throw SessionError(name + ": vertices and faces come in threes");
    if (vertexCount > 0x7FFFFFFF || faceCount > 0x7FFFFFFF / 3)
        throw SessionError(name + ": more vertices or faces than a mesh holds");
    if (!uvs.empty() && uvs.size() != faceCount * 6)
        throw SessionError(name + ": the UVs give u and v for each corner of each face");
    MeshFile file;
    file.path = name;
    Mesh& mesh = file.mesh;
    mesh.setNumVerts(static_cast<int>(vertexCount));
    for (std::size_t v = 0; v < vertexCount; ++v)
        mesh.verts[v] = Point3(vertices[3 * v], vertices[3 * v + 1], vertices[3 * v + 2]);
    mesh.setNumFaces(static_cast<int>(faceCount));
    for (std::size_t f = 0; f < faceCount; ++f) {
        for (std::size_t c = 0; c < 3; ++c)
            if (faces[3 * f + c] >= vertexCount)
                throw SessionError(name + ": face " + std::to_string(f) + " names vertex " +
                                   std::to_string(faces[3 * f + c]) + " of " + std::to_string(vertexCount));
        mesh.faces[f].setVerts(faces[3 * f], faces[3 * f + 1], faces[3 * f + 2]);
    }
    if (!uvs.empty()) {
        mesh.setMapSupport(1);
        mesh.setNumMapVerts(1, static_cast<int>(faceCount * 3));
        for (std::size_t corner = 0; corner < faceCount * 3; ++corner)
            mesh.mapVerts(1)[corner] = UVVert(uvs[2 * corner], uvs[2 * corner + 1], 0.0f);
        for (std::size_t f = 0; f < faceCount; ++f)
            mesh.mapFaces(1)[f].setTVerts(static_cast<DWORD>(3 * f), static_cast<DWORD>(3 * f + 1),
                                          static_cast<DWORD>(3 * f + 2));
    }
    CheckMeshFile(file);
    return file;
}

}  // namespace

struct BakeSession::State {
    HostHooks hooks;
    FoundPlugin plugin;
    std::vector<std::unique_ptr<SceneNode>> nodes;
    // Copied into each generation's host, which owns its occluder nodes.
    std::vector<MeshFile> occluders;
    std::string groundPlane;
    std::vector<MeshFile> sources;
    std::optional<MeshFile> cage;
    bool keepMissMap = false;
    PanelSettings settings;
    std::string output;
    int threads = 0;
    Check check;
    std::optional<ImageChannels> channels;
    int bitDepth = 16;

    int Threads() const { return threads > 0 ? threads : ProcessorsAvailable(); }
    // A mesh file as read; throws SessionError naming it.
    MeshFile Read(const std::string& path) const;
};

BakeSession::BakeSession(HostHooks hooks, const std::string& pluginFolder) : state_(std::make_unique<State>())
{
    state_->hooks = std::move(hooks);
    state_->plugin = LoadDunsmere(pluginFolder);
}

BakeSession::~BakeSession() = default;

MeshFile BakeSession::State::Read(const std::string& path) const
{
    try {
        return ReadMeshFile(path, {1.0, nullptr, std::nullopt, Threads()});
    } catch (const MeshFileError& e) {
        throw SessionError(e.what());
    }
}

void BakeSession::AddMeshFile(const std::string& path)
{
    state_->nodes.push_back(std::make_unique<SceneNode>(NodeName(path), state_->Read(path)));
}

void BakeSession::AddMesh(const std::string& name, const std::vector<float>& vertices,
                          const std::vector<std::uint32_t>& faces, const std::vector<float>& uvs)
{
    state_->nodes.push_back(std::make_unique<SceneNode>(name, MeshOf(name, vertices, faces, uvs)));
}

void BakeSession::AddMesh(MeshFile file)
{
    CheckMeshFile(file);
    const std::string name = file.path;
    state_->nodes.push_back(std::make_unique<SceneNode>(name, std::move(file)));
}

void BakeSession::AddOccluder(MeshFile file)
{
    CheckMeshFile(file);
    state_->occluders.push_back(std::move(file));
}

void BakeSession::AddOccluderFile(const std::string& path) { state_->occluders.push_back(state_->Read(path)); }

void BakeSession::AddOccluder(const std::string& name, const std::vector<float>& vertices,
                              const std::vector<std::uint32_t>& faces)
{
    state_->occluders.push_back(MeshOf(name, vertices, faces, {}));
}

void BakeSession::SetGroundPlane(const std::string& axis) { state_->groundPlane = axis; }

void BakeSession::AddSourceFile(const std::string& path) { state_->sources.push_back(state_->Read(path)); }
void BakeSession::AddSource(const std::string& name, const std::vector<float>& vertices,
                            const std::vector<std::uint32_t>& faces)
{
    state_->sources.push_back(MeshOf(name, vertices, faces, {}));
}
void BakeSession::AddSource(MeshFile file)
{
    CheckMeshFile(file);
    state_->sources.push_back(std::move(file));
}
void BakeSession::SetCage(MeshFile file)
{
    CheckMeshFile(file);
    state_->cage = std::move(file);
}
void BakeSession::KeepMissMap(bool keep) { state_->keepMissMap = keep; }

void BakeSession::SetAlgorithm(const std::string& algorithm) { state_->settings.algorithm = algorithm; }
void BakeSession::Type(const std::string& option, double value)
{
    state_->settings.numbers.emplace_back(option, value);
}
void BakeSession::Tick(const std::string& option, bool on) { state_->settings.ticks.emplace_back(option, on); }
void BakeSession::SetOutput(const std::string& path) { state_->output = path; }
void BakeSession::SetThreads(int threads) { state_->threads = threads; }
void BakeSession::SetCheck(Check check)
{
    state_->check = std::move(check);
}
void BakeSession::SetImageLayout(const std::string& channels, int bitDepth)
{
    if (!channels.empty() && !ImageChannelsNamed(channels)) throw SessionError("no image channels \"" + channels + "\"");
    if (bitDepth != 8 && bitDepth != 16) throw SessionError("a bit depth is 8 or 16, not " + std::to_string(bitDepth));
    state_->channels = channels.empty() ? std::nullopt : ImageChannelsNamed(channels);
    state_->bitDepth = bitDepth;
}

BakeOutcome BakeSession::Generate()
{
    State& s = *state_;
    BakeOutcome result;
    HostHooks hooks = s.hooks;
    hooks.message = [&result, forward = s.hooks.message](const std::string& text, MessageKind kind) {
        result.messages.push_back(text);
        return forward ? forward(text, kind) : false;
    };
    // No settings directory: every generation starts from the plug-in's
    // defaults and saves nothing.
    StandaloneHost host("", std::move(hooks));
    host.printDialogs = false;
    host.workerThreads = s.Threads();
    for (const auto& node : s.nodes) host.selection.push_back(node.get());
    for (const MeshFile& file : s.occluders)
        host.occluders.push_back(std::make_unique<SceneNode>(NodeName(file.path), file));
    if (!s.groundPlane.empty()) AddOccluders(host, {}, s.groundPlane);
    for (const MeshFile& file : s.sources)
        host.sources.push_back(std::make_unique<SceneNode>(NodeName(file.path), file));
    if (s.cage) host.cage = std::make_unique<SceneNode>(NodeName(s.cage->path), *s.cage);
    host.keepMissMap = s.keepMissMap;
    PanelSettings settings = s.settings;
    if (!host.occluders.empty()) settings.ticks.insert(settings.ticks.begin(), {"scene-occluders", true});
    if (!host.sources.empty()) settings.ticks.insert(settings.ticks.begin(), {"high-poly", true});
    TimedBitmapManager bitmaps(s.output, host.timings);
    bitmaps.SetWriteThreads(host.workerThreads);
    bitmaps.KeepPixels();

    const BakeTurn turn([&host] { return host.CancelAsked(); });
    if (!turn.Held()) {
        result.end = BakeOutcome::End::kCancelled;
        return result;
    }
    std::optional<BakeAlgorithm> algorithm;
    // What the check changed, put back before the host and its nodes go,
    // also when the generation throws.
    struct PutBack {
        std::function<void()> undo;
        void Now()
        {
            if (undo) std::exchange(undo, nullptr)();
        }
        ~PutBack() { Now(); }
    } putBack;
    WithUtilityOpen(turn, host, bitmaps, s.plugin, [&](const Panel& panel) {
        ApplySettings(panel, settings);
        algorithm = panel.Algorithm();
        CheckOutput(s.output, algorithm, s.nodes.size());
        CheckCage(host);
        if (s.bitDepth == 8 && ImageFormatOf(s.output) == ImageFormat::kExr)
            throw SessionError("cannot write " + s.output + " at 8 bits: an OpenEXR map holds half floats");
        bitmaps.SetWriteLayout(s.channels, s.bitDepth, panel.IsTicked("coverage-alpha"));
        if (s.check) putBack.undo = s.check(panel, host);
        result.algorithm = algorithm;
        result.filter = panel.MapFilter();
        panel.Press("generate");
        host.timings.Record(RunTimings::kClose);
    });
    putBack.Now();
    result.projection = std::move(host.outcome.projection);
    result.bakeSeconds = host.timings.Seconds(RunTimings::kBuild, RunTimings::kWrite);
    result.writeSeconds = host.timings.Seconds(RunTimings::kWrite, RunTimings::kClose);

    const RunOutcome& run = host.outcome;
    using End = BakeOutcome::End;
    if (run.cancelReached || host.CancelAsked()) {
        result.end = End::kCancelled;
        // The partial map, where the user answered Yes to saving it.
        if (algorithm == BakeAlgorithm::kUVMap && bitmaps.Written()) result.map = KeptMap(bitmaps);
    } else if (run.refused) {
        result.end = End::kRefused;
    } else if (algorithm == BakeAlgorithm::kUVMap) {
        result.end = bitmaps.Written() ? End::kDone : End::kFailed;
        result.error = bitmaps.Error();
        if (bitmaps.Written()) result.map = KeptMap(bitmaps);
    } else if (run.completed) {
        result.end = End::kDone;
        for (const auto& node : s.nodes) result.colours.push_back(CornerColours(node->CurrentMesh()));
        if (!s.output.empty() && algorithm == BakeAlgorithm::kVertexColors) {
            try {
                WriteMeshFile(s.nodes[0]->File(), s.nodes[0]->CurrentMesh(), s.output, host.workerThreads);
            } catch (const MeshFileError& e) {
                result.end = End::kFailed;
                result.error = e.what();
            }
        }
    }
    return result;
}

}  // namespace dunsmere
