#include <chrono>

#include "geom/parallel.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace dunsmere {

namespace {

// How long a helper waits for the next step before it sleeps: longer than
// the gaps between one build's steps, short beside anything else.
constexpr auto kSpin = std::chrono::milliseconds(5);

// Spins while BUSY() holds, for up to kSpin; the caller then blocks if need be.
template <class Busy>
void SpinWhile(Busy&& busy)
{
    const auto until = std::chrono::steady_clock::now() + kSpin;
    for (int n = 0; busy(); ++n) {
#if defined(__x86_64__) || defined(__i386__)
        _mm_pause();
#endif
        if (n % 64 == 0 && std::chrono::steady_clock::now() > until) return;
    }
}

}  // namespace

HelperCrew::HelperCrew(const BuildHelpers& lent) : starter_(lent.starter), threads_(ThreadsOf(lent)) {}

void HelperCrew::Grow(std::size_t helpers)
{
    if (full_ || started_.size() >= helpers) return;
    try {
        started_.reserve(static_cast<std::size_t>(threads_ - 1));
    } catch (const std::bad_alloc&) {
        full_ = true;  // no list of helpers: those started so far do
        return;
    }
    // A start that fails is not tried again: the system is short of threads.
    while (started_.size() < helpers) {
        ThreadHandle h;
        if (!starter_->Start(&HelperCrew::Entry, this, kBuildStackBytes, h)) {
            full_ = true;
            break;
        }
        started_.push_back(h);
    }
}

HelperCrew::~HelperCrew()
{
    {
        const std::lock_guard<std::mutex> hold(lock_);
        stop_ = true;
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    for (ThreadHandle h : started_) starter_->Join(h);
}

void HelperCrew::Entry(void* crew) { static_cast<HelperCrew*>(crew)->Serve(); }

void HelperCrew::Take()
{
    try {
        for (std::size_t i; (i = next_.fetch_add(1)) < count_;) (*work_)(i);
    } catch (const std::bad_alloc&) {
        outOfMemory_.store(true);
    }
}

void HelperCrew::Serve()
{
    std::uint64_t seen = 0;
    for (;;) {
        SpinWhile([&] { return generation_.load(std::memory_order_acquire) == seen; });
        {
            std::unique_lock<std::mutex> hold(lock_);
            wake_.wait(hold, [&] { return generation_.load(std::memory_order_relaxed) != seen; });
            seen = generation_.load(std::memory_order_relaxed);
            if (stop_) return;
            // A step the owner has finished alone is not joined late.
            if (!open_) continue;
            ++inStep_;
            busy_.fetch_add(1);
        }
        Take();
        {
            const std::lock_guard<std::mutex> hold(lock_);
            --inStep_;
            busy_.fetch_sub(1);
        }
        done_.notify_one();
    }
}

void HelperCrew::Run(std::size_t count, const std::function<void(std::size_t)>& work)
{
    // As many helpers as the step has items for, beside the owner; they stay
    // for the steps after.
    if (count >= 2) Grow(std::min(static_cast<std::size_t>(threads_ - 1), count - 1));
    if (started_.empty() || count < 2) {
        for (std::size_t i = 0; i < count; ++i) work(i);
        return;
    }
    {
        const std::lock_guard<std::mutex> hold(lock_);
        work_ = &work;
        count_ = count;
        next_.store(0);
        outOfMemory_.store(false);
        open_ = true;
        generation_.fetch_add(1, std::memory_order_release);
    }
    wake_.notify_all();
    Take();
    {
        const std::lock_guard<std::mutex> hold(lock_);
        open_ = false;
    }
    // The helpers still in the step are finishing their last items.
    SpinWhile([&] { return busy_.load() != 0; });
    {
        std::unique_lock<std::mutex> hold(lock_);
        done_.wait(hold, [&] { return inStep_ == 0; });
        work_ = nullptr;
    }
    if (outOfMemory_.load()) throw std::bad_alloc();
}

}  // namespace dunsmere
