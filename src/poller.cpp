#include "poller.h"

#include "pollworker.h"

#include <QMetaObject>
#include <QMutexLocker>

Poller::Poller(ModbusEngine *engine, DeviceLock *lock, const QString &dataDir, qint64 logMaxBytes,
               QObject *parent)
    : QObject(parent)
    , m_store(dataDir + QStringLiteral("/definitions.json"))
    , m_log(dataDir + QStringLiteral("/vexo-log.csv"), logMaxBytes)
    , m_worker(new PollWorker(engine, lock, &m_store, &m_log))
{
    qRegisterMetaType<PollResult>();
    m_thread.setObjectName(QStringLiteral("poller"));
    m_worker->moveToThread(&m_thread);
    // Both run on the polling thread; what they touch here is locked.
    connect(m_worker, &PollWorker::resultReady, this, &Poller::keep, Qt::DirectConnection);
    connect(m_worker, &PollWorker::resultDropped, this, &Poller::drop, Qt::DirectConnection);
    connect(m_worker, &PollWorker::resultReady, this, &Poller::resultReady, Qt::DirectConnection);
    connect(&m_thread, &QThread::started, m_worker, &PollWorker::reload);
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

Poller::~Poller()
{
    stop();
}

void Poller::stop()
{
    m_thread.quit();
    m_thread.wait();
}

void Poller::definitionsChanged()
{
    // After stop() the worker is gone.
    if (!m_thread.isRunning())
        return;
    QMetaObject::invokeMethod(m_worker, &PollWorker::reload, Qt::QueuedConnection);
}

QVector<PollResult> Poller::results() const
{
    QMutexLocker locker(&m_resultsLock);
    QVector<PollResult> results;
    for (const PollResult &result : m_latest)
        results.append(result);
    return results;
}

void Poller::keep(const PollResult &result)
{
    QMutexLocker locker(&m_resultsLock);
    m_latest.insert(result.id, result);
}

void Poller::drop(int id)
{
    QMutexLocker locker(&m_resultsLock);
    m_latest.remove(id);
}
