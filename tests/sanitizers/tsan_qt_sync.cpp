// ThreadSanitizer cannot see the ordering that a Qt library built without it
// gives: to it, data guarded by a QMutex or QRecursiveMutex looks unguarded,
// and so does a QtConcurrent task handed to a pool thread that already exists.
// These definitions stand in front of the library's own (the executable's
// symbols win at dynamic link time), call them, and tell ThreadSanitizer
// about the acquire and the release:
//   - QMutex lock, tryLock and unlock, as called from our code (the driver,
//     the tests, QMutexLocker); Qt's calls inside its own library stay bound
//     to its own copies;
//   - a task's future: reportStarted (the starting thread has built the task)
//     before isCanceled (the pool thread's first look at it), and
//     reportFinished before waitForFinished, isRunning and isFinished.
// Linked only into ThreadSanitizer builds.
#include <QFutureInterfaceBase>
#include <QMutex>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);

namespace {

template <typename Function>
Function next(const char* symbol)
{
    void* address = dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "tsan_qt_sync: %s not found in the Qt library\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(address);
}

} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = next<void (*)(QMutex*)>("_ZN6QMutex4lockEv");
    real(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto real = next<bool (*)(QMutex*, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = real(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto real = next<void (*)(QMutex*)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    real(this);
}

void QFutureInterfaceBase::reportStarted()
{
    static const auto real = next<void (*)(QFutureInterfaceBase*)>("_ZN20QFutureInterfaceBase13reportStartedEv");
    real(this);
    __tsan_release(this);
}

void QFutureInterfaceBase::reportFinished()
{
    static const auto real = next<void (*)(QFutureInterfaceBase*)>("_ZN20QFutureInterfaceBase14reportFinishedEv");
    __tsan_release(this);
    real(this);
}

bool QFutureInterfaceBase::isCanceled() const
{
    static const auto real = next<bool (*)(const QFutureInterfaceBase*)>("_ZNK20QFutureInterfaceBase10isCanceledEv");
    const bool canceled = real(this);
    __tsan_acquire(const_cast<QFutureInterfaceBase*>(this));
    return canceled;
}

bool QFutureInterfaceBase::isRunning() const
{
    static const auto real = next<bool (*)(const QFutureInterfaceBase*)>("_ZNK20QFutureInterfaceBase9isRunningEv");
    const bool running = real(this);
    __tsan_acquire(const_cast<QFutureInterfaceBase*>(this));
    return running;
}

bool QFutureInterfaceBase::isFinished() const
{
    static const auto real = next<bool (*)(const QFutureInterfaceBase*)>("_ZNK20QFutureInterfaceBase10isFinishedEv");
    const bool finished = real(this);
    __tsan_acquire(const_cast<QFutureInterfaceBase*>(this));
    return finished;
}

void QFutureInterfaceBase::waitForFinished()
{
    static const auto real = next<void (*)(QFutureInterfaceBase*)>("_ZN20QFutureInterfaceBase15waitForFinishedEv");
    real(this);
    __tsan_acquire(this);
}
