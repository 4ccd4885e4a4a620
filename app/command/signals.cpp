#include "app/command/signals.h"

#include <csignal>
#include <ctime>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "host/temporary_files.h"

namespace dunsmere {

namespace {

std::atomic<int> gSignal{0};
std::atomic<long long> gFirstAt{0};  // monotonic nanoseconds; 0 until set

static_assert(std::atomic<long long>::is_always_lock_free);

// Written only while gRemovals is 0, so that a handler reads whole paths.
char gRemovalPaths[kEndRemovalPaths][kEndRemovalBytes];
std::atomic<int> gRemovals{0};

void RemoveListedPaths()
{
    const int n = gRemovals.load();
    for (int i = 0; i < n; ++i)
        if (unlink(gRemovalPaths[i]) != 0) rmdir(gRemovalPaths[i]);
}

long long NowNs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1'000'000'000LL + t.tv_nsec;
}

extern "C" void OnSignal(int sig)
{
    // Only async-signal-safe calls here.
    const int savedErrno = errno;
    const long long now = NowNs();
    int expected = 0;
    if (gSignal.compare_exchange_strong(expected, sig)) {
        gFirstAt.store(now);
        AbandonTemporaryFiles();
        errno = savedErrno;
        return;
    }
    // A first handler still running on another thread counts as now.
    const long long first = gFirstAt.load();
    if (first == 0 || now - first < kOneCancelMs * 1'000'000LL) {
        errno = savedErrno;
        return;
    }
    // A second signal: the user insists.
    RemoveTemporaryFiles();
    RemoveListedPaths();
    static const char kMessage[] = "\ndunsmere: interrupted\n";
    const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    EndBySignal(gSignal.load());
}

}  // namespace

void InstallCancelSignals()
{
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void RemoveAtSecondSignal(std::initializer_list<const char*> paths)
{
    gRemovals.store(0);
    int n = 0;
    for (const char* path : paths) {
        if (n == kEndRemovalPaths || !path || std::strlen(path) >= kEndRemovalBytes) break;
        std::memcpy(gRemovalPaths[n++], path, std::strlen(path) + 1);
    }
    gRemovals.store(n);
}

int CancelSignal() { return gSignal.load(); }

int CancelStatus(int signal)
{
    switch (signal) {
    case SIGTERM: return 143;
    case SIGHUP: return 129;
    default: return 130;
    }
}

void EndBySignal(int signal)
{
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    raise(signal);
    // A signal whose default action does not end the process.
    _exit(CancelStatus(signal));
}

}  // namespace dunsmere
