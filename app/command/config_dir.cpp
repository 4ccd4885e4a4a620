#include "app/command/config_dir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

#include "app/command/command.h"
#include "app/command/signals.h"
#include "host/runtime.h"
#include "host/temporary_files.h"

namespace dunsmere {

namespace fs = std::filesystem;

namespace {

constexpr const char* kSettingsFile = "Dunsmere.ini";
constexpr const char* kScratchPrefix = "dunsmere-run-";
// Held by the run that owns a scratch directory for its whole life.
constexpr const char* kOwnerLock = ".owner.lock";

// Creates DIR and any missing parents; true when DIR is then a directory.
bool MakeDirectories(const std::string& dir)
{
    for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
        const std::string prefix = dir.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat st {};
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string WithoutTrailingSlashes(std::string path)
{
    while (!path.empty() && path.back() == '/') path.pop_back();
    return path;
}

// $XDG_CONFIG_HOME/dunsmere or $HOME/.config/dunsmere; "" when neither is set.
std::string XdgConfigDir()
{
    std::string base;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    // A relative XDG_CONFIG_HOME is invalid and ignored, as the XDG
    // base-directory rules require.
    if (xdg && xdg[0] == '/') base = xdg;
    else if (home && home[0] != '\0') base = WithoutTrailingSlashes(home) + "/.config";
    else return "";
    return WithoutTrailingSlashes(base) + "/dunsmere";
}

enum class Read { kRead, kMissing, kFailed };

// A regular file's bytes (links followed).
Read ReadRegularFile(const std::string& path, std::string& bytes, int& error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = errno;
        return errno == ENOENT ? Read::kMissing : Read::kFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        error = EISDIR;
        return Read::kFailed;
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    if (!in && !in.eof()) {
        error = EIO;
        return Read::kFailed;
    }
    bytes = s.str();
    return Read::kRead;
}

// Replaces TARGET by BYTES under the lock the plug-in's own saves take
// (TARGET.lock), so that a copy never interleaves with a save.
bool ReplaceLocked(const std::string& target, const std::string& bytes)
{
    const int lock = ::open((target + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (lock < 0) return false;
    bool locked = true;
    while (::flock(lock, LOCK_EX) != 0)
        if (errno != EINTR) {
            locked = false;
            break;
        }
    bool done = false;
    if (locked) {
        TemporaryFile temp(target);
        done = temp.fd() >= 0 && temp.Write(bytes.data(), bytes.size()) && temp.Commit();
    }
    const int saved = errno;
    ::close(lock);
    errno = saved;
    return done;
}

// Everything in the scratch directory DIR but its lock, then the lock and
// the directory, while the caller holds the lock.
void RemoveScratch(const std::string& dir)
{
    std::error_code ec;
    for (const fs::directory_entry& entry : fs::directory_iterator(dir, ec))
        if (entry.path().filename() != kOwnerLock) fs::remove_all(entry.path(), ec);
    (void)::unlink((dir + "/" + kOwnerLock).c_str());
    (void)::rmdir(dir.c_str());
}

// The scratch directories in TEMP, ours, that no live run holds: what
// killed runs left. One without a lock (killed before it took one) gets one
// here, so that its run, if it is only starting, sees it taken and moves on.
void RemoveAbandonedScratch(const std::string& temp)
{
    DIR* d = ::opendir(temp.c_str());
    if (!d) return;
    const uid_t self = ::geteuid();
    while (const dirent* entry = ::readdir(d)) {
        if (std::strncmp(entry->d_name, kScratchPrefix, std::strlen(kScratchPrefix)) != 0) continue;
        struct stat st {};
        if (::fstatat(::dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
            st.st_uid != self)
            continue;
        const std::string name = entry->d_name;
        const int lock = LockAbandoned(::dirfd(d), (name + "/" + kOwnerLock).c_str(), true);
        if (lock < 0) continue;
        RemoveScratch(temp + "/" + name);
        ::close(lock);
    }
    ::closedir(d);
}

}  // namespace

std::string CommandConfigDir()
{
    try {
        const std::string dir = XdgConfigDir();
        return !dir.empty() && MakeDirectories(dir) ? dir : "";
    } catch (...) {
        return "";
    }
}

std::string RealConfigDir(const CommandOptions& o)
{
    return o.configDir.empty() ? XdgConfigDir() : WithoutTrailingSlashes(o.configDir);
}

RunConfigDir::RunConfigDir(const CommandOptions& o) : real_(RealConfigDir(o))
{
    std::string from;
    if (!o.preset.empty()) {
        from = o.preset;
    } else if (o.last) {
        if (real_.empty())
            throw CommandError(kExitUsage, "--last: no configuration directory to start from (set --config-dir)");
        from = real_ + "/" + kSettingsFile;
    }
    std::string bytes;
    int error = 0;
    const Read read = from.empty() ? Read::kMissing : ReadRegularFile(from, bytes, error);
    // A preset must be there; the last run's file may not be yet.
    if (read == Read::kFailed || (read == Read::kMissing && !o.preset.empty()))
        throw CommandError(kExitUsage, "cannot read " + from + ": " + std::strerror(error));
    if (read == Read::kRead) startedFrom_ = from;

    std::error_code ec;
    const std::string temp = fs::temp_directory_path(ec).string();
    RemoveAbandonedScratch(temp);
    // A sweep by another run may take a directory between its making and
    // its locking; it then removes it, and a fresh one is made.
    for (int attempt = 0; attempt < 100 && owner_ < 0; ++attempt) {
        std::string pattern = (fs::path(temp) / (std::string(kScratchPrefix) + "XXXXXX")).string();
        if (!::mkdtemp(pattern.data())) break;
        const std::string lock = pattern + "/" + kOwnerLock;
        owner_ = ::open(lock.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        const bool taken = owner_ < 0 ? errno == ENOENT : !LockWhileNamed(owner_, AT_FDCWD, lock.c_str());
        if (owner_ >= 0 && !taken) {
            path_ = pattern;
            break;
        }
        if (owner_ >= 0) ::close(owner_);
        owner_ = -1;
        (void)::rmdir(pattern.c_str());  // fails, harmlessly, under a sweep
        if (!taken) break;
    }
    if (owner_ < 0) throw CommandError(kExitUsage, "cannot make a scratch settings directory in " + temp);
    const std::string file = File(), lock = file + ".lock", owner = path_ + "/" + kOwnerLock;
    RemoveAtSecondSignal({file.c_str(), lock.c_str(), owner.c_str(), path_.c_str()});
    if (read == Read::kRead) start_ = std::move(bytes);
    try {
        Restart();
    } catch (...) {
        Discard();
        throw;
    }
}

void RunConfigDir::Restart() const
{
    std::error_code ec;
    fs::remove(File(), ec);
    if (startedFrom_.empty()) return;
    std::ofstream out(File(), std::ios::binary | std::ios::trunc);
    out << start_;
    if (!out.flush()) throw CommandError(kExitUsage, "cannot copy " + startedFrom_ + " to " + File());
}

RunConfigDir::~RunConfigDir() { Discard(); }

void RunConfigDir::Discard() noexcept
{
    // Removed while still locked, so that no sweep takes it on the way.
    std::error_code ec;
    fs::remove_all(path_, ec);
    RemoveAtSecondSignal({});
    ::close(owner_);
}

std::string RunConfigDir::File() const { return path_ + "/" + kSettingsFile; }

bool RunConfigDir::CopyBack() const
{
    if (real_.empty()) {
        DebugPrint("dunsmere: no configuration directory; settings not saved\n");
        return false;
    }
    std::string bytes;
    int error = 0;
    const Read read = ReadRegularFile(File(), bytes, error);
    if (read == Read::kMissing) return true;
    const std::string target = real_ + "/" + kSettingsFile;
    const bool made = read == Read::kRead && MakeDirectories(real_);
    if (!made || !ReplaceLocked(target, bytes)) {
        DebugPrint("dunsmere: settings not saved to %s (%s)\n", target.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}

std::string RunConfigDir::CopyTo(const std::string& target) const
{
    std::string bytes;
    int error = 0;
    if (ReadRegularFile(File(), bytes, error) != Read::kRead) return "the run saved no settings";
    TemporaryFile temp(target);
    if (temp.fd() >= 0 && temp.Write(bytes.data(), bytes.size()) && temp.Commit()) return "";
    return std::strerror(temp.fd() < 0 ? temp.error() : errno);
}

}  // namespace dunsmere
