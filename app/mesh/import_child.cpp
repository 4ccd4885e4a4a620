#include "app/mesh/import_child.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <fstream>
#include <new>
#include <system_error>

namespace dunsmere {

namespace {

constexpr std::uint64_t kMiB = 1024ull * 1024ull;
constexpr std::uint64_t kGiB = 1024ull * kMiB;

// How the child says what no signal tells: an allocation failed, or the
// work could not even start.
constexpr int kExitOutOfMemory = 101;
constexpr int kExitNoStart = 102;

std::uint64_t Sum(std::uint64_t a, std::uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

std::uint64_t Scaled(double base, double factor)
{
    const double v = std::ceil(base * factor);
    return v >= 1.8e19 ? UINT64_MAX : static_cast<std::uint64_t>(v);
}

// What the child already has mapped, in bytes, from the kernel's own count
// of the kind the limit applies to. Sanitizers map their shadow memory at
// start-up, terabytes of address space, so there only data is limited.
#ifdef DUNSMERE_SANITIZED
constexpr int kMemoryLimit = RLIMIT_DATA;
constexpr const char* kMemoryField = "VmData:";
#else
constexpr int kMemoryLimit = RLIMIT_AS;
constexpr const char* kMemoryField = "VmSize:";
#endif

std::uint64_t MappedBytes()
{
    std::ifstream status("/proc/self/status");
    std::string field;
    std::uint64_t kib = 0;
    while (status >> field) {
        if (field == kMemoryField && status >> kib) return kib * 1024;
        status.ignore(1 << 20, '\n');
    }
    return 0;
}

void Limit(int resource, std::uint64_t soft, std::uint64_t hard)
{
    rlimit now{};
    getrlimit(resource, &now);
    // Never above a hard limit already set: only root may raise it.
    const rlim_t cap = now.rlim_max;
    rlimit r{static_cast<rlim_t>(soft), static_cast<rlim_t>(hard)};
    if (cap != RLIM_INFINITY && r.rlim_max > cap) r.rlim_max = cap;
    if (r.rlim_cur > r.rlim_max) r.rlim_cur = r.rlim_max;
    setrlimit(resource, &r);
}

void OutOfMemory() { _exit(kExitOutOfMemory); }

struct Job {
    const std::function<std::string()>* work;
    std::string answer;
};

extern "C" void* RunJob(void* arg)
{
    Job& job = *static_cast<Job*>(arg);
    try {
        job.answer = (*job.work)();
    } catch (const std::bad_alloc&) {
        _exit(kExitOutOfMemory);
    } catch (...) {
        abort();
    }
    return nullptr;
}

[[noreturn]] void BeChild(int out, pid_t parent, const ImportLimits& limits, const std::function<std::string()>& work)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(kExitNoStart);  // the parent is already gone
    // The command decides about signals; it kills the child on a cancel.
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_IGN);
    for (int sig : {SIGPIPE, SIGXCPU, SIGSEGV, SIGBUS, SIGABRT}) signal(sig, SIG_DFL);
    // What an importer prints as it fails (its own assertions, a sanitizer's
    // report) is not for the user: the parent says in one line what became
    // of the file.
    if (const int quiet = open("/dev/null", O_WRONLY); quiet >= 0) {
        dup2(quiet, STDERR_FILENO);
        close(quiet);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    const std::uint64_t mapped = MappedBytes();
    Limit(RLIMIT_CORE, 0, 0);  // a crashing importer leaves no core behind
    const std::uint64_t memory = Sum(mapped, limits.memoryBytes);
    Limit(kMemoryLimit, memory, memory);
    Limit(RLIMIT_CPU, limits.cpuSeconds, Sum(limits.cpuSeconds, 1));  // SIGXCPU, then SIGKILL
    Limit(RLIMIT_STACK, limits.stackBytes, limits.stackBytes);
    std::set_new_handler(&OutOfMemory);

    // The main thread's stack is whatever the command started with; the
    // work gets a thread whose stack has the limit's size.
    Job job{&work, {}};
    pthread_attr_t attr;
    pthread_t thread;
    if (pthread_attr_init(&attr) != 0 || pthread_attr_setstacksize(&attr, limits.stackBytes) != 0)
        _exit(kExitNoStart);
    const int started = pthread_create(&thread, &attr, &RunJob, &job);
    if (started == EAGAIN || started == ENOMEM) _exit(kExitOutOfMemory);
    if (started != 0 || pthread_join(thread, nullptr) != 0) _exit(kExitNoStart);

    const char* p = job.answer.data();
    size_t left = job.answer.size();
    while (left > 0) {
        const ssize_t n = write(out, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) _exit(kExitNoStart);
        p += n;
        left -= static_cast<size_t>(n);
    }
    // No destructors, no atexit handlers, no stdio flush: those are the
    // command's, copied at the fork.
    _exit(0);
}

double CpuSeconds(const rusage& use)
{
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec) * 1e-6;
}

ChildEnd Classify(int status, const rusage& use, const ImportLimits& limits)
{
    if (WIFEXITED(status)) {
        switch (WEXITSTATUS(status)) {
        case 0: return ChildEnd::kAnswered;
        case kExitOutOfMemory: return ChildEnd::kOutOfMemory;
        default: return ChildEnd::kCrashed;
        }
    }
    if (!WIFSIGNALED(status)) return ChildEnd::kCrashed;
    switch (WTERMSIG(status)) {
    case SIGXCPU: return ChildEnd::kTookTooLong;
    case SIGKILL:
        // The hard CPU limit, or else most likely the kernel's own
        // out-of-memory killer.
        return CpuSeconds(use) + 0.5 >= static_cast<double>(limits.cpuSeconds) ? ChildEnd::kTookTooLong
                                                                              : ChildEnd::kOutOfMemory;
    default: return ChildEnd::kCrashed;
    }
}

}  // namespace

