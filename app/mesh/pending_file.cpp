#include "app/mesh/pending_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "app/mesh/mesh_file.h"

namespace dunsmere {

namespace {

std::string ErrorText(int error) { return std::system_category().message(error); }

}  // namespace

PendingFile::PendingFile(std::string target)
    : target_(std::move(target)), file_(std::make_unique<TemporaryFile>(target_))
{
    if (file_->fd() < 0) {
        const int error = file_->error();
        file_.reset();
        throw MeshFileError(target_, "cannot create a file beside it: " + ErrorText(error));
    }
}

PendingFile::~PendingFile() = default;

void PendingFile::Fail(const char* what, int error)
{
    Discard();
    throw MeshFileError(target_, std::string("cannot ") + what + ": " + ErrorText(error));
}

bool PendingFile::TryWrite(const void* data, std::size_t size)
{
    if (size == 0) return true;
    if (file_ && file_->Write(data, size)) return true;
    if (failure_.empty()) failure_ = ErrorText(file_ ? errno : EBADF);
    return false;
}

void PendingFile::Write(std::string_view bytes)
{
    if (!TryWrite(bytes.data(), bytes.size())) {
        const std::string why = failure_;
        Discard();
        throw MeshFileError(target_, "cannot write: " + why);
    }
}

bool PendingFile::Seek(long long offset, int whence)
{
    if (::lseek(fd(), static_cast<off_t>(offset), whence) >= 0) return true;
    if (failure_.empty()) failure_ = ErrorText(errno);
    return false;
}

std::size_t PendingFile::Tell() const
{
    const off_t at = ::lseek(fd(), 0, SEEK_CUR);
    return at < 0 ? SIZE_MAX : static_cast<std::size_t>(at);
}

std::size_t PendingFile::Size() const
{
    struct stat st {};
    return ::fstat(fd(), &st) != 0 ? SIZE_MAX : static_cast<std::size_t>(st.st_size);
}

void PendingFile::Commit()
{
    if (!failure_.empty()) {
        const std::string why = failure_;
        Discard();
        throw MeshFileError(target_, "cannot write: " + why);
    }
    if (!file_) Fail("write", EBADF);
    if (!file_->Commit()) Fail("replace it", errno);
    file_.reset();
}

}  // namespace dunsmere
