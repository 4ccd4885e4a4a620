#include "app/pending_file.h"

#include "app/temporary_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "app/mesh_files.h"

namespace {

std::string ErrorText(int error) { return std::system_category().message(error); }

// Distinguishes the temporaries of one process; O_EXCL settles the rest.
std::atomic<unsigned> g_counter{0};

}  // namespace

PendingFile::PendingFile(std::string target) : target_(std::move(target))
{
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? std::string() : target_.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target_ : target_.substr(slash + 1);
    for (int attempt = 0; fd_ < 0; ++attempt) {
        // Hidden and named after the target, so a leftover from a killed
        // process says where it came from.
        temporary_ = dir + "." + base + ".tmp" + std::to_string(::getpid()) + "." +
                     std::to_string(g_counter.fetch_add(1));
        // 0666 lets the umask decide, as for any new file.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && (errno != EEXIST || attempt >= 100)) {
            const int error = errno;
            temporary_.clear();
            throw MeshFileError(target_ + ": cannot create a file beside it: " + ErrorText(error));
        }
    }
    slot_ = RememberTemporaryFile(temporary_.c_str());
    // A file written over keeps its permissions.
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd_, old.st_mode & 07777);
}

PendingFile::~PendingFile() { Discard(); }

void PendingFile::Discard()
{
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
    temporary_.clear();
    ForgetTemporaryFile(slot_);
    slot_ = -1;
}

void PendingFile::Fail(const char* what, int error)
{
    Discard();
    throw MeshFileError(target_ + ": cannot " + what + ": " + ErrorText(error));
}

bool PendingFile::TryWrite(const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0 && fd_ >= 0) {
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (failure_.empty()) failure_ = ErrorText(n < 0 ? errno : EIO);
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return size == 0;
}

void PendingFile::Write(std::string_view bytes)
{
    if (!TryWrite(bytes.data(), bytes.size())) {
        const std::string why = failure_;
        Discard();
        throw MeshFileError(target_ + ": cannot write: " + why);
    }
}

bool PendingFile::Seek(long long offset, int whence)
{
    if (::lseek(fd_, static_cast<off_t>(offset), whence) >= 0) return true;
    if (failure_.empty()) failure_ = ErrorText(errno);
    return false;
}

std::size_t PendingFile::Tell() const
{
    const off_t at = ::lseek(fd_, 0, SEEK_CUR);
    return at < 0 ? SIZE_MAX : static_cast<std::size_t>(at);
}

std::size_t PendingFile::Size() const
{
    struct stat st {};
    return ::fstat(fd_, &st) != 0 ? SIZE_MAX : static_cast<std::size_t>(st.st_size);
}

void PendingFile::Commit()
{
    if (!failure_.empty()) {
        const std::string why = failure_;
        Discard();
        throw MeshFileError(target_ + ": cannot write: " + why);
    }
    // Synced first: after the rename the target must hold the whole file
    // even if the machine stops.
    if (::fsync(fd_) != 0) Fail("write", errno);
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) Fail("write", errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) Fail("replace it", errno);
    temporary_.clear();
    ForgetTemporaryFile(slot_);
    slot_ = -1;
}
