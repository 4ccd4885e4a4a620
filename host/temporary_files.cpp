#include "host/temporary_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cerrno>
#include <climits>
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
constexpr char kMark[] = ".dunsmere-";
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
// to a whole UTF-8 character within the stem limit, between the marks that
// make it hidden and ours.
std::string TemporaryPrefix(const std::string& name)
{
    size_t keep = std::min(name.size(), kTemporaryStemBytes);
    while (keep > 0 && keep < name.size() && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
    return "." + name.substr(0, keep) + kMark;
}

// Whether [FIRST, LAST) is a non-empty run of decimal digits.
bool AllDigits(const char* first, const char* last)
{
    if (first == last) return false;
    for (; first != last; ++first)
        if (*first < '0' || *first > '9') return false;
    return true;
}

// An exclusive flock on FD, taken without waiting: 0, or -1 with errno.
int TryLock(int fd)
{
    int r;
    while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    return r;
}

// Whether DIRFD/NAME is the file open at FD.
bool StillNamed(int fd, int dirfd, const char* name)
{
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::fstatat(dirfd, name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Temporaries in DIR that nobody alive holds: what killed runs left, ours
// or another tool's copy of us, whatever their process ids now mean.
void RemoveAbandonedTemporaries(const std::string& dir)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    while (const dirent* entry = ::readdir(d)) {
        if (!IsTemporaryName(entry->d_name)) continue;
        const int fd = LockAbandoned(::dirfd(d), entry->d_name, false);
        if (fd < 0) continue;
        // Unlinked while locked, so that no writer can own it meanwhile.
        (void)::unlinkat(::dirfd(d), entry->d_name, 0);
        ::close(fd);
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


bool IsTemporaryName(const char* name)
{
    // ".NAME" + kMark + "PID-COUNT.tmp", read from the end.
    const size_t length = std::strlen(name);
    constexpr size_t kTail = 4, kMarkBytes = sizeof kMark - 1;
    if (name[0] != '.' || length < 2 + kMarkBytes + 3 + kTail || std::strcmp(name + length - kTail, ".tmp") != 0)
        return false;
    const char* end = name + length - kTail;
    const char* dash = end;
    while (dash > name && dash[-1] != '-') --dash;
    if (dash == name || !AllDigits(dash, end)) return false;
    const char* pid = dash - 1;
    while (pid > name && pid[-1] != '-') --pid;
    if (pid - name < static_cast<std::ptrdiff_t>(1 + 1 + kMarkBytes) || !AllDigits(pid, dash - 1)) return false;
    return std::strncmp(pid - kMarkBytes, kMark, kMarkBytes) == 0;
}

bool LockWhileNamed(int fd, int dirfd, const char* name)
{
    // Where the file system keeps no locks the file goes on unlocked: no
    // sweep can take it either, so it is only ever its owner's.
    if (TryLock(fd) != 0 && errno == EWOULDBLOCK) return false;
    return StillNamed(fd, dirfd, name);
}

int LockAbandoned(int dirfd, const char* name, bool create)
{
    // Never a link's file, and never stuck opening a FIFO that took the name.
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
    int fd = ::openat(dirfd, name, O_RDONLY | flags, 0600);
    // A temporary takes its target's permissions; write-only ones too.
    if (fd < 0 && errno == EACCES) fd = ::openat(dirfd, name, O_WRONLY | flags, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || TryLock(fd) != 0 || !StillNamed(fd, dirfd, name)) {
        ::close(fd);
        return -1;
    }
    return fd;
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
    RemoveAbandonedTemporaries(DirectoryOf(target_));
    // The process id and a counter keep this process's temporaries apart;
    // O_EXCL settles the rest.
    static std::atomic<unsigned> counter{0};
    const size_t slash = target_.rfind('/');
    const std::string head = slash == std::string::npos ? "" : target_.substr(0, slash + 1);
    const std::string stem = head + TemporaryPrefix(NameOf(target_)) + std::to_string(::getpid()) + "-";
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
            // A sweep that found it before it was locked removes it: a
            // fresh name then.
            if (fd_ >= 0 && !LockWhileNamed(fd_, AT_FDCWD, path_.c_str())) {
                ::close(fd_);
                fd_ = -1;
                errno = EEXIST;
            }
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
    // Unlinked before it is closed: until then its lock keeps sweeps away.
    if (!path_.empty()) ::unlink(path_.c_str());
    if (fd_ >= 0) ::close(fd_);
    ForgetTemporaryFile(slot_);
}

bool TemporaryFile::Write(const void* data, std::size_t size)
{
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        if (fd_ < 0 || committing_) {
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
    if (fd_ < 0 || committing_) {
        errno = (fd_ < 0 && error_ != 0) ? error_ : EBADF;
        return false;
    }
    // One try: what fails here leaves the temporary to the destructor.
    committing_ = true;
    // Synced first: after the rename the target must hold the whole file
    // even if the machine stops.
    int fault = Fault(FileStep::kSync, target_);
    if (fault != 0 || ::fsync(fd_) != 0) {
        if (fault != 0) errno = fault;
        return false;
    }
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
        // Renamed while still locked, so that no sweep takes it on the way.
        if (::rename(path_.c_str(), target_.c_str()) != 0) return false;
        path_.clear();
        ForgetTemporaryFile(slot_);
        slot_ = -1;
    }
    // The data is synced and in place: a failing close changes nothing.
    ::close(fd_);
    fd_ = -1;
    // Makes the rename itself durable; a file system that cannot sync a
    // directory has still renamed atomically, so a failure here is not one.
    const int dfd = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        (void)::fsync(dfd);
        ::close(dfd);
    }
    return true;
}
