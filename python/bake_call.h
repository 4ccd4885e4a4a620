// One bake from Python: the session runs on a thread of its own while the
// calling thread waits with the GIL released, waking every 100 ms to report
// progress and to let the interpreter see a signal.
#pragma once

#include <pybind11/pybind11.h>

#include <atomic>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "app/session/panel_settings.h"
#include "app/session/session.h"

namespace dunsmere {

// dunsmere.BakeRefused and dunsmere.Cancelled.
struct BakeRefused : std::runtime_error {
    using std::runtime_error::runtime_error;
};
struct Cancelled : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// dunsmere.CancelToken: set from any thread, read by the bake it was given to.
struct CancelToken {
    std::atomic<bool> set{false};
};

// What the panel is told, by the command's option names, and the scene
// around the mesh.
struct BakeRequest {
    PanelSettings settings;
    // Typed as the command types them, the mesh scaled by a power of two
    // for a distance outside the panel's range.
    std::optional<float> distance, noiseSize;
    std::optional<double> distanceRelative;
    std::vector<std::shared_ptr<const MeshFile>> occluders;
    std::string groundPlane;
    // A bake from high-poly meshes: the sources in order, the cage, the
    // reach in mesh units (converted to the panel's fractions of the mesh's
    // diagonal, as the command converts --ray-distance), and whether the
    // miss map comes back.
    std::vector<std::shared_ptr<const MeshFile>> sources;
    std::shared_ptr<const MeshFile> cage;
    std::optional<std::pair<double, double>> rayDistance;
    bool keepMissMap = false;
    int threads = 0;
    // The answer to "save the partial map?" after a cancel.
    bool keepPartial = false;
};

// Bakes MESH (copied into the session; none for a scene with nothing
// selected, which the plug-in refuses in its own words), refusing as the command does what
// it would refuse before its bake (BakeRefused), calling PROGRESS (None or a
// callable taking a fraction) as it goes. Raises KeyboardInterrupt after a
// Ctrl-C, the progress callback's own exception, or RuntimeError when
// called from a thread that is already waiting for a bake; every other end
// comes back in the outcome.
// SESSION_SECONDS, when given, gets the time the session's Generate took.
// A projection's reach comes back in the mesh's own units, whatever power
// of two the distance scaled the meshes by.
BakeOutcome Bake(const MeshFile* mesh, const BakeRequest& request, const pybind11::object& progress,
                 const std::shared_ptr<CancelToken>& cancel, double* sessionSeconds = nullptr);

}  // namespace dunsmere
