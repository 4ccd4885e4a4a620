// A thread starter of the tests' own, so that a test decides when workers
// may begin and which start fails, instead of relying on timing.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

#include "host/threads.h"

namespace dunsmere {

// Workers from start number `gateFrom` on wait behind a gate that `open`
// lifts; with `firstInline` the first one started instead runs to its end
// inside Start. Start number `failAt` fails.
class GateStarter : public ThreadStarter {
public:
    std::atomic<bool> open{false};
    bool firstInline = false;
    int gateFrom = 1, failAt = 0, starts = 0, joins = 0;

    bool Start(ThreadEntry entry, void* arg, std::size_t stack, ThreadHandle& h) override
    {
        if (++starts == failAt) return false;
        if (starts == 1 && firstInline) {
            entry(arg);
            h = 0;
            return true;
        }
        auto* held = new Held{entry, arg, starts >= gateFrom ? this : nullptr};
        return DefaultThreadStarter().Start(&Held::Run, held, stack, h) || (delete held, false);
    }
    void Join(ThreadHandle h) override
    {
        ++joins;
        if (h != 0) DefaultThreadStarter().Join(h);
    }

private:
    struct Held {
        ThreadEntry entry;
        void* arg;
        GateStarter* owner;
        static void Run(void* p)
        {
            const Held h = *static_cast<Held*>(p);
            delete static_cast<Held*>(p);
            while (h.owner && !h.owner->open.load()) std::this_thread::yield();
            h.entry(h.arg);
        }
    };
};

}  // namespace dunsmere
