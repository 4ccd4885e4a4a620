#include "host/threads.h"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <chrono>
#include <new>

namespace {

class PosixThreadStarter final : public ThreadStarter {
public:
    bool Start(ThreadEntry entry, void* arg, std::size_t stackBytes, ThreadHandle& handle) override
    {
        return Launch(entry, arg, stackBytes, handle, false);
    }

    // Linux puts a new thread on the least loaded processor it sees, and with
    // all of them busy that is often one a thread of ours just took: the new
    // one then waits there for the next balancing tick, several milliseconds,
    // while the caller's own processor goes idle as it waits. Started on the
    // caller's processor, it runs once the caller sleeps, and takes back the
    // caller's whole set as it begins.
    bool StartBeforeWait(ThreadEntry entry, void* arg, std::size_t stackBytes, ThreadHandle& handle) override
    {
        return Launch(entry, arg, stackBytes, handle, true);
    }

    void Join(ThreadHandle handle) override { pthread_join(static_cast<pthread_t>(handle), nullptr); }

private:
    // pthreads want a void* (*)(void*); the entry is a void (*)(void*).
    struct Trampoline {
        ThreadEntry entry;
        void* arg;
        bool widen = false;  // whether to take `allowed` back before the entry
        cpu_set_t allowed{};
        static void* Run(void* p)
        {
            const Trampoline t = *static_cast<Trampoline*>(p);
            delete static_cast<Trampoline*>(p);
            if (t.widen) pthread_setaffinity_np(pthread_self(), sizeof t.allowed, &t.allowed);
            t.entry(t.arg);
            return nullptr;
        }
    };

    static bool Launch(ThreadEntry entry, void* arg, std::size_t stackBytes, ThreadHandle& handle, bool beside)
    {
        Trampoline* t = new (std::nothrow) Trampoline{entry, arg};
        if (!t) return false;
        pthread_t thread;
        // A processor that went away in between fails the start: the thread
        // then starts wherever the system puts it.
        const bool ok = (beside && Create(thread, stackBytes, t, true)) || Create(thread, stackBytes, t, false);
        if (!ok) {
            delete t;
            return false;
        }
        handle = static_cast<ThreadHandle>(thread);
        return true;
    }

    static bool Create(pthread_t& thread, std::size_t stackBytes, Trampoline* t, bool beside)
    {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) return false;
        const std::size_t minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attr, stackBytes < minimum ? minimum : stackBytes);
        t->widen = beside && Beside(attr, *t);
        const bool ok = (!beside || t->widen) && pthread_create(&thread, &attr, &Trampoline::Run, t) == 0;
        pthread_attr_destroy(&attr);
        return ok;
    }

    // Binds ATTR to the caller's processor, keeping the caller's set in T to
    // take back, where the caller may run on others too. False leaves the
    // placement to the system.
    static bool Beside(pthread_attr_t& attr, Trampoline& t)
    {
        CPU_ZERO(&t.allowed);
        const int cpu = sched_getcpu();
        if (cpu < 0 || cpu >= CPU_SETSIZE || pthread_getaffinity_np(pthread_self(), sizeof t.allowed, &t.allowed) != 0 ||
            !CPU_ISSET(cpu, &t.allowed) || CPU_COUNT(&t.allowed) < 2)
            return false;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        return pthread_attr_setaffinity_np(&attr, sizeof one, &one) == 0;
    }
};

}  // namespace

void WakeableSleep::Sleep(int milliseconds, bool (*stop)())
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    std::unique_lock<std::mutex> lock(lock_);
    while (!pending_ && !(stop && stop())) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) break;
        woken_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(until - now, std::chrono::milliseconds(10)));
    }
    pending_ = false;
}

void WakeableSleep::Wake()
{
    {
        const std::lock_guard<std::mutex> lock(lock_);
        pending_ = true;
    }
    woken_.notify_one();
}

ThreadStarter& DefaultThreadStarter()
{
    static PosixThreadStarter starter;
    return starter;
}
