#ifndef INSTANCEGUARD_H
#define INSTANCEGUARD_H

#include <QLockFile>
#include <QString>

// Makes this process the only serving instance: takes the lock file, or asks the running
// instance over IPC to quit and waits for its lock, or takes over the lock of a crashed one.
// The lock is held for the guard's lifetime; destroying the guard releases it.
class InstanceGuard
{
public:
    InstanceGuard();

    static QString lockFilePath();

    // progressText is shown while waiting for the previous instance, notClosedText when it
    // can be neither reached nor replaced. Returns false in the latter case.
    bool acquire(const QString &progressText, const QString &notClosedText);

private:
    bool askRunningInstanceToQuit();
    void waitForLockWithProgress(const QString &progressText);
    bool takeOverCrashedLock();
    static void showNotClosedMessage(const QString &notClosedText);

    QLockFile m_lock;
};

#endif // INSTANCEGUARD_H
