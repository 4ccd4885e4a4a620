// Embree as the ceiling the ray scene is measured against: the same faces,
// nearest hit within the distance, and an intersection filter that keeps
// only hits on faces that face the ray, by the same rule and the same face
// normals as IntersectRay (N . D <= -0.0001). Embree's own triangle test
// differs, so its hits agree with ours only up to edges and grazing rays.
#pragma once

#include <memory>

#include "host/mesh.h"
#include "host/ray.h"
#include "host/tab.h"

// The library's version, as "3.13.5".
const char* EmbreeVersion();

class EmbreeScene {
public:
    // Builds at Embree's highest quality. `faceNormals` must outlive the scene.
    EmbreeScene(const Mesh& mesh, const Tab<Point3>& faceNormals);
    ~EmbreeScene();
    EmbreeScene(const EmbreeScene&) = delete;
    EmbreeScene& operator=(const EmbreeScene&) = delete;

    // 1 with the nearest accepted t in hitDistance, or 0. Any thread.
    int Intersect(const Ray& ray, float& hitDistance, float maxDistance) const;

    double BuildSeconds() const { return buildSeconds_; }

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    double buildSeconds_ = 0.0;
};
