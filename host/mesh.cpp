#include "host/mesh.h"

#include <algorithm>

namespace {
size_t Size(int n) { return n > 0 ? static_cast<size_t>(n) : 0u; }
bool ValidChannel(int mp) { return mp >= 0 && mp < kMaxMapChannels; }
}  // namespace

void Mesh::setNumVerts(int n, bool keep)
{
    if (!keep) verts.clear();
    verts.resize(Size(n));
}

void Mesh::setNumFaces(int n, bool keep)
{
    if (!keep) faces.clear();
    faces.resize(Size(n));
    faceSel.SetSize(n, keep);
    for (MapChannel& ch : maps_) {
        if (!ch.support) continue;
        if (!keep) ch.tf.clear();
        ch.tf.resize(Size(n));
    }
}

bool Mesh::mapSupport(int mp) const { return ValidChannel(mp) && maps_[static_cast<size_t>(mp)].support; }

void Mesh::setMapSupport(int mp, bool support)
{
    if (!ValidChannel(mp)) return;
    MapChannel& ch = maps_[static_cast<size_t>(mp)];
    ch.support = support;
    if (support) {
        ch.tf.resize(faces.size());
    } else {
        ch.tv.clear();
        ch.tf.clear();
    }
}

int Mesh::getNumMapVerts(int mp) const
{
    return ValidChannel(mp) ? static_cast<int>(maps_[static_cast<size_t>(mp)].tv.size()) : 0;
}

void Mesh::setNumMapVerts(int mp, int n, bool keep)
{
    if (!ValidChannel(mp)) return;
    if (!mapSupport(mp)) setMapSupport(mp, true);
    MapChannel& ch = maps_[static_cast<size_t>(mp)];
    if (!keep) ch.tv.clear();
    ch.tv.resize(Size(n));
}

UVVert* Mesh::mapVerts(int mp)
{
    return mapSupport(mp) ? maps_[static_cast<size_t>(mp)].tv.data() : nullptr;
}
const UVVert* Mesh::mapVerts(int mp) const
{
    return mapSupport(mp) ? maps_[static_cast<size_t>(mp)].tv.data() : nullptr;
}
TVFace* Mesh::mapFaces(int mp)
{
    return mapSupport(mp) ? maps_[static_cast<size_t>(mp)].tf.data() : nullptr;
}
const TVFace* Mesh::mapFaces(int mp) const
{
    return mapSupport(mp) ? maps_[static_cast<size_t>(mp)].tf.data() : nullptr;
}

void Mesh::setNumVertCol(int n, bool keep) { setNumMapVerts(0, n, keep); }

int Mesh::getNumVCFaces() const { return static_cast<int>(maps_[0].tf.size()); }

void Mesh::setNumVCFaces(int n, bool keep, int oldCount)
{
    MapChannel& ch = maps_[0];
    ch.support = true;
    const size_t kept = keep ? std::min(Size(oldCount), ch.tf.size()) : 0u;
    ch.tf.resize(kept);
    ch.tf.resize(Size(n));
}
