#include "eval/host_hooks.h"

#include "eval/run_engine.h"

namespace dunsmere {

int WorkerThreadsFor(Interface& ip)
{
    const int n = ip.WorkerThreadCount();
    if (n <= 0) return 2;
    return n > kMaxWorkerThreads ? kMaxWorkerThreads : n;
}

BakeHooks HostBakeHooks(Interface& ip, ThreadStarter& starter)
{
    // Each hook holds the host's address alone, which a function keeps
    // without allocating.
    Interface* host = &ip;
    BakeHooks hooks;
    hooks.workerCount = [host] { return WorkerThreadsFor(*host); };
    hooks.starter = &starter;
    hooks.progress = [host](int percent) { host->ProgressUpdate(percent, 1, nullptr); };
    hooks.cancelRequested = [host] { return host->GetCancel() != 0; };
    hooks.sleep = [host](int milliseconds) { host->SleepUnlessWoken(milliseconds); };
    hooks.wake = [host] { host->WakeSleeper(); };
    hooks.clock = [host] { return host->Time(); };
    return hooks;
}

}  // namespace dunsmere
