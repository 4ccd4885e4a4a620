// A file being written: a fresh temporary beside its target that Commit
// renames over the target. Until then the target is untouched, and a pending
// file destroyed without a commit removes its temporary, so a failed write
// leaves neither half a file nor a stray temporary.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "host/temporary_files.h"

namespace dunsmere {

class PendingFile {
public:
    // Creates the temporary in TARGET's directory; throws MeshFileError.
    explicit PendingFile(std::string target);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& target() const { return target_; }

    // Appends BYTES; throws MeshFileError.
    void Write(std::string_view bytes);
    // Syncs, closes and renames the temporary over the target; throws
    // MeshFileError and then leaves no temporary behind.
    void Commit();

    // For writers that move around in their file (assimp's exporters). They
    // report failure instead of throwing: false, or SIZE_MAX from Tell/Size.
    bool TryWrite(const void* data, std::size_t size);
    bool Seek(long long offset, int whence);
    std::size_t Tell() const;
    std::size_t Size() const;
    // The first failure of the calls above, or an empty string.
    const std::string& failure() const { return failure_; }

private:
    [[noreturn]] void Fail(const char* what, int error);
    void Discard() { file_.reset(); }
    int fd() const { return file_ ? file_->fd() : -1; }

    std::string target_;
    std::unique_ptr<TemporaryFile> file_;
    std::string failure_;
};

}  // namespace dunsmere
