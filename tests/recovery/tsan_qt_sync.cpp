// ThreadSanitizer cannot see the locking inside a Qt library that was built
// without it: to it, data guarded by a QMutex or QRecursiveMutex looks
// unguarded, and every such access from two threads would be reported. These
// definitions stand in front of the library's own (the executable's symbols
// win at dynamic link time), call them, and tell ThreadSanitizer about the
// acquire and the release. Qt's own calls of these functions go through the
// same symbols, so its thread pool, futures and event queues are seen too.
// Linked only into ThreadSanitizer builds.
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
        std::fprintf(stderr, "tsan_qt_mutex: %s not found in the Qt library\n", symbol);
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
