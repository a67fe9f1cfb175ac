// Compiled into ThreadSanitizer builds only. Qt 5 locks its mutexes inside its own library,
// which is not built with TSan, so TSan never learns that a QMutex orders the accesses it
// guards and reports every guarded access as a race. These definitions take the place of
// QMutex's out-of-line lock operations for calls from Vexo, forward to Qt's own and tell
// TSan about the ordering.
#include <QMutex>

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdio>
#include <cstdlib>

namespace {
template<typename Function> Function qtOwn(const char *symbol)
{
    void *address = dlsym(RTLD_NEXT, symbol);
    if (!address) {
        std::fprintf(stderr, "tsanqtmutex: Qt's %s not found\n", symbol);
        std::abort();
    }
    return reinterpret_cast<Function>(address);
}
} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex4lockEv");
    own(this);
    __tsan_acquire(this);
}

bool QMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto own = qtOwn<bool (*)(QMutex *, int)>("_ZN6QMutex7tryLockEi");
    const bool locked = own(this, timeout);
    if (locked)
        __tsan_acquire(this);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const auto own = qtOwn<void (*)(QMutex *)>("_ZN6QMutex6unlockEv");
    __tsan_release(this);
    own(this);
}

#endif
