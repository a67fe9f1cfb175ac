#ifndef POLLWORKER_H
#define POLLWORKER_H

#include "pollresult.h"
#include "readdefinition.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QVector>

class DefinitionStore;
class DeviceLock;
class ModbusEngine;
class QTimer;
class ValueLog;

// Reads the enabled definitions, each by its interval, one after the other, through the
// engine's readTable path under the device lock, only while the engine is connected and
// polling is on. A round that cannot have the lock (a browser call waits or holds it) is
// skipped. Logs the reads of definitions with `log` on, after the lock is given back.
// Threads: lives on the poller's thread; created and deleted by Poller.
class PollWorker : public QObject
{
    Q_OBJECT
public:
    PollWorker(ModbusEngine *engine, DeviceLock *lock, const DefinitionStore *store, ValueLog *log);

    // The longest a read waits for the device lock before its round is skipped.
    static constexpr int lockWaitMs = 1000;

public slots:
    // Takes the stored definitions and the polling switch anew.
    void reload();

signals:
    void resultReady(const PollResult &result);
    // The definition is gone or reads something else now: its last result is stale.
    void resultDropped(int id);

private:
    void pollDue();
    void poll(const ReadDefinition &definition);
    void scheduleNext();

    ModbusEngine *m_engine;
    DeviceLock *m_lock;
    const DefinitionStore *m_store;
    ValueLog *m_log;
    QTimer *m_timer;
    QElapsedTimer m_clock;
    bool m_polling = false;
    QVector<ReadDefinition> m_definitions;
    QHash<int, qint64> m_due; // id -> m_clock time of its next read
};

#endif // POLLWORKER_H
