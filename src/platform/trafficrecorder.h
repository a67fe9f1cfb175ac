#ifndef TRAFFICRECORDER_H
#define TRAFFICRECORDER_H

#include <QByteArray>
#include <QDateTime>
#include <QMutex>
#include <QString>
#include <QVector>

// One Modbus transaction as it went over the wire.
struct TrafficRecord
{
    enum class Outcome
    {
        Answer,    // a proper answer
        TimedOut,  // nothing (whole) came back in time
        Exception, // the device answered with an exception
        CrcError,  // an answer with a wrong checksum (RTU)
        OtherError // any other failure: a broken or unexpected answer, a lost link
    };

    quint64 seq = 0;     // given by the recorder, from 1 on
    QDateTime time;      // when the request went out (local time)
    int fc = 0;          // function code of the request
    int addr = 0;        // first address asked for (0 where the function has none)
    int count = 0;       // items asked for, as the request counts them
    QByteArray request;  // whole frame: TCP with its header, RTU with its CRC
    QByteArray response; // whole frame as received; empty when nothing came back
    double ms = 0;       // first byte out to last byte in
    QString error;       // empty on success, otherwise the library's text
    Outcome outcome = Outcome::Answer;

    // ISO 8601 with milliseconds and the UTC offset, e.g. 2026-12-06T10:00:00.123+01:00.
    QString timeText() const;
};

struct TrafficCounters
{
    quint64 requests = 0;
    quint64 answers = 0;
    quint64 timeouts = 0;
    quint64 exceptions = 0;
    quint64 crcErrors = 0;
    // Response times of the transactions that got a frame back (answers, exceptions and
    // broken frames alike); time-outs measure nothing of the device.
    double lastMs = 0;
    double avgMs = 0;
};

struct TrafficPage
{
    QVector<TrafficRecord> items; // oldest first
    quint64 next = 1;             // the seq the next transaction will get
};

// The latest transactions of the Modbus library layer and running counters over them.
// Shared by every thread that talks to a device.
class TrafficRecorder
{
public:
    static constexpr int capacity = 500;

    // Numbers the record, keeps it (dropping the oldest beyond capacity), counts it; returns
    // its seq.
    quint64 record(TrafficRecord record);
    // The kept records whose seq is first or later, and the seq to ask for next time.
    TrafficPage since(quint64 first) const;
    // The seq the next transaction will get.
    quint64 next() const;
    TrafficCounters counters() const;
    // Zeroes the counters and response times; the kept records stay.
    void resetCounters();

private:
    void count(const TrafficRecord &record);

    mutable QMutex m_mutex;
    QVector<TrafficRecord> m_ring; // m_ring[(seq - 1) % capacity]
    quint64 m_lastSeq = 0;
    TrafficCounters m_counters;
    quint64 m_timedResponses = 0;
    double m_totalMs = 0;
};

#endif // TRAFFICRECORDER_H
