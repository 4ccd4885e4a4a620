// A text mesh file's bytes, read whole before parsing.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace dunsmere {

struct WholeFile {
    std::unique_ptr<char[]> bytes;
    size_t size = 0;
    std::string_view text() const { return {bytes.get(), size}; }
};

// The bytes of PATH; throws MeshFileError naming it where it cannot be opened
// or read. THREADS above 1 reads a large file's parts side by side, so that
// the copying and the first touch of the memory are shared out too. A file
// that turns out longer than its length said is read again, to its end.
WholeFile ReadWholeFile(const std::string& path, int threads);

}  // namespace dunsmere
