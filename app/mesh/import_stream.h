// The import child's answer on its pipe: a versioned, length-prefixed
// binary layout, and its decoder, which treats the bytes as hostile input.
//
// Layout, in the byte order of the machine (both ends are the same program):
//   "DSMI"  u32 version (2)  u32 kind (1 scene, 2 error)  u64 payload bytes
//   then the payload. An error's payload is its message. A scene's is
//   u32 n, n x 3 f32 positions; u32 n, n x 7 u32 triangles (v, flat,
//   material); u32 flatCount; u32 mask of the UV sets present, then each
//   present set as flatCount x 3 f32; u32 0 or 1, then 1 as flatCount x 3 f32
//   colours; u32 0 or 1, then 1 as flatCount x 3 f32 normals; u32 n,
//   n x (u32 length, bytes) material names; u64 points and lines ignored.
#pragma once

#include <string>
#include <string_view>

#include "app/mesh/import_scene.h"

namespace dunsmere {

std::string EncodeImportedScene(const ImportedScene& scene);
std::string EncodeImportError(std::string_view message);

// The scene in BYTES, checked as any input file is: every count against the
// bytes there are (a stream cut short, or with bytes left over, is refused),
// every index against its range, every number finite, at least one triangle.
// Throws MeshFileError naming PATH: the child's own message for an error
// answer, else what is wrong with the stream.
ImportedScene DecodeImportAnswer(std::string_view bytes, const std::string& path);

}  // namespace dunsmere
