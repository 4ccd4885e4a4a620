#include "host/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// A slot is free, being filled by its writer, holds a complete path, or
// holds the path of a write a cancel has abandoned.
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2, kAbandoned = 3 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[kTemporaryPathBytes];
};

Slot g_slots[kTemporarySlots];
std::atomic<FileFaultHook> g_faultHook{nullptr};

// A handler may only touch atomics that need no lock.
static_assert(std::atomic<int>::is_always_lock_free);

int Fault(FileStep step, const std::string& target)
{
    const FileFaultHook hook = g_faultHook.load(std::memory_order_acquire);
    return hook ? hook(step, target.c_str()) : 0;
}

// Every signal held back for the scope's life.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &old_);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t old_;
};

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The start of every temporary name of a target called NAME: the name cut
// to a whole UTF-8 character within the stem limit, and a dot.
std::string TemporaryPrefix(const std::string& name)
{
    size_t keep = std::min(name.size(), kTemporaryStemBytes);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return name.substr(0, keep) + ".";
}

// The process id in REST when it reads "PID-COUNT.tmp"; 0 otherwise.
pid_t TemporaryOwner(const char* rest)
{
    char* end = nullptr;
    errno = 0;
    const long pid = std::strtol(rest, &end, 10);
    if (errno != 0 || end == rest || *end != '-' || pid <= 0 || pid > INT_MAX || rest[0] < '0' || rest[0] > '9')
        return 0;
    const char* count = end + 1;
    if (*count < '0' || *count > '9') return 0;
    while (*count >= '0' && *count <= '9') ++count;
    return std::strcmp(count, ".tmp") == 0 ? static_cast<pid_t>(pid) : 0;
}

// Temporaries with PREFIX in DIR whose process has ended: what a killed run
// left behind. A process that still exists, ours or another's, keeps its own.
void RemoveStaleTemporaries(const std::string& dir, const std::string& prefix)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(d)) {
        if (std::strncmp(entry->d_name, prefix.c_str(), prefix.size()) != 0) continue;
        const pid_t owner = TemporaryOwner(entry->d_name + prefix.size());
        if (owner == 0 || owner == self) continue;
        if (::kill(owner, 0) != 0 && errno == ESRCH) (void)::unlinkat(::dirfd(d), entry->d_name, 0);
    }
    ::closedir(d);
}

}  // namespace

// PATH with its symbolic links followed to the file they lead to (which need
// not exist yet); PATH itself when a link cannot be read or there are too
// many.
std::string FollowLinks(const std::string& path)
{
    std::string at = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), buffer, sizeof buffer);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) return path;
        const std::string link(buffer, static_cast<size_t>(n));
        at = link[0] == '/' ? link : DirectoryOf(at) + "/" + link;
    }
    return path;
}


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
    for (const Slot& slot : g_slots) {
        const int state = slot.state.load(std::memory_order_acquire);
        if (state == kReady || state == kAbandoned) ::unlink(slot.path);
    }
}

void AbandonTemporaryFiles()
{
    for (Slot& slot : g_slots) {
        int expected = kReady;
        slot.state.compare_exchange_strong(expected, kAbandoned);
    }
}

void SetFileFaultHook(FileFaultHook hook) { g_faultHook.store(hook, std::memory_order_release); }

TemporaryFile::TemporaryFile(const std::string& target) : target_(FollowLinks(target))
{
    const std::string dir = DirectoryOf(target_);
    const std::string prefix = TemporaryPrefix(NameOf(target_));
    RemoveStaleTemporaries(dir, prefix);
    // The process id and a counter keep this process's temporaries apart;
    // O_EXCL settles the rest.
    static std::atomic<unsigned> counter{0};
    const size_t slash = target_.rfind('/');
    const std::string head = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string stem = head + prefix + std::to_string(::getpid()) + "-";
    if (const int fault = Fault(FileStep::kCreate, target_)) {
        error_ = fault;
        return;
    }
    {
        const SignalsHeld held;
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
    }
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) (void)::fchmod(fd_, old.st_mode & 07777);
}

TemporaryFile::~TemporaryFile()
{
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
    ForgetTemporaryFile(slot_);
}

bool TemporaryFile::Write(const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (fd_ < 0) {
            errno = EBADF;
            return false;
        }
        if (const int fault = Fault(FileStep::kWrite, target_)) {
            errno = fault;
            return false;
        }
        const ssize_t n = ::write(fd_, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
        unsynced_ += static_cast<std::size_t>(n);
    }
    if (unsynced_ >= kWritebackBytes) {
        unsynced_ = 0;
#if defined(__linux__)
        // The whole file, as a writer that seeks dirties pages anywhere; a
        // failure here shows again at the sync, which reports it.
        (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
    }
    return true;
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
    int fault = Fault(FileStep::kSync, target_);
    if (fault != 0 || ::fsync(fd) != 0) {
        const int error = fault ? fault : errno;
        ::close(fd);
        errno = error;
        return false;
    }
    if (::close(fd) != 0) return false;
    fault = Fault(FileStep::kRename, target_);
    {
        // A cancel either comes before this check, and the old file stays,
        // or after the rename, and the write is complete.
        const SignalsHeld held;
        const bool abandoned = slot_ >= 0 && g_slots[slot_].state.load(std::memory_order_acquire) == kAbandoned;
        if (abandoned || fault != 0) {
            errno = abandoned ? ECANCELED : fault;
            return false;
        }
        if (::rename(path_.c_str(), target_.c_str()) != 0) return false;
        path_.clear();
        ForgetTemporaryFile(slot_);
        slot_ = -1;
    }
    // Makes the rename itself durable; a file system that cannot sync a
    // directory has still renamed atomically, so a failure here is not one.
    const int dfd = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return true;
}
