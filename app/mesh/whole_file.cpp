#include "app/mesh/whole_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <vector>

#include "app/mesh/mesh_file.h"
#include "app/mesh/run_parts.h"

namespace dunsmere {

namespace {

// Each part at least this much: a thread costs more to start than a smaller
// read takes.
constexpr size_t kPartBytes = size_t{1} << 20;

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

[[noreturn]] void CannotRead(const std::string& path, int error)
{
    throw MeshFileError(path, "cannot read: " + std::system_category().message(error));
}

// Reads [AT, END) of FD into BYTES at the same place: the bytes read, fewer
// where the file ends first, or -errno.
long long ReadRange(int fd, char* bytes, size_t at, size_t end)
{
    const size_t start = at;
    while (at < end) {
        const ssize_t n = pread(fd, bytes + at, end - at, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -errno;
        if (n == 0) break;
        at += static_cast<size_t>(n);
    }
    return static_cast<long long>(at - start);
}

}  // namespace

WholeFile ReadWholeFile(const std::string& path, int threads)
{
    const Descriptor fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) throw MeshFileError(path, "cannot open: " + std::system_category().message(errno));
    struct stat info {};
    if (fstat(fd.get(), &info) != 0) CannotRead(path, errno);
    const size_t size = info.st_size > 0 ? static_cast<size_t>(info.st_size) : 0;
    WholeFile file;
    // Not zeroed first: each part's thread touches its own memory first.
    file.bytes = std::make_unique_for_overwrite<char[]>(size + 1);
    const int parts = PartsFor(size, kPartBytes, threads);
    std::vector<long long> got(static_cast<size_t>(parts));
    RunParts(parts, [&](int k) {
        const size_t at = PartBegin(size, k, parts), end = PartBegin(size, k + 1, parts);
        got[static_cast<size_t>(k)] = ReadRange(fd.get(), file.bytes.get(), at, end);
    });
    bool whole = true;
    for (int k = 0; k < parts; ++k) {
        const long long n = got[static_cast<size_t>(k)];
        if (n < 0) CannotRead(path, static_cast<int>(-n));
        whole = whole && static_cast<size_t>(n) == PartBegin(size, k + 1, parts) - PartBegin(size, k, parts);
    }
    // The byte past the end tells a file that grew, or one whose length
    // says nothing (a kernel's file reads as size 0).
    long long more = ReadRange(fd.get(), file.bytes.get(), size, size + 1);
    if (more < 0) CannotRead(path, static_cast<int>(-more));
    if (whole && more == 0) {
        file.size = size;
        return file;
    }
    // Otherwise from the start to the end, growing as it goes.
    size_t have = 0, room = size + 1;
    for (;;) {
        if (have == room) {
            const size_t grown = room + (room < kPartBytes ? kPartBytes : room / 2);
            std::unique_ptr<char[]> bigger = std::make_unique_for_overwrite<char[]>(grown);
            std::memcpy(bigger.get(), file.bytes.get(), have);
            file.bytes = std::move(bigger);
            room = grown;
        }
        more = ReadRange(fd.get(), file.bytes.get(), have, room);
        if (more < 0) CannotRead(path, static_cast<int>(-more));
        if (more == 0) break;
        have += static_cast<size_t>(more);
    }
    file.size = have;
    return file;
}

}  // namespace dunsmere
