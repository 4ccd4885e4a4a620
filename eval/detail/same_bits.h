// Whether a table a run was built from is still what it would be built
// from now: compared by bit patterns, not values, since a -0 or a NaN that
// changed makes another scene.
#pragma once

#include <cstring>
#include <type_traits>
#include <vector>

#include "host/mesh.h"

namespace dunsmere {

template <class T>
bool SameBits(const std::vector<T>& a, const std::vector<T>& b)
{
    static_assert(std::is_trivially_copyable_v<T>);
    return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0);
}

// Positions and faces alike.
inline bool SameGeometry(const Mesh& a, const Mesh& b) { return SameBits(a.verts, b.verts) && SameBits(a.faces, b.faces); }

}  // namespace dunsmere
