#include "app/temporary_files.h"

#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

// A slot is free, being filled by its writer, or holds a complete path.
enum SlotState : int { kFree = 0, kFilling = 1, kReady = 2 };

struct Slot {
    std::atomic<int> state{kFree};
    char path[kTemporaryPathBytes];
};

Slot g_slots[kTemporarySlots];

// A handler may only touch atomics that need no lock.
static_assert(std::atomic<int>::is_always_lock_free);

}  // namespace

int RememberTemporaryFile(const char* path)
{
    if (!path) return -1;
    const std::size_t length = std::strlen(path);
    if (length == 0 || length >= kTemporaryPathBytes) return -1;
    for (int i = 0; i < kTemporarySlots; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kFilling)) continue;
        std::memcpy(g_slots[i].path, path, length + 1);
        // Published only once whole: a handler never unlinks a partial name.
        g_slots[i].state.store(kReady, std::memory_order_release);
        return i;
    }
    return -1;
}

void ForgetTemporaryFile(int slot)
{
    if (slot < 0 || slot >= kTemporarySlots) return;
    g_slots[slot].state.store(kFree, std::memory_order_release);
}

void RemoveTemporaryFiles()
{
    for (const Slot& slot : g_slots)
        if (slot.state.load(std::memory_order_acquire) == kReady) ::unlink(slot.path);
}
