#include "pollworker.h"

#include "definitionstore.h"
#include "devicelock.h"
#include "modbusengine.h"
#include "valuelog.h"

#include <QTimer>

#include <algorithm>
#include <utility>

PollWorker::PollWorker(ModbusEngine *engine, DeviceLock *lock, const DefinitionStore *store, ValueLog *log)
    : m_engine(engine)
    , m_lock(lock)
    , m_store(store)
    , m_log(log)
    , m_timer(new QTimer(this))
{
    m_timer->setSingleShot(true);
    // Precise: a 100 ms interval is meant as 100 ms.
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PollWorker::pollDue);
    m_clock.start();
}

void PollWorker::reload()
{
    const QVector<ReadDefinition> definitions = m_store->definitions();
    for (const ReadDefinition &old : std::as_const(m_definitions)) {
        const auto same = [&old](const ReadDefinition &d) { return d.id == old.id && d.sameRead(old); };
        if (std::none_of(definitions.cbegin(), definitions.cend(), same))
            emit resultDropped(old.id);
    }
    // A new or changed definition is read at once, the others keep their times.
    QHash<int, qint64> due;
    for (const ReadDefinition &definition : definitions)
        due.insert(definition.id, m_due.value(definition.id, m_clock.elapsed()));
    m_due = due;
    m_definitions = definitions;
    m_polling = m_store->polling();
    scheduleNext();
}

void PollWorker::pollDue()
{
    if (!m_polling)
        return;
    for (const ReadDefinition &definition : std::as_const(m_definitions)) {
        const qint64 now = m_clock.elapsed();
        qint64 &due = m_due[definition.id];
        if (!definition.enabled || due > now)
            continue;
        // A late round is not made up for: the next one is an interval after this one.
        due = qMax(due + definition.intervalMs, now + 1);
        poll(definition);
    }
    scheduleNext();
}

void PollWorker::scheduleNext()
{
    m_timer->stop();
    qint64 next = -1;
    for (const ReadDefinition &definition : std::as_const(m_definitions)) {
        if (definition.enabled && (next < 0 || m_due.value(definition.id) < next))
            next = m_due.value(definition.id);
    }
    if (m_polling && next >= 0)
        m_timer->start(int(qMax<qint64>(0, next - m_clock.elapsed())));
}

void PollWorker::poll(const ReadDefinition &definition)
{
    if (!m_lock->tryLockInBackground(lockWaitMs))
        return;
    if (!m_engine->isConnected()) {
        m_lock->unlock();
        return;
    }
    const TableRequest request = definition.request();
    const TableOutcome outcome = m_engine->transferTable(request, false);
    m_lock->unlock();

    PollResult result;
    result.id = definition.id;
    result.name = definition.name;
    result.seq = outcome.seq;
    result.time = outcome.time.isValid() ? outcome.time : QDateTime::currentDateTime();
    result.slave = definition.slave;
    result.table = QString::fromLatin1(definition.table);
    result.fc = outcome.fc;
    result.addr = definition.addr;
    result.count = definition.count;
    result.ms = outcome.ms;
    result.error = outcome.error;
    if (outcome.ok()) {
        result.regs = outcome.regs;
        result.values = outcome.values;
    } else {
        result.values = "[]";
    }
    emit resultReady(result);
    if (definition.log)
        m_log->append(result);
}
