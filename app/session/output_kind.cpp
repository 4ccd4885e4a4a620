#include "app/session/output_kind.h"

#include "app/image/image_files.h"
#include "app/mesh/mesh_files.h"
#include "app/session/session.h"

namespace dunsmere {

void CheckOutputKind(const std::string& output, std::optional<BakeAlgorithm> algorithm)
{
    if (algorithm == BakeAlgorithm::kUVMap && !IsSupportedImagePath(output))
        throw SessionError("cannot write " + output + ": a map is written as " + SupportedImageExtensions());
    if (algorithm == BakeAlgorithm::kVertexColors && !CanWriteMesh(output))
        throw SessionError("cannot write " + output + ": vertex colours are written as " + WritableMeshExtensions());
}

}  // namespace dunsmere
