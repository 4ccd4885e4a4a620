#include "app/session/bake_turn.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace dunsmere {

namespace {

// A plain mutex polled, not a timed one: the thread checkers do not follow
// a timed lock's clock waits, and a waiter asks its cancel query between
// tries anyway.
std::mutex& Turn()
{
    static std::mutex turn;
    return turn;
}

}  // namespace

BakeTurn::BakeTurn(const std::function<bool()>& cancelled)
{
    while (!(held_ = Turn().try_lock())) {
        if (cancelled && cancelled()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

BakeTurn::~BakeTurn()
{
    if (held_) Turn().unlock();
}

}  // namespace dunsmere
