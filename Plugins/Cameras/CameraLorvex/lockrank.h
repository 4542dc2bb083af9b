// lockrank.h - the order in which the plug-in's locks may be taken, checked in
// test builds.
//
// A deadlock needs two threads taking the same two locks in opposite orders;
// the tests can rarely make that interleaving happen. Giving every lock a rank
// and refusing, on every thread, a blocking acquisition below a lock already
// held turns each such fault into an immediate abort on the first run of the
// path, whatever the timing.
//
// Built with LORVEX_LOCK_CHECK=1 (scripts/test does so in every tree) the
// check runs; otherwise every hook below is an empty inline function and
// RankedMutex is exactly the QMutex it wraps.
#ifndef LOCKRANK_H
#define LOCKRANK_H

#include <QMutex>

#include <chrono>

#if defined(LORVEX_LOCK_CHECK) && (LORVEX_LOCK_CHECK + 0)
#define LORVEX_LOCK_CHECK_ON 1
#else
#define LORVEX_LOCK_CHECK_ON 0
#endif

namespace lorvex {

// Every lock of the plug-in has a rank; a thread may only take a lock whose
// rank is higher than every lock it holds.
enum class LockRank : int {
    HostLock = 10,      // the camera's cameraMutex, handed to the host by getMutex()
    DeviceTurn = 15,    // waiting for the turn to run a device operation (not a mutex, but a wait that must respect the order)
    Handle = 20,        // the device handle's lock
    DeviceTable = 30,   // the process-wide accepted-device table
    Panel = 40,         // device-derived panel fields (geometry, limits)
    Format = 50,        // the frame path's format
    FramePool = 60,     // the frame buffer pool
    Requests = 70,      // the device's queue of requested operations (leaf)
    LiveCameras = 80,   // the process-wide set of live cameras (leaf)
};

// The hooks every ranked acquisition goes through. The checker keeps a small
// fixed record per thread and makes no Qt call and no allocation: it runs
// inside frame callbacks on the SDK's threads. A fault is written to stderr
// and aborts, so it is seen even where no Qt message handler is installed.
namespace lockcheck {

constexpr bool enabled() { return LORVEX_LOCK_CHECK_ON != 0; }

#if LORVEX_LOCK_CHECK_ON
// Before a blocking acquisition (a lock, or a wait): aborts when the calling
// thread holds any lock whose rank is >= rank, naming both locks.
void acquiring(LockRank rank, const char* name);
// After the lock was obtained, by a lock or by a successful try. A try cannot
// deadlock, so it is recorded without being checked against the order.
void acquired(const void* lock, LockRank rank, const char* name);
// When it is released; releases may come in any order.
void released(const void* lock);
#else
inline void acquiring(LockRank, const char*) {}
inline void acquired(const void*, LockRank, const char*) {}
inline void released(const void*) {}
#endif

// A wait that is not a lock (DeviceTurn) calls acquiring() only: nothing is
// held afterwards that a later acquisition could conflict with.

} // namespace lockcheck

// A QMutex with a rank.
class RankedMutex
{
public:
#if LORVEX_LOCK_CHECK_ON
    RankedMutex(LockRank rank, const char* name) : rank(rank), name(name) {}
#else
    RankedMutex(LockRank, const char*) {}
#endif
    RankedMutex(const RankedMutex&) = delete;
    RankedMutex& operator=(const RankedMutex&) = delete;

    void lock()
    {
        checkOrder();
        mutex.lock();
        record();
    }
    void unlock()
    {
        lockcheck::released(&mutex);
        mutex.unlock();
    }
    bool tryLock()
    {
        const bool taken = mutex.try_lock();
        if (taken)
            record();
        return taken;
    }
    // A bounded wait cannot deadlock either: recorded, not checked.
    bool tryLockFor(std::chrono::milliseconds timeout)
    {
        const bool taken = mutex.try_lock_for(timeout);
        if (taken)
            record();
        return taken;
    }

    // For QWaitCondition::wait, which releases and retakes this mutex: the
    // rank stays recorded as held throughout, as the caller still owns the
    // lock when the wait returns.
    QMutex& raw() { return mutex; }

private:
#if LORVEX_LOCK_CHECK_ON
    void checkOrder() const { lockcheck::acquiring(rank, name); }
    void record() const { lockcheck::acquired(&mutex, rank, name); }

    QMutex mutex;
    LockRank rank;
    const char* name;
#else
    void checkOrder() const {}
    void record() const {}

    QMutex mutex;
#endif
};

#if !LORVEX_LOCK_CHECK_ON
static_assert(sizeof(RankedMutex) == sizeof(QMutex), "an unchecked RankedMutex is a plain QMutex");
#endif

// Marks a RankedLocker that takes over a lock its caller already holds (after
// a successful tryLock()).
struct AdoptLock {};
constexpr AdoptLock adoptLock{};

// Holds a RankedMutex for its scope, as QMutexLocker does a QMutex.
class RankedLocker
{
public:
    explicit RankedLocker(RankedMutex& mutex) : mutex(mutex) { relock(); }
    RankedLocker(RankedMutex& mutex, AdoptLock) : mutex(mutex), held(true) {}
    ~RankedLocker() { unlock(); }
    RankedLocker(const RankedLocker&) = delete;
    RankedLocker& operator=(const RankedLocker&) = delete;

    void unlock()
    {
        if (held) {
            held = false;
            mutex.unlock();
        }
    }
    void relock()
    {
        if (!held) {
            mutex.lock();
            held = true;
        }
    }

private:
    RankedMutex& mutex;
    bool held = false;
};

// Holds the host's cameraMutex for its scope, ranked as HostLock. That mutex
// stays a plain QMutex because getMutex() hands the host a QMutex*; code that
// takes it itself, plug-in or test host, does so through this. A null mutex is
// not locked, as with QMutexLocker.
class HostLocker
{
public:
    static constexpr const char* kName = "getMutex()";

    explicit HostLocker(QMutex* mutex) : mutex(mutex)
    {
        if (mutex) {
            lockcheck::acquiring(LockRank::HostLock, kName);
            mutex->lock();
            lockcheck::acquired(mutex, LockRank::HostLock, kName);
        }
    }
    ~HostLocker()
    {
        if (mutex) {
            lockcheck::released(mutex);
            mutex->unlock();
        }
    }
    HostLocker(const HostLocker&) = delete;
    HostLocker& operator=(const HostLocker&) = delete;

private:
    QMutex* mutex;
};

} // namespace lorvex

#endif // LOCKRANK_H
