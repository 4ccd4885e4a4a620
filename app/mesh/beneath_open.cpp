#include "app/mesh/beneath_open.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <vector>

namespace dunsmere {

namespace {

// Non-blocking, so that a FIFO in the folder cannot stall the importer
// before the check that it is a regular file.
constexpr int kReadFlags = O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
// As many links as the kernel follows in one path.
constexpr int kMaxLinks = 40;

int HexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsSchemeChar(char c) { return IsLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'; }

// PATH's components onto TODO, the first one last, "." and empty ones left out.
void PushComponents(std::vector<std::string>& todo, std::string_view path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        if (!part.empty() && part != ".") parts.emplace_back(part);
        start = end + 1;
    }
    todo.insert(todo.end(), parts.rbegin(), parts.rend());
}

int KernelOpen(int folder, const std::string& relative)
{
    open_how how{};
    how.flags = kReadFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    for (int tries = 0;; ++tries) {
        const long fd = syscall(SYS_openat2, folder, relative.c_str(), &how, sizeof how);
        if (fd >= 0) return static_cast<int>(fd);
        // A rename raced a "..": the kernel leaves it to us to try again.
        if (errno != EAGAIN) return -1;
        if (tries == 8) {
            errno = EXDEV;
            return -1;
        }
    }
}

// What openat2 does, by hand: each component opened without following
// links, and each link read and walked in its place, so that ".." is
// counted against the folder and an absolute target is refused.
int WalkOpen(int folder, std::string_view relative)
{
    std::vector<std::string> todo;
    PushComponents(todo, relative);
    std::vector<int> dirs;  // walked into, below FOLDER
    auto here = [&] { return dirs.empty() ? folder : dirs.back(); };
    int links = 0;
    int result = -1;
    int error = EISDIR;  // the walk ended on a folder
    while (!todo.empty()) {
        const std::string name = std::move(todo.back());
        todo.pop_back();
        if (name == "..") {
            if (dirs.empty()) {
                error = EXDEV;
                break;
            }
            close(dirs.back());
            dirs.pop_back();
            continue;
        }
        const bool last = todo.empty();
        const int fd = openat(here(), name.c_str(), (last ? kReadFlags : O_PATH | O_DIRECTORY | O_CLOEXEC) | O_NOFOLLOW);
        if (fd >= 0 && last) {
            result = fd;
            break;
        }
        if (fd >= 0) {
            dirs.push_back(fd);
            continue;
        }
        error = errno;
        char target[PATH_MAX];
        const ssize_t n = readlinkat(here(), name.c_str(), target, sizeof target);
        if (n <= 0 || n == static_cast<ssize_t>(sizeof target)) break;  // no link: the open's own error
        if (target[0] == '/') {
            error = EXDEV;
            break;
        }
        if (++links > kMaxLinks) {
            error = ELOOP;
            break;
        }
        PushComponents(todo, std::string_view(target, static_cast<size_t>(n)));
    }
    for (const int fd : dirs) close(fd);
    if (result < 0) errno = error;
    return result;
}

}  // namespace

std::string PercentDecoded(std::string_view reference)
{
    std::string out;
    out.reserve(reference.size());
    for (size_t i = 0; i < reference.size(); ++i) {
        const int high = reference[i] == '%' && i + 2 < reference.size() ? HexDigit(reference[i + 1]) : -1;
        const int low = high >= 0 ? HexDigit(reference[i + 2]) : -1;
        if (low < 0) {
            out += reference[i];
            continue;
        }
        out += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return out;
}

bool LeavesFolder(std::string_view reference)
{
    if (reference.starts_with('/')) return true;
    const size_t colon = reference.find(':');
    if (colon != std::string_view::npos && colon < reference.find('/') && colon > 0) {
        const std::string_view scheme = reference.substr(0, colon);
        bool isScheme = IsLetter(scheme[0]);
        for (const char c : scheme) isScheme = isScheme && IsSchemeChar(c);
        if (isScheme) return true;
    }
    std::vector<std::string> todo;
    PushComponents(todo, reference);
    int depth = 0;
    for (auto it = todo.rbegin(); it != todo.rend(); ++it)
        if ((depth += *it == ".." ? -1 : 1) < 0) return true;
    return false;
}

int OpenBeneath(int folder, const std::string& relative, BeneathRoute route)
{
    int fd = route == BeneathRoute::kKernel ? KernelOpen(folder, relative) : -1;
    // A kernel without openat2 says ENOSYS; a container's system-call filter
    // that does not know it may say EPERM, which the call itself never
    // returns for a file (a permission is EACCES). The walk keeps the rule.
    if (route == BeneathRoute::kWalk || (fd < 0 && (errno == ENOSYS || errno == EPERM)))
        fd = WalkOpen(folder, relative);
    if (fd < 0) return -1;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) return fd;
    close(fd);
    errno = S_ISDIR(info.st_mode) ? EISDIR : ENXIO;
    return -1;
}

}  // namespace dunsmere
