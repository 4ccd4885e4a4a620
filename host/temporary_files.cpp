#include "host/temporary_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace {

// A slot is free, being filled by its writer, or holds a complete path.
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[kTemporaryPathBytes];
};

Slot g_slots[kTemporarySlots];

// A handler may only touch atomics that need no lock.
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

int RememberTemporaryFile(const char* path)
{
    if (!path) return -1;
    const std::size_t length = std::strlen(path);
    if (length == 0 || length >= kTemporaryPathBytes) return -1;
    for (int i = 0; i < kTemporarySlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].path, path, length + 1);
        // Published only once whole: a handler never unlinks a partial name.
        g_slots[i].state.store(kReady, std::memory_order_release);
        return i;
    }
    return -1;
}

void ForgetTemporaryFile(int slot)
{
    if (slot < 0 || slot >= kTemporarySlots) return;
    g_slots[slot].state.store(kFree, std::memory_order_release);
}

void RemoveTemporaryFiles()
{
    for (const Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kReady) ::unlink(slot.path);
}

TemporaryFile::TemporaryFile(const std::string& target) : target_(target)
{
    // The process id and a counter keep this process's temporaries apart;
    // O_EXCL settles the rest.
    static std::atomic<unsigned> counter{0};
    const std::string stem = target + "." + std::to_string(::getpid()) + "-";
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        path_ = stem + std::to_string(counter.fetch_add(1)) + ".tmp";
        // 0666 lets the umask decide, as for any new file.
        fd_ = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        error_ = errno;
        path_.clear();
        return;
    }
    slot_ = RememberTemporaryFile(path_.c_str());
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd_, old.st_mode & 07777);
}

TemporaryFile::~TemporaryFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
    ForgetTemporaryFile(slot_);
}

bool TemporaryFile::Commit()
{
    if (fd_ < 0) {
        errno = error_ ? error_ : EBADF;
        return false;
    }
    // Synced first: after the rename the target must hold the whole file
    // even if the machine stops.
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return false;
    }
    if (::close(fd) != 0 || ::rename(path_.c_str(), target_.c_str()) != 0) return false;
    path_.clear();
    ForgetTemporaryFile(slot_);
    slot_ = -1;
    // Makes the rename itself durable; a file system that cannot sync a
    // directory has still renamed atomically, so a failure here is not one.
    const size_t slash = target_.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target_.substr(0, slash));
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return true;
}
