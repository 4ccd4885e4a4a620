// The command built for failure tests: one failure, named by the
// environment, that a real disk or a root-run process cannot be made to
// give on cue.
//
//   DUNSMERE_TEST_FAULT="create|write|sync|rename N WHAT [SUFFIX]"
//     the Nth such step (every one for N = *) of a temporary whose target
//     ends with SUFFIX gets WHAT: ENOSPC, EIO or EACCES fails it; SIGINT,
//     SIGTERM or SIGHUP is raised in the writing thread and the step then
//     goes on; 2xSIGINT raises SIGINT, waits 250 ms (past the window in
//     which a second signal is part of the first cancel) and raises it
//     again.
//   DUNSMERE_TEST_FAULT="alloc N BYTES"
//     the Nth allocation through operator new of at least BYTES fails.
//
// At exit it reports every regular file the process opened and left open
// ("fault hook: left open PATH"), so that a test sees a descriptor that was
// never closed; those it was started with are not its own.
#include <dirent.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <sys/stat.h>

#include "host/temporary_files.h"

namespace {

struct Fault {
    char step[16] = {};
    long n = 0;
    char what[32] = {};
    char suffix[256] = {};
    long bytes = 0;  // alloc
};

Fault g_fault;
std::atomic<long> g_seen{0};
std::atomic<bool> g_allocArmed{false};
bool g_inherited[1024] = {};

int ErrnoOf(const char* what)
{
    if (std::strcmp(what, "ENOSPC") == 0) return ENOSPC;
    if (std::strcmp(what, "EIO") == 0) return EIO;
    if (std::strcmp(what, "EACCES") == 0) return EACCES;
    return 0;
}

int SignalOf(const char* what)
{
    if (std::strcmp(what, "SIGINT") == 0) return SIGINT;
    if (std::strcmp(what, "SIGTERM") == 0) return SIGTERM;
    if (std::strcmp(what, "SIGHUP") == 0) return SIGHUP;
    return 0;
}

const char* StepName(FileStep step)
{
    switch (step) {
    case FileStep::kWrite: return "write";
    case FileStep::kSync: return "sync";
    case FileStep::kRename: return "rename";
    case FileStep::kCreate: return "create";
    }
    return "";
}

bool EndsWith(const char* text, const char* suffix)
{
    const size_t a = std::strlen(text), b = std::strlen(suffix);
    return a >= b && std::strcmp(text + a - b, suffix) == 0;
}

int OnFileStep(FileStep step, const char* target)
{
    if (std::strcmp(StepName(step), g_fault.step) != 0 || !EndsWith(target, g_fault.suffix)) return 0;
    if (g_seen.fetch_add(1) + 1 != g_fault.n && g_fault.n != 0) return 0;
    const bool twice = std::strncmp(g_fault.what, "2x", 2) == 0;
    if (const int sig = SignalOf(g_fault.what + (twice ? 2 : 0))) {
        raise(sig);
        if (twice) {
            usleep(250 * 1000);
            raise(sig);
        }
        return 0;
    }
    return ErrnoOf(g_fault.what);
}

// Calls FN with every descriptor open now but the directory's own.
template <class Fn>
void ForEachOpen(Fn&& fn)
{
    DIR* d = opendir("/proc/self/fd");
    if (!d) return;
    while (const dirent* entry = readdir(d)) {
        const int fd = std::atoi(entry->d_name);
        if (fd > 2 && fd != dirfd(d)) fn(fd);
    }
    closedir(d);
}

void ReportOpenFiles()
{
    ForEachOpen([](int fd) {
        if (fd < 1024 && g_inherited[fd]) return;
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
        char link[64], path[4096] = {};
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
        const ssize_t n = readlink(link, path, sizeof path - 1);
        // The loaded libraries are mapped, not open; anything left is ours.
        std::fprintf(stderr, "fault hook: left open %s\n", n > 0 ? path : "?");
    });
}

struct Install {
    Install()
    {
        ForEachOpen([](int fd) {
            if (fd < 1024) g_inherited[fd] = true;
        });
        std::atexit(&ReportOpenFiles);
        const char* faultText = std::getenv("DUNSMERE_TEST_FAULT");
        if (!faultText) return;
        if (std::sscanf(faultText, "alloc %ld %ld", &g_fault.n, &g_fault.bytes) == 2) {
            g_allocArmed.store(true);
            return;
        }
        char n[16] = {};
        if (std::sscanf(faultText, "%15s %15s %31s %255s", g_fault.step, n, g_fault.what, g_fault.suffix) < 3) return;
        g_fault.n = std::strcmp(n, "*") == 0 ? 0 : std::atol(n);
        SetFileFaultHook(&OnFileStep);
    }
} g_install;

void* Allocate(std::size_t size) noexcept
{
    if (g_allocArmed.load(std::memory_order_relaxed) && size >= static_cast<std::size_t>(g_fault.bytes) &&
        g_seen.fetch_add(1) + 1 == g_fault.n)
        return nullptr;
    return std::malloc(size ? size : 1);
}

}  // namespace

void* TestAllocate(std::size_t size, bool) noexcept { return Allocate(size); }
#include "replaced_new.h"
