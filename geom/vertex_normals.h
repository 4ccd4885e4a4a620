// Smoothed vertex normals by smoothing group.
//
// Each vertex keeps a short list of nodes, one per set of related smoothing
// groups meeting there (plus one per extra face without a group). Faces that
// share a group at a vertex see one averaged normal; unrelated groups see
// their own. Between corners the normal is interpolated by barycentric weight.
//
// Build and Clear run on the user-interface thread while no worker runs (a
// build may share its work out over threads it is lent);
// InterpolatedNormal and FindNormal only read and may be called from any
// number of threads at once.
#pragma once

#include "geom/ray_scene.h"
#include "host/mesh.h"
#include "host/tab.h"

namespace dunsmere {

struct NormalNode {
    Point3 normal;           // the sum of added face vectors; unit length after the build
    DWORD smGroups = 0;      // union of the added faces' smoothing bits
    NormalNode* next = nullptr;  // owned
    int initialised = 0;     // 0 only in a fresh head before any face was added

    // Adds a face vector to the first node that shares a bit with `bits`, or
    // to a fresh head; otherwise appends a node at the end.
    void AddFaceNormal(const Point3& n, DWORD bits);
    // The first node sharing a bit with `bits`; the last node when none does
    // (so `bits` 0 always gives the last node).
    const NormalNode& FindNormal(DWORD bits) const;
    // Folds every later node that shares a bit with an earlier one into it
    // (the absorbing node keeps its own bits), then normalises every node.
    void MergeAndNormalize();
};

class VertexNormals {
public:
    VertexNormals() = default;
    ~VertexNormals();
    VertexNormals(const VertexNormals&) = delete;
    VertexNormals& operator=(const VertexNormals&) = delete;

    // Replaces any previous lists by those of `mesh`, the same lists on any
    // number of the threads `helpers` lends. A face with a vertex index past
    // the vertex count adds nothing.
    void BuildVertexNormals(const Mesh& mesh, const BuildHelpers& helpers = {});

    // w0*N0 + w1*N1 + w2*N2 of the corner nodes serving the face's own
    // smoothing mask; not normalised.
    Point3 InterpolatedNormal(const Face& face, float w0, float w1, float w2) const;

    // Frees every list and sets the count to 0; the table's storage stays.
    void ClearVertexNormals();
    // Frees the table's storage too.
    void Release();

    int Count() const { return heads_.Count(); }
    // Head of vertex v's list, through the table's index check; null when out of range.
    const NormalNode* Head(int v) const { return heads_[v]; }

private:
    Tab<NormalNode*> heads_;
};

}  // namespace dunsmere
