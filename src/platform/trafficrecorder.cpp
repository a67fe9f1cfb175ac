#include "trafficrecorder.h"

#include <QMutexLocker>

QString TrafficRecord::timeText() const
{
    // A local time prints without its offset; fixed to its own offset it prints with it.
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

quint64 TrafficRecorder::record(TrafficRecord record)
{
    QMutexLocker locker(&m_mutex);
    record.seq = ++m_lastSeq;
    count(record);
    if (m_ring.size() < capacity)
        m_ring.append(record);
    else
        m_ring[int((record.seq - 1) % capacity)] = record;
    return record.seq;
}

void TrafficRecorder::count(const TrafficRecord &record)
{
    ++m_counters.requests;
    switch (record.outcome) {
    case TrafficRecord::Outcome::Answer:
        ++m_counters.answers;
        break;
    case TrafficRecord::Outcome::TimedOut:
        ++m_counters.timeouts;
        break;
    case TrafficRecord::Outcome::Exception:
        ++m_counters.exceptions;
        break;
    case TrafficRecord::Outcome::CrcError:
        ++m_counters.crcErrors;
        break;
    case TrafficRecord::Outcome::OtherError:
        break;
    }
    if (record.response.isEmpty())
        return;
    ++m_timedResponses;
    m_totalMs += record.ms;
    m_counters.lastMs = record.ms;
    m_counters.avgMs = m_totalMs / double(m_timedResponses);
}

TrafficPage TrafficRecorder::since(quint64 first) const
{
    QMutexLocker locker(&m_mutex);
    TrafficPage page;
    page.next = m_lastSeq + 1;
    const quint64 oldestKept = m_lastSeq - quint64(m_ring.size()) + 1;
    for (quint64 seq = qMax(first, oldestKept); seq <= m_lastSeq; ++seq)
        page.items.append(m_ring.at(int((seq - 1) % capacity)));
    return page;
}

quint64 TrafficRecorder::next() const
{
    QMutexLocker locker(&m_mutex);
    return m_lastSeq + 1;
}

TrafficCounters TrafficRecorder::counters() const
{
    QMutexLocker locker(&m_mutex);
    return m_counters;
}

void TrafficRecorder::resetCounters()
{
    QMutexLocker locker(&m_mutex);
    m_counters = TrafficCounters();
    m_timedResponses = 0;
    m_totalMs = 0;
}
