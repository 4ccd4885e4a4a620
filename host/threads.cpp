#include "host/threads.h"

#include <pthread.h>

#include <algorithm>
#include <chrono>
#include <new>

namespace {

class PosixThreadStarter final : public ThreadStarter {
public:
    bool Start(ThreadEntry entry, void* arg, std::size_t stackBytes, ThreadHandle& handle) override
    {
        pthread_attr_t attr;
        if (pthread_attr_init(&attr) != 0) return false;
        const std::size_t minimum = static_cast<std::size_t>(PTHREAD_STACK_MIN);
        pthread_attr_setstacksize(&attr, stackBytes < minimum ? minimum : stackBytes);
        pthread_t thread;
        Trampoline* t = new (std::nothrow) Trampoline{entry, arg};
        const bool ok = t && pthread_create(&thread, &attr, &Trampoline::Run, t) == 0;
        pthread_attr_destroy(&attr);
        if (!ok) {
            delete t;
            return false;
        }
        handle = static_cast<ThreadHandle>(thread);
        return true;
    }

    void Join(ThreadHandle handle) override { pthread_join(static_cast<pthread_t>(handle), nullptr); }

private:
    // pthreads want a void* (*)(void*); the entry is a void (*)(void*).
    struct Trampoline {
        ThreadEntry entry;
        void* arg;
        static void* Run(void* p)
        {
            const Trampoline t = *static_cast<Trampoline*>(p);
            delete static_cast<Trampoline*>(p);
            t.entry(t.arg);
            return nullptr;
        }
    };
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
