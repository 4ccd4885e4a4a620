// Opening the files a model refers to only from beneath the model's own
// folder, so that a downloaded model cannot have the importer read
// ../../etc/passwd (or follow a link there) and hand its bytes back as
// coordinates.
#pragma once

#include <string>
#include <string_view>

namespace dunsmere {

// REFERENCE with every %XX decoded; a '%' not followed by two hex digits
// stays as it is.
std::string PercentDecoded(std::string_view reference);

// Whether the (percent-decoded) REFERENCE leaves its folder by its spelling
// alone: an absolute path, a URI scheme ("file:", "http:" ...), or a ".."
// that climbs above where it started. Links are the open's to catch.
bool LeavesFolder(std::string_view reference);

enum class BeneathRoute {
    kKernel,  // openat2 with RESOLVE_BENEATH, or kWalk where the kernel has none
    kWalk,    // openat one component at a time, reading each link itself
};

// Opens the regular file RELATIVE for reading beneath the directory FOLDER
// (an open descriptor), following links only while they stay beneath it.
// Returns the descriptor (close-on-exec), or -1 with errno: EXDEV when the
// path or a link on it leads out of FOLDER, an absolute link included;
// EISDIR, ENXIO and the like for what is not a regular file; otherwise
// openat's own. Never blocks on a FIFO or a device.
int OpenBeneath(int folder, const std::string& relative, BeneathRoute route = BeneathRoute::kKernel);

}  // namespace dunsmere
