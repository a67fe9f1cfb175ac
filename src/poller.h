#ifndef POLLER_H
#define POLLER_H

#include "definitionstore.h"
#include "pollresult.h"
#include "valuelog.h"

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QThread>
#include <QVector>

class DeviceLock;
class ModbusEngine;
class PollWorker;

// Vexo's own polling of the read definitions, with no browser needed: the definitions and
// the switch (kept across restarts), a thread of its own where a PollWorker reads them, the
// latest result of each, and the value log.
// Subscribers connect to resultReady; it is emitted on the polling thread, so a receiver
// living elsewhere gets it queued, with a copy of the result.
// Threads: lives on the main thread; its functions are called from the connection threads.
// The engine and the lock must outlive it, or stop() must come first.
class Poller : public QObject
{
    Q_OBJECT
public:
    // dataDir: where the definitions and the log are kept.
    Poller(ModbusEngine *engine, DeviceLock *lock, const QString &dataDir, qint64 logMaxBytes,
           QObject *parent = nullptr);
    ~Poller() override;

    DefinitionStore &definitions() { return m_store; }
    ValueLog &valueLog() { return m_log; }
    // To call after every change of the definitions or the switch.
    void definitionsChanged();
    // The latest result of each definition that has one, by id.
    QVector<PollResult> results() const;
    // Ends the polling thread and waits for it (for the read under way, if any).
    void stop();

signals:
    void resultReady(const PollResult &result);

private:
    void keep(const PollResult &result);
    void drop(int id);

    DefinitionStore m_store;
    ValueLog m_log;
    QThread m_thread;
    PollWorker *m_worker; // lives on m_thread, deleted when it finishes
    mutable QMutex m_resultsLock;
    QMap<int, PollResult> m_latest;
};

#endif // POLLER_H
