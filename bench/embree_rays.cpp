#include "embree_rays.h"

#include <embree3/rtcore.h>

#include <chrono>
#include <stdexcept>

namespace {

constexpr float kFrontFacing = -0.0001f;

void FrontFacingOnly(const RTCFilterFunctionNArguments* args)
{
    const auto* normals = static_cast<const Point3*>(args->geometryUserPtr);
    for (unsigned i = 0; i < args->N; ++i) {
        if (args->valid[i] != -1) continue;
        const Point3& n = normals[RTCHitN_primID(args->hit, args->N, i)];
        const float d = n.x * RTCRayN_dir_x(args->ray, args->N, i) + n.y * RTCRayN_dir_y(args->ray, args->N, i) +
                        n.z * RTCRayN_dir_z(args->ray, args->N, i);
        if (!(d <= kFrontFacing)) args->valid[i] = 0;
    }
}

}  // namespace

const char* EmbreeVersion() { return RTC_VERSION_STRING; }

struct EmbreeScene::Impl {
    RTCDevice device = nullptr;
    RTCScene scene = nullptr;
};

EmbreeScene::EmbreeScene(const Mesh& mesh, const Tab<Point3>& faceNormals) : impl_(std::make_unique<Impl>())
{
    impl_->device = rtcNewDevice(nullptr);
    if (!impl_->device) throw std::runtime_error("Embree: no device");
    const auto start = std::chrono::steady_clock::now();
    impl_->scene = rtcNewScene(impl_->device);
    rtcSetSceneBuildQuality(impl_->scene, RTC_BUILD_QUALITY_HIGH);
    RTCGeometry geometry = rtcNewGeometry(impl_->device, RTC_GEOMETRY_TYPE_TRIANGLE);
    const int verts = mesh.getNumVerts(), faces = mesh.getNumFaces();
    auto* v = static_cast<float*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_VERTEX, 0, RTC_FORMAT_FLOAT3,
                                                          3 * sizeof(float), static_cast<size_t>(verts)));
    for (int i = 0; i < verts; ++i) {
        const Point3& p = mesh.verts[static_cast<size_t>(i)];
        v[3 * i] = p.x;
        v[3 * i + 1] = p.y;
        v[3 * i + 2] = p.z;
    }
    auto* idx = static_cast<unsigned*>(rtcSetNewGeometryBuffer(geometry, RTC_BUFFER_TYPE_INDEX, 0, RTC_FORMAT_UINT3,
                                                               3 * sizeof(unsigned), static_cast<size_t>(faces)));
    for (int f = 0; f < faces; ++f)
        for (int k = 0; k < 3; ++k) idx[3 * f + k] = mesh.faces[static_cast<size_t>(f)].v[k];
    rtcSetGeometryUserData(geometry, const_cast<Point3*>(&faceNormals[0]));
    rtcSetGeometryIntersectFilterFunction(geometry, &FrontFacingOnly);
    rtcCommitGeometry(geometry);
    rtcAttachGeometry(impl_->scene, geometry);
    rtcReleaseGeometry(geometry);
    rtcCommitScene(impl_->scene);
    buildSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

EmbreeScene::~EmbreeScene()
{
    if (impl_->scene) rtcReleaseScene(impl_->scene);
    if (impl_->device) rtcReleaseDevice(impl_->device);
}

int EmbreeScene::Intersect(const Ray& ray, float& hitDistance, float maxDistance) const
{
    RTCIntersectContext context;
    rtcInitIntersectContext(&context);
    RTCRayHit rh{};
    rh.ray.org_x = ray.p.x;
    rh.ray.org_y = ray.p.y;
    rh.ray.org_z = ray.p.z;
    rh.ray.dir_x = ray.dir.x;
    rh.ray.dir_y = ray.dir.y;
    rh.ray.dir_z = ray.dir.z;
    rh.ray.tnear = 0.0f;
    rh.ray.tfar = maxDistance;
    rh.ray.mask = ~0u;
    rh.hit.geomID = RTC_INVALID_GEOMETRY_ID;
    rh.hit.instID[0] = RTC_INVALID_GEOMETRY_ID;
    rtcIntersect1(impl_->scene, &context, &rh);
    if (rh.hit.geomID == RTC_INVALID_GEOMETRY_ID) return 0;
    hitDistance = rh.ray.tfar;
    return 1;
}
