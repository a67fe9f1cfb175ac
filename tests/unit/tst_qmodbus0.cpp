#include "modbustimeouts.h"
#include "qmodbus0.h"
#include "trafficrecorder.h"

#include <QtTest>

#include <modbus.h>

#include <array>
#include <limits>

// The pure parts of the library layer: how time-outs are carried and bounded, and the
// traffic recorder's ring and counters. What goes over the wire is tested black-box.
class TestQModBus0 : public QObject
{
    Q_OBJECT
private:
    modbus_t *m_ctx = nullptr;

private slots:
    void initTestCase()
    {
        m_ctx = QModBus0::modbus_new_tcp("127.0.0.1", 502); // never connected
        QVERIFY(m_ctx);
    }

    void cleanupTestCase() { QModBus0::modbus_free(m_ctx); }

    void carriesWholeSecondsInTimeouts()
    {
        using Seconds = decltype(timeval::tv_sec);
        using Microseconds = decltype(timeval::tv_usec);
        // The largest fields carry in 64 bits and stop at what the library's seconds hold.
        const qint64 maxSeconds = std::numeric_limits<uint32_t>::max();
        const qint64 usecMax = std::numeric_limits<Microseconds>::max();
        const struct
        {
            timeval given;
            qint64 seconds;
            qint64 microseconds;
        } rows[] = {
            {{0, 2000000}, 2, 0},
            {{1, 1500000}, 2, 500000},
            {{std::numeric_limits<Seconds>::max(), 0},
             qMin(qint64(std::numeric_limits<Seconds>::max()), maxSeconds),
             0},
            {{0, std::numeric_limits<Microseconds>::max()},
             qMin(usecMax / 1000000, maxSeconds),
             usecMax / 1000000 > maxSeconds ? 999999 : usecMax % 1000000},
        };
        for (const auto &row : rows) {
            timeval read = {};
            QCOMPARE(QModBus0::modbus_set_timeout_begin(m_ctx, &row.given), 0);
            QModBus0::modbus_get_timeout_begin(m_ctx, &read);
            QCOMPARE(qint64(read.tv_sec), row.seconds);
            QCOMPARE(qint64(read.tv_usec), row.microseconds);
        }
        const timeval byteTimeout = {0, 1200000};
        QCOMPARE(QModBus0::modbus_set_timeout_end(m_ctx, &byteTimeout), 0);
        uint32_t seconds = 0, microseconds = 0;
        modbus_get_byte_timeout(m_ctx, &seconds, &microseconds);
        QCOMPARE(seconds, 1u);
        QCOMPARE(microseconds, 200000u);
    }

    void boundsTheTimeoutsTheEngineApplies()
    {
        const qint64 huge = std::numeric_limits<qint64>::max();
        const struct
        {
            qint64 number;
            int tcpMs;
            int serialMs;
        } rows[] = {{2000000000, 60000, 60000}, {huge, 60000, 60000}, {-huge, 100, 0},    {0, 100, 0},
                    {3000, 3000, 30000},        {100, 100, 1000},     {6001, 6001, 60000}};
        for (const auto &row : rows) {
            QCOMPARE(ModbusTimeouts::tcpMs(row.number), row.tcpMs);
            QCOMPARE(ModbusTimeouts::serialMs(row.number), row.serialMs);
        }
        for (const auto &[ms, seconds, microseconds] :
             {std::array<qint64, 3>{60000, 60, 0}, {1999, 1, 999000}}) {
            const timeval converted = ModbusTimeouts::toTimeval(int(ms));
            QCOMPARE(qint64(converted.tv_sec), seconds);
            QCOMPARE(qint64(converted.tv_usec), microseconds);
        }
    }

    void keepsTheLastTransactions()
    {
        TrafficRecorder recorder;
        TrafficRecord record;
        record.response = "x";
        for (int i = 1; i <= TrafficRecorder::capacity + 2; ++i) {
            record.ms = i;
            record.outcome = i % 2 ? TrafficRecord::Outcome::Answer : TrafficRecord::Outcome::Exception;
            QCOMPARE(recorder.record(record), quint64(i));
        }
        const TrafficPage all = recorder.since(0);
        QCOMPARE(all.items.size(), TrafficRecorder::capacity);
        QCOMPARE(all.items.first().seq, quint64(3));
        QCOMPARE(all.items.last().seq, quint64(TrafficRecorder::capacity + 2));
        QCOMPARE(all.next, quint64(TrafficRecorder::capacity + 3));
        const TrafficPage recent = recorder.since(TrafficRecorder::capacity + 1);
        QCOMPARE(recent.items.size(), 2);
        QCOMPARE(recent.items.first().seq, quint64(TrafficRecorder::capacity + 1));
        QVERIFY(recorder.since(all.next).items.isEmpty());
        // The counters are seen over the wire (test_modbus_tables); the exact offset of a time here.
        record.time = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0, 123), QTimeZone(3600));
        QCOMPARE(record.timeText(), QString("2026-12-06T10:00:00.123+01:00"));
    }
};

QTEST_GUILESS_MAIN(TestQModBus0)
#include "tst_qmodbus0.moc"
