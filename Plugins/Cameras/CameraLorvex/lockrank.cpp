// lockrank.cpp - the per-thread record of held locks behind the rank check.
//
// Only a build with LORVEX_LOCK_CHECK has anything here; elsewhere the hooks
// are the empty inline functions of lockrank.h.
#include "lockrank.h"

#if LORVEX_LOCK_CHECK_ON

#include <cstdio>
#include <cstdlib>

namespace lorvex::lockcheck {

namespace {

// Far deeper than any path of the plug-in nests its locks; a fixed array keeps
// the check free of allocation on the paths it watches.
constexpr int kMaxHeld = 16;

struct HeldLock
{
    const void* lock;
    LockRank rank;
    const char* name;
};

struct HeldLocks
{
    HeldLock entries[kMaxHeld];
    int count;
};

// Defined here, and only here, so that all code of the plug-in (and the tests
// linking its objects) shares one record per thread. Trivial, so it is
// zero-initialised with no per-thread constructor to run.
thread_local HeldLocks held;

const char* rankName(LockRank rank)
{
    switch (rank) {
    case LockRank::HostLock: return "HostLock";
    case LockRank::DeviceTurn: return "DeviceTurn";
    case LockRank::Handle: return "Handle";
    case LockRank::DeviceTable: return "DeviceTable";
    case LockRank::Panel: return "Panel";
    case LockRank::Format: return "Format";
    case LockRank::FramePool: return "FramePool";
    case LockRank::Requests: return "Requests";
    case LockRank::LiveCameras: return "LiveCameras";
    }
    return "unranked";
}

[[noreturn]] void fail()
{
    std::fflush(stderr);
    std::abort();
}

} // namespace

void acquiring(LockRank rank, const char* name)
{
    // Of the conflicting locks, name the highest: the one furthest out of order.
    const HeldLock* conflict = nullptr;
    for (int i = 0; i < held.count; ++i) {
        const HeldLock& h = held.entries[i];
        if (h.rank >= rank && (!conflict || h.rank > conflict->rank))
            conflict = &h;
    }
    if (!conflict)
        return;
    std::fprintf(stderr, "lock order: taking %s (%d, %s) while holding %s (%d, %s)\n",
                 rankName(rank), static_cast<int>(rank), name,
                 rankName(conflict->rank), static_cast<int>(conflict->rank), conflict->name);
    fail();
}

void acquired(const void* lock, LockRank rank, const char* name)
{
    if (held.count == kMaxHeld) {
        std::fprintf(stderr, "lock order: taking %s (%d, %s) with %d locks held already, the most one thread may hold\n",
                     rankName(rank), static_cast<int>(rank), name, kMaxHeld);
        fail();
    }
    held.entries[held.count++] = HeldLock{lock, rank, name};
}

void released(const void* lock)
{
    // The newest entry first: a release usually undoes the last acquisition.
    for (int i = held.count - 1; i >= 0; --i) {
        if (held.entries[i].lock != lock)
            continue;
        for (int j = i + 1; j < held.count; ++j)
            held.entries[j - 1] = held.entries[j];
        --held.count;
        return;
    }
    // A lock this thread never recorded: taken on another thread, or around
    // the ranked wrappers. Either way the record no longer describes what is
    // held, and every later check would be wrong.
    std::fprintf(stderr, "lock order: releasing a lock at %p that this thread does not hold\n", lock);
    fail();
}

} // namespace lorvex::lockcheck

#endif // LORVEX_LOCK_CHECK_ON
