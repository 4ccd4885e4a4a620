// An assimp scene flattened into one welded triangle list.
//
// The node graph is walked depth first, each node's meshes before its
// children, without recursion, so the depth of a graph costs heap, not
// stack. Every mesh a node refers to is placed by that node's world
// transform (a mesh under two nodes comes in twice). A node graph must be a
// tree: a node met a second time is an error "node N has more than one
// parent", N counting the nodes in the order the walk first meets them from
// 0 for the root, so the graph is never walked more than once per node.
//
// Vertices with exactly the same position are welded into one; assimp gives
// each face corner of most formats its own vertex. Texture coordinates and
// colours stay with the corners (ImportedScene::flatCount), and so do the
// normals, where the caller says the file's normals count. Points and lines
// are left out and counted.
#pragma once

#include <string>

#include "app/mesh/import_scene.h"

struct aiScene;

namespace dunsmere {

// Whether the normals in a scene are the file's own word on its surface.
enum class FileNormals { kIgnore, kKeep };

// Throws MeshFileError naming PATH for what the scene cannot give: a node
// with more than one parent, a mesh index out of range, a mesh without
// positions, a normal that is not a number, a face index out of range, no
// triangles at all.
ImportedScene FlattenScene(const aiScene& scene, const std::string& path,
                           FileNormals normals = FileNormals::kIgnore);

}  // namespace dunsmere
