#ifndef DEVICELOCK_H
#define DEVICELOCK_H

#include <QMutex>

#include <atomic>
#include <chrono>

// The one device connection, one caller at a time: the browser's device functions and the
// poller take it in turn. The browser comes first: the poller takes the lock only while no
// browser call waits for it, so polling, however fast, never keeps a page waiting longer
// than the one transaction under way.
// Threads: any; the engine and its transports rely on it.
class DeviceLock
{
    Q_DISABLE_COPY(DeviceLock)
public:
    DeviceLock() = default;

    // For a browser call (a Lockable for std::unique_lock): waits at most timeout.
    template<class Rep, class Period> bool try_lock_for(const std::chrono::duration<Rep, Period> &timeout)
    {
        return lockAsCaller(int(std::chrono::duration_cast<std::chrono::milliseconds>(timeout).count()));
    }
    void unlock() { m_mutex.unlock(); }

    // For background work: false at once while a browser call waits, else waits at most
    // timeoutMs.
    bool tryLockInBackground(int timeoutMs);

private:
    bool lockAsCaller(int timeoutMs);

    QMutex m_mutex;
    std::atomic<int> m_waitingCallers{0};
};

#endif // DEVICELOCK_H
