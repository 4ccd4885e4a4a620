#include "app/session/bake_turn.h"

#include <chrono>
#include <mutex>

namespace {

std::timed_mutex& Turn()
{
    static std::timed_mutex turn;
    return turn;
}

}  // namespace

BakeTurn::BakeTurn(const std::function<bool()>& cancelled)
{
    while (!(held_ = Turn().try_lock_for(std::chrono::milliseconds(10))))
        if (cancelled && cancelled()) return;
}

BakeTurn::~BakeTurn()
{
    if (held_) Turn().unlock();
}
