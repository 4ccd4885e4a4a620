#include "app/command/signals.h"

#include <csignal>
#include <unistd.h>

#include <atomic>

#include "host/temporary_files.h"

namespace {

std::atomic<int> gSignal{0};

extern "C" void OnSignal(int sig)
{
    int expected = 0;
    if (gSignal.compare_exchange_strong(expected, sig)) return;
    // A second signal: the user insists. Only async-signal-safe calls here.
    RemoveTemporaryFiles();
    static const char kMessage[] = "\ndunsmere: interrupted\n";
    const ssize_t ignored = write(STDERR_FILENO, kMessage, sizeof kMessage - 1);
    (void)ignored;
    _exit(CancelStatus(gSignal.load()));
}

}  // namespace

void InstallCancelSignals()
{
    struct sigaction action {};
    action.sa_handler = &OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
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
