#include "app/mesh/beneath_io.h"

#include <assimp/IOStream.hpp>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "app/mesh/beneath_open.h"

namespace dunsmere {

namespace {

// A file opened here, read through stdio. Assimp's own stream would take
// the file's size from its name, which need not be the file opened.
class FileStream : public Assimp::IOStream {
public:
    explicit FileStream(FILE* file) : file_(file) {}
    ~FileStream() override { fclose(file_); }
    FileStream(const FileStream&) = delete;
    FileStream& operator=(const FileStream&) = delete;

    size_t Read(void* buffer, size_t size, size_t count) override
    {
        return size > 0 && count > 0 ? fread(buffer, size, count, file_) : 0;
    }
    size_t Write(const void*, size_t, size_t) override { return 0; }
    aiReturn Seek(size_t offset, aiOrigin origin) override
    {
        const int whence = origin == aiOrigin_SET ? SEEK_SET : origin == aiOrigin_CUR ? SEEK_CUR : SEEK_END;
        if (offset > static_cast<size_t>(INT64_MAX)) return aiReturn_FAILURE;
        return fseeko(file_, static_cast<off_t>(offset), whence) == 0 ? aiReturn_SUCCESS : aiReturn_FAILURE;
    }
    size_t Tell() const override
    {
        const off_t at = ftello(file_);
        return at < 0 ? 0 : static_cast<size_t>(at);
    }
    size_t FileSize() const override
    {
        struct stat info {};
        return fstat(fileno(file_), &info) == 0 ? static_cast<size_t>(info.st_size) : 0;
    }
    void Flush() override {}

private:
    FILE* file_;
};

}  // namespace

BeneathIOSystem::BeneathIOSystem(std::string model) : model_(std::move(model))
{
    const size_t slash = model_.rfind('/');
    prefix_ = slash == std::string::npos ? "" : model_.substr(0, slash + 1);
    folder_ = open(prefix_.empty() ? "." : prefix_.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

BeneathIOSystem::~BeneathIOSystem()
{
    if (folder_ >= 0) close(folder_);
}

int BeneathIOSystem::OpenFile(const std::string& path, std::string* refused) const
{
    if (path == model_) return open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    const bool inFolder = path.starts_with(prefix_);
    const std::string reference = inFolder ? path.substr(prefix_.size()) : path;
    const std::string decoded = PercentDecoded(reference);
    int fd = -1;
    if (inFolder && !LeavesFolder(decoded)) {
        fd = OpenBeneath(folder_, reference);
        // A URI's escapes name the file; a plain name may hold a '%' of its own.
        if (fd < 0 && errno == ENOENT && decoded != reference && decoded.find('\0') == std::string::npos)
            fd = OpenBeneath(folder_, decoded);
        if (fd >= 0 || errno != EXDEV) return fd;
    }
    if (refused) *refused = reference;
    return -1;
}

// A probe records no refusal: assimp probes its own guesses at a path after
// any failed open, and only an open is the model asking for a file.
bool BeneathIOSystem::Exists(const char* path) const
{
    const int fd = path ? OpenFile(path, nullptr) : -1;
    if (fd >= 0) close(fd);
    return fd >= 0;
}

Assimp::IOStream* BeneathIOSystem::Open(const char* path, const char* mode)
{
    // Reading is all an import does.
    if (!path || !mode || mode[0] != 'r') return nullptr;
    std::string refused;
    const int fd = OpenFile(path, &refused);
    if (fd < 0) {
        if (!refused.empty() && refusal_.empty()) refusal_ = "refers to " + refused + " outside its folder";
        return nullptr;
    }
    FILE* file = fdopen(fd, "rb");
    if (!file) {
        close(fd);
        return nullptr;
    }
    return new FileStream(file);
}

void BeneathIOSystem::Close(Assimp::IOStream* stream) { delete stream; }

}  // namespace dunsmere