ImportLimits ImportLimitsFor(std::uint64_t fileBytes, double factor)
{
    const double size = static_cast<double>(fileBytes);
    ImportLimits limits;
    limits.memoryBytes = Scaled(std::min(static_cast<double>(kGiB) + 64.0 * size, 16.0 * static_cast<double>(kGiB)), factor);
    limits.cpuSeconds = Scaled(std::ceil(10.0 + 2.0 * size / static_cast<double>(kMiB)), factor);
    limits.stackBytes = Scaled(static_cast<double>(64 * kMiB), factor);
    limits.wallSeconds = Sum(Sum(limits.cpuSeconds, limits.cpuSeconds), limits.cpuSeconds);
    return limits;
}

ChildResult RunInChild(const ImportLimits& limits, bool (*cancelled)(), const std::function<std::string()>& work)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid < 0) {
        const int error = errno;
        close(fds[0]);
        close(fds[1]);
        throw std::system_error(error, std::generic_category(), "fork");
    }
    if (pid == 0) {
        close(fds[0]);
        BeChild(fds[1], parent, limits, work);
    }
    close(fds[1]);

    const auto started = std::chrono::steady_clock::now();
    auto overdue = [&] {
        const auto spent = std::chrono::steady_clock::now() - started;
        return std::chrono::duration<double>(spent).count() > static_cast<double>(limits.wallSeconds);
    };
    ChildResult result;
    auto stop = [&](ChildEnd end) {
        kill(pid, SIGKILL);
        int ignored = 0;
        while (waitpid(pid, &ignored, 0) < 0 && errno == EINTR) {
        }
        result.end = end;
        result.answer.clear();
        return result;
    };

    // Read until the child closes its end, which it does only by ending.
    bool cut = false;
    char buf[1 << 16];
    for (;;) {
        if (cancelled && cancelled()) {
            close(fds[0]);
            return stop(ChildEnd::kCancelled);
        }
        if (overdue()) {
            close(fds[0]);
            return stop(ChildEnd::kTookTooLong);
        }
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;  // a timeout, or a signal to look at
        const ssize_t n = read(fds[0], buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        const size_t room = limits.memoryBytes - std::min<std::uint64_t>(limits.memoryBytes, result.answer.size());
        result.answer.append(buf, std::min<size_t>(static_cast<size_t>(n), room));
        if (static_cast<size_t>(n) > room) {
            cut = true;
            break;
        }
    }
    close(fds[0]);
    if (cut) {
        std::string answer = std::move(result.answer);
        stop(ChildEnd::kAnswered);
        result.answer = std::move(answer);
        return result;
    }

    int status = 0;
    rusage use{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &use);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) {
            result.end = ChildEnd::kCrashed;
            return result;
        }
        if (cancelled && cancelled()) return stop(ChildEnd::kCancelled);
        if (overdue()) return stop(ChildEnd::kTookTooLong);
        usleep(10'000);
    }
    result.end = Classify(status, use, limits);
    if (result.end != ChildEnd::kAnswered) result.answer.clear();
    return result;
}

}  // namespace dunsmere
