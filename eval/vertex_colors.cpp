#include "eval/vertex_colors.h"

#include <cstdio>
#include <new>
#include <vector>

#include "eval/face_values.h"
#include "eval/host_hooks.h"
#include "eval/messages.h"
#include "eval/occluders.h"
#include "eval/settings_range.h"
#include "eval/workers.h"
#include "host/core.h"

namespace dunsmere {

namespace {

struct VertexAccum {
    int count = 0;
    float sum = 0.0f;
};

DWORD NoProgress(void*) { return 0; }

// Colour vertices reached from each vertex through the colour faces, each
// listed once per vertex: the write phase's mapping, linear in faces plus
// vertices.
struct ColourTargets {
    std::vector<int> offset;  // per vertex, into target
    std::vector<int> target;
    // The last vertex that wrote each colour vertex: a colour vertex shared by
    // several corners of one vertex is scaled once for it.
    std::vector<int> stamp;

    void Build(const Mesh& mesh, int colourCount)
    {
        const int faceCount = mesh.getNumFaces();
        const TVFace* vc = mesh.vcFace();
        offset.assign(static_cast<size_t>(colourCount) + 1, 0);
        for (int f = 0; f < faceCount; ++f)
            for (int k = 0; k < 3; ++k) {
                const DWORD v = mesh.faces[static_cast<size_t>(f)].v[k];
                if (v < static_cast<DWORD>(colourCount)) ++offset[v + 1];
            }
        for (size_t i = 1; i < offset.size(); ++i) offset[i] += offset[i - 1];
        target.assign(static_cast<size_t>(offset.back()), -1);
        stamp.assign(static_cast<size_t>(colourCount), -1);
        std::vector<int> fill(offset.begin(), offset.end() - 1);
        for (int f = 0; f < faceCount; ++f)
            for (int k = 0; k < 3; ++k) {
                const DWORD v = mesh.faces[static_cast<size_t>(f)].v[k];
                if (v >= static_cast<DWORD>(colourCount)) continue;
                const DWORD j = vc ? vc[f].t[k] : v;
                target[static_cast<size_t>(fill[v]++)] = j < static_cast<DWORD>(colourCount) ? static_cast<int>(j) : -1;
            }
    }
};

void NotifyChanged(INode& node)
{
    node.NotifyDependents(FOREVER, PART_GEOM, REFMSG_CHANGE, NOTIFY_ALL, 1, nullptr);
    node.NotifyDependents(FOREVER, PART_TOPO, REFMSG_CHANGE, NOTIFY_ALL, 1, nullptr);
}

}  // namespace

void GenerateVertexColors(Interface& ip, const UtilitySettings& settings, RunTables& tables, ThreadStarter& starter)
{
    if (RefuseUnservableSettings(ip, settings, SettingsUse::kVertexColors)) return;
    // Made before the bar starts: a host's hooks allocate nothing later.
    const BakeHooks hooks = HostBakeHooks(ip, starter);
    if (ip.GetSelNodeCount() != 1) {
        ShowInfo(ip, kSelectOneNode);
        return;
    }
    INode* node = ip.GetSelNode(0);
    Object* obj = node ? node->GetObjectRef() : nullptr;
    if (obj && obj->KindCode() == kWrapperObjectKind) obj = obj->GetWrappedObject();
    if (!obj || !obj->CanConvertToType(kTriObjectClassID)) {
        ShowInfo(ip, kNoTriObject);
        return;
    }
    TriObject* tri = obj->ConvertToType(ip.GetTime(), kTriObjectClassID);
    if (!tri) {
        ShowInfo(ip, kNoTriObject);
        return;
    }
    if (tri != obj) {
        ShowInfo(ip, kNotEditableMesh);
        tri->DeleteThis();
        return;
    }

    Mesh& mesh = tri->GetMesh();
    if (const char* refusal = TakeSources(ip, settings, mesh, tables)) {
        ShowInfo(ip, refusal);
        return;
    }
    tables.currentMesh = &mesh;
    ip.ProgressStart(kVertexProgressTitle, 1, &NoProgress, nullptr);
    const int vertCount = mesh.getNumVerts();
    const int faceCount = mesh.getNumFaces();
    // Accumulating into a channel with fewer colour vertices than vertices
    // would multiply freshly reset black; such a run writes the levels as a
    // replacing run does. So does one into a channel with fewer colour faces
    // than faces (a mesh from another host): the faces past its end name no
    // colour vertices to multiply.
    const bool prepare =
        !settings.addVertexColors || mesh.getNumVertCol() < vertCount || mesh.getNumVCFaces() < faceCount;
    const bool replace = prepare;
    int colourCount = 0;

    // The occluders, a build step, the colour channel or the run's own
    // arrays running out of memory ends the run as the workers do when they
    // run out.
    FaceValueBake bake(mesh, settings, tables, hooks);
    BakeStatus status = BakeStatus::kOutOfMemory;
    std::vector<VertexAccum> accum;
    ColourTargets targets;
    try {
        tables.occluders = GatherOccluders(ip, settings);
        status = bake.Prepare();
        if (status == BakeStatus::kDone) {
            if (prepare) {
                mesh.setNumVertCol(vertCount, false);
                mesh.setNumVCFaces(faceCount, false, 0);
                for (int i = 0; i < vertCount; ++i) mesh.vertCol()[i] = Point3{};
                for (int f = 0; f < faceCount; ++f) {
                    const Face& face = mesh.faces[static_cast<size_t>(f)];
                    mesh.vcFace()[f].setTVerts(face.v[0], face.v[1], face.v[2]);
                }
            }
            colourCount = mesh.getNumVertCol();
            accum.resize(static_cast<size_t>(colourCount));
            targets.Build(mesh, colourCount);
        }
    } catch (const std::bad_alloc&) {
        status = BakeStatus::kOutOfMemory;
    }

    if (status == BakeStatus::kDone) status = bake.Evaluate();
    if (settings.highPoly && (status == BakeStatus::kDone || status == BakeStatus::kCancelled))
        ip.ProjectionDone(tables.projection.Report(bake.Projected()));
    if (status == BakeStatus::kDone) {
        const FaceValues& values = bake.Values();
        for (int f = 0; f < faceCount; ++f) {
            if (!values.evaluated[static_cast<size_t>(f)]) continue;
            const float value = values.value[static_cast<size_t>(f)];
            for (DWORD v : mesh.faces[static_cast<size_t>(f)].v) {
                VertexAccum& a = accum[v];
                a.count += 1;
                a.sum += value;
            }
        }
        VertColor* colours = mesh.vertCol();
        for (int i = 0; i < colourCount; ++i) {
            if (i % 100 == 0) ip.ProgressUpdate(90 + static_cast<int>((10LL * i) / colourCount), 1, nullptr);
            if (ip.GetCancel()) {
                status = BakeStatus::kCancelled;
                break;
            }
            const VertexAccum& a = accum[static_cast<size_t>(i)];
            float value = a.count > 0 ? a.sum / static_cast<float>(a.count) : a.sum;
            if (value > 1.0f) value = 1.0f;
            if (!(value >= 0.0f)) value = 0.0f;
            const float level = 1.0f - value;
            for (int t = targets.offset[static_cast<size_t>(i)]; t < targets.offset[static_cast<size_t>(i) + 1]; ++t) {
                const int j = targets.target[static_cast<size_t>(t)];
                if (j < 0 || targets.stamp[static_cast<size_t>(j)] == i) continue;
                targets.stamp[static_cast<size_t>(j)] = i;
                VertColor& c = colours[j];
                c = replace ? VertColor{level, level, level} : VertColor{c.x * level, c.y * level, c.z * level};
            }
        }
    }

    ip.ProgressEnd();
    if (status == BakeStatus::kThreadStartFailed) {
        ShowInfo(ip, kThreadStartFailure);
    } else if (status == BakeStatus::kOutOfMemory) {
        ShowInfo(ip, kOutOfMemory);
    } else if (status == BakeStatus::kDone) {
        char text[256];
        std::snprintf(text, sizeof text, "Smurl calculation complete\nelapsed time = %d secs",
                      static_cast<int>(ip.Time() - bake.WorkersStarted()));
        ip.MessageBox(text, kMessageTitle, MB_OK);
    }

    tables.currentMesh = nullptr;
    tables.vertexNormals.ClearVertexNormals();
    NotifyChanged(*node);
}

}  // namespace dunsmere
