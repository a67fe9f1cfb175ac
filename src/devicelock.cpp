#include "devicelock.h"

bool DeviceLock::lockAsCaller(int timeoutMs)
{
    ++m_waitingCallers;
    const bool locked = m_mutex.tryLock(timeoutMs);
    --m_waitingCallers;
    return locked;
}

bool DeviceLock::tryLockInBackground(int timeoutMs)
{
    if (m_waitingCallers.load() > 0)
        return false;
    return m_mutex.tryLock(timeoutMs);
}
