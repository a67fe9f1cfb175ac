#include "devsimprocess.h"
#include "modbustimeouts.h"
#include "pymodbuspeer.h"
#include "qmodbus0.h"
#include "trafficrecorder.h"
#include "valuecodec.h"

#include <QtTest>

#include <modbus.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <limits>

namespace {
TrafficRecord lastRecord()
{
    const QVector<TrafficRecord> items = QModBus0::trafficRecorder().since(0).items;
    return items.isEmpty() ? TrafficRecord() : items.last();
}

TrafficCounters counters()
{
    return QModBus0::trafficRecorder().counters();
}

void setResponseTimeout(modbus_t *ctx, int ms)
{
    const struct timeval timeout = {0, ms * 1000};
    QModBus0::modbus_set_timeout_begin(ctx, &timeout);
}

QByteArray packed(const uint8_t *bits, int count)
{
    QByteArray bytes((count + 7) / 8, '\0');
    for (int i = 0; i < count; ++i)
        bytes[i / 8] = static_cast<char>(bytes[i / 8] | (bits[i] << (i % 8)));
    return bytes.toHex();
}
} // namespace

// The library layer against the simulated device (over TCP and over a pseudo-terminal
// pair for RTU) and against pymodbus: every function on the wire, the frames and counters
// it records, time-out conventions, the 32-bit register transfers, and port enumeration.
class TestQModBus0 : public QObject
{
    Q_OBJECT
private:
    PtyPair m_line;
    DevsimProcess m_devsim;
    modbus_t *m_ctx = nullptr;
    modbus_t *m_rtu = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_line.start());
        QVERIFY(m_devsim.start({"--tcp", "127.0.0.1:0", "--rtu", m_line.second()}));
        m_ctx = QModBus0::modbus_new_tcp("127.0.0.1", m_devsim.port());
        QVERIFY(m_ctx);
        QCOMPARE(QModBus0::modbus_connect(m_ctx), 0);
        QModBus0::modbus_set_slave(m_ctx, 1);
        m_rtu = QModBus0::modbus_new_rtu(m_line.first().toLocal8Bit().constData(), 115200, 'N', 8, 1);
        QVERIFY(m_rtu);
        QCOMPARE(QModBus0::modbus_connect(m_rtu), 0);
        QModBus0::modbus_set_slave(m_rtu, 1);
    }

    void cleanupTestCase()
    {
        for (modbus_t *ctx : {m_ctx, m_rtu}) {
            QModBus0::modbus_close(ctx);
            QModBus0::modbus_free(ctx);
        }
    }

    void init() { m_devsim.setFault("none"); }

    void carriesWholeSecondsInTimeouts()
    {
        struct timeval timeout = {0, 2000000};
        QCOMPARE(QModBus0::modbus_set_timeout_begin(m_ctx, &timeout), 0);
        struct timeval read = {};
        QModBus0::modbus_get_timeout_begin(m_ctx, &read);
        QCOMPARE(qint64(read.tv_sec), qint64(2));
        QCOMPARE(qint64(read.tv_usec), qint64(0));
        timeout = {1, 1500000};
        QModBus0::modbus_set_timeout_begin(m_ctx, &timeout);
        QModBus0::modbus_get_timeout_begin(m_ctx, &read);
        QCOMPARE(qint64(read.tv_sec), qint64(2));
        QCOMPARE(qint64(read.tv_usec), qint64(500000));
        timeout = {0, 1200000};
        QCOMPARE(QModBus0::modbus_set_timeout_end(m_ctx, &timeout), 0);
        uint32_t seconds = 0, microseconds = 0;
        modbus_get_byte_timeout(m_ctx, &seconds, &microseconds);
        QCOMPARE(seconds, 1u);
        QCOMPARE(microseconds, 200000u);

        // The largest fields carry in 64 bits and stop at what the library's seconds hold.
        using Seconds = decltype(timeout.tv_sec);
        using Microseconds = decltype(timeout.tv_usec);
        const qint64 maxSeconds = std::numeric_limits<uint32_t>::max();
        const qint64 usecMax = std::numeric_limits<Microseconds>::max();
        const struct
        {
            struct timeval given;
            qint64 seconds;
            qint64 microseconds;
        } large[] = {
            {{std::numeric_limits<Seconds>::max(), 0},
             qMin(qint64(std::numeric_limits<Seconds>::max()), maxSeconds),
             0},
            {{0, std::numeric_limits<Microseconds>::max()},
             qMin(usecMax / 1000000, maxSeconds),
             usecMax / 1000000 > maxSeconds ? 999999 : usecMax % 1000000},
        };
        for (const auto &row : large) {
            QCOMPARE(QModBus0::modbus_set_timeout_begin(m_ctx, &row.given), 0);
            QModBus0::modbus_get_timeout_begin(m_ctx, &read);
            QCOMPARE(qint64(read.tv_sec), row.seconds);
            QCOMPARE(qint64(read.tv_usec), row.microseconds);
        }
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
        const struct timeval minute = ModbusTimeouts::toTimeval(60000);
        QCOMPARE(qint64(minute.tv_sec), qint64(60));
        QCOMPARE(qint64(minute.tv_usec), qint64(0));
        const struct timeval odd = ModbusTimeouts::toTimeval(1999);
        QCOMPARE(qint64(odd.tv_sec), qint64(1));
        QCOMPARE(qint64(odd.tv_usec), qint64(999000));
    }

    void reportsASilentSlaveAsTheTimeoutErrno()
    {
        const struct timeval shortWait = {0, 200000};
        QModBus0::modbus_set_timeout_begin(m_ctx, &shortWait);
        m_devsim.setFault("silent");
        uint16_t words[2];
        uint32_t registers[2];
        uint8_t report[8];
        errno = 0;
        QCOMPARE(QModBus0::modbus_read_registers(m_ctx, 0, 2, words), -1);
        QCOMPARE(errno, QModBus0::timedOutErrno);
        errno = 0;
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 2, registers), -1);
        QCOMPARE(errno, QModBus0::timedOutErrno);
        errno = 0;
        QCOMPARE(QModBus0::modbus_report_slave_id(m_ctx, sizeof report, report), -1);
        QCOMPARE(errno, QModBus0::timedOutErrno);
        QCOMPARE(QByteArray(QModBus0::modbus_strerror(QModBus0::timedOutErrno)),
                 QByteArray(modbus_strerror(ETIMEDOUT)));
        QCOMPARE(QByteArray(QModBus0::modbus_strerror(EMBBADCRC)), QByteArray("Invalid CRC"));
        m_devsim.setFault("none");
        // The late answer to the last request may still arrive: start afresh.
        QModBus0::modbus_close(m_ctx);
        QCOMPARE(QModBus0::modbus_connect(m_ctx), 0);
    }

    void transfersThirtyTwoBitRegistersMostSignificantByteFirst()
    {
        const uint32_t values[] = {0x01020304, 0xA0B0C0D0};
        QCOMPARE(QModBus0::modbus_write_registers_32(m_ctx, 7000, 2, values), 2);
        // Look at the raw answer: 4 bytes per register, most significant first.
        const uint8_t request[] = {1, 0x03, 7000 >> 8, 7000 & 0xFF, 0, 2};
        QVERIFY(modbus_send_raw_request(m_ctx, request, sizeof request) > 0);
        uint8_t answer[MODBUS_MAX_ADU_LENGTH];
        const int length = modbus_receive_confirmation(m_ctx, answer);
        const int header = modbus_get_header_length(m_ctx);
        QCOMPARE(length, header + 2 + 8);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(answer + header), 10).toHex(),
                 QByteArray("030801020304a0b0c0d0"));
        uint32_t read[2] = {};
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 7000, 2, read), 2);
        QCOMPARE(read[0], values[0]);
        QCOMPARE(read[1], values[1]);
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 1, read), 1);
        QCOMPARE(read[0], 123456789u);
    }

    void refusesBadCountsAndBrokenAnswers()
    {
        uint32_t registers[70] = {};
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 0, registers), -1);
        QCOMPARE(errno, EMBMDATA);
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 63, registers), -1);
        QCOMPARE(QModBus0::modbus_write_registers_32(m_ctx, 5000, 62, registers), -1);
        QCOMPARE(errno, EMBMDATA);
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 62, registers), 62);
        // An address beyond 16 bits would reach another register: nothing goes out.
        const quint64 sent = counters().requests;
        QCOMPARE(QModBus0::modbus_write_register(m_ctx, 65536 + 300, 1), -1);
        QCOMPARE(errno, EINVAL);
        QCOMPARE(QModBus0::modbus_write_registers_32(m_ctx, -1, 1, registers), -1);
        QCOMPARE(counters().requests, sent);
        // The device refuses a run that leaves its 32-bit block.
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 7999, 2, registers), -1);
        QCOMPARE(errno, int(EMBXILADD));

        m_devsim.setFault("short");
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 3, registers), 2);
        QCOMPARE(registers[0], 123456789u);
        QCOMPARE(QModBus0::modbus_write_registers_32(m_ctx, 5000, 3, registers), 2);
        m_devsim.setFault("malformed");
        QCOMPARE(QModBus0::modbus_read_registers_32(m_ctx, 5000, 3, registers), -1);
        QCOMPARE(errno, int(EMBBADDATA));
        QCOMPARE(QModBus0::modbus_write_registers_32(m_ctx, 5000, 1, registers), -1);
        QCOMPARE(errno, int(EMBBADDATA));
    }

    void servesEveryTableOnTheWire_data()
    {
        QTest::addColumn<bool>("rtu");
        QTest::newRow("tcp") << false;
        QTest::newRow("rtu") << true;
    }

    void servesEveryTableOnTheWire()
    {
        QFETCH(bool, rtu);
        modbus_t *ctx = rtu ? m_rtu : m_ctx;
        const int base = rtu ? 200 : 100; // each transport writes addresses of its own
        uint8_t bits[16] = {};
        uint16_t words[52] = {};
        const uint8_t written[] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1};
        const uint16_t pair[] = {1, 2};
        uint8_t report[32];
        const struct
        {
            int fc;
            int answerPduLength;
            std::function<bool()> call;
        } steps[] = {
            {1, 4,
             [&] {
                 return QModBus0::modbus_read_bits(ctx, 0, 16, bits) == 16 && packed(bits, 16) == "a53c";
             }},
            {2, 4,
             [&] {
                 return QModBus0::modbus_read_input_bits(ctx, 0, 16, bits) == 16 &&
                        packed(bits, 16) == "530f";
             }},
            {4, 2 + 104,
             [&] {
                 return QModBus0::modbus_read_input_registers(ctx, 0, 52, words) == 52 &&
                        words[0] == 0xFFFF && words[51] == 0x006D;
             }},
            {5, 5, [&] { return QModBus0::modbus_write_bit(ctx, base, 1) == 1; }},
            {15, 5, [&] { return QModBus0::modbus_write_bits(ctx, base + 1, 10, written) == 10; }},
            {1, 4,
             [&] {
                 return QModBus0::modbus_read_bits(ctx, base, 11, bits) == 11 && bits[0] == 1 &&
                        std::memcmp(bits + 1, written, sizeof written) == 0;
             }},
            {6, 5, [&] { return QModBus0::modbus_write_register(ctx, base, 0xBEEF) == 1; }},
            {16, 5, [&] { return QModBus0::modbus_write_registers(ctx, base + 1, 2, pair) == 2; }},
            {3, 8,
             [&] {
                 return QModBus0::modbus_read_registers(ctx, base, 3, words) == 3 && words[0] == 0xBEEF &&
                        words[2] == 2;
             }},
            {17, 25, [&] { return QModBus0::modbus_report_slave_id(ctx, sizeof report, report) == 23; }},
        };
        const int header = rtu ? 1 : 7;
        const int checksum = rtu ? 2 : 0;
        for (const auto &step : steps) {
            const TrafficCounters before = counters();
            QVERIFY2(step.call(), qPrintable(QString("function %1: %2").arg(step.fc).arg(strerror(errno))));
            const TrafficRecord record = lastRecord();
            QCOMPARE(record.fc, step.fc);
            QCOMPARE(record.error, QString());
            // Exactly what arrived at the device, header or CRC included.
            QCOMPARE(record.request.toHex(), m_devsim.lastFrame().toHex());
            QCOMPARE(record.response.size(), header + step.answerPduLength + checksum);
            QCOMPARE(int(uint8_t(record.response.at(header))), step.fc);
            if (!rtu) {
                QCOMPARE(record.response.left(2), record.request.left(2)); // transaction id
                QCOMPARE((uint8_t(record.response.at(4)) << 8) | uint8_t(record.response.at(5)),
                         record.response.size() - 6);
            }
            QVERIFY(record.ms > 0);
            QCOMPARE(counters().requests, before.requests + 1);
            QCOMPARE(counters().answers, before.answers + 1);
            QCOMPARE(counters().lastMs, record.ms);
        }
    }

    void preloadsInputRegistersAsDocumented()
    {
        uint16_t words[52];
        QCOMPARE(QModBus0::modbus_read_input_registers(m_ctx, 0, 52, words), 52);
        const struct
        {
            int address;
            const char *type;
            const char *order;
            int count;
            const char *values;
        } documented[] = {
            {0, "int16", "ABCD", 2, "[-1,-25536]"},
            {1, "uint16", "ABCD", 1, "[40000]"},
            {2, "int16", "ABCD", 1, "[-12345]"},
            {3, "int16", "BADC", 1, "[-12345]"},
            {4, "int32", "ABCD", 2, "[-123456789]"},
            {6, "uint32", "ABCD", 2, "[4000000000]"},
            {8, "float32", "ABCD", 2, "[123.456]"},
            {10, "float32", "CDAB", 2, "[123.456]"},
            {12, "float32", "BADC", 2, "[123.456]"},
            {14, "float32", "DCBA", 2, "[123.456]"},
            {16, "int64", "ABCD", 4, "[\"-1234567890123456789\"]"},
            {20, "uint64", "ABCD", 4, "[\"12345678901234567890\"]"},
            {24, "float64", "ABCD", 4, "[3.141592653589793]"},
            {28, "float64", "CDAB", 4, "[3.141592653589793]"},
            {32, "float64", "BADC", 4, "[3.141592653589793]"},
            {36, "float64", "DCBA", 4, "[3.141592653589793]"},
            {40, "ascii", "ABCD", 6, "[\"Vexo devsim\"]"},
            {46, "ascii", "BADC", 6, "[\"Vexo devsim\"]"},
        };
        for (const auto &row : documented) {
            ValueCodec::Type type;
            ValueCodec::Order order;
            QVERIFY(ValueCodec::typeFromName(row.type, &type) &&
                    ValueCodec::orderFromName(row.order, &order));
            const QVector<quint16> registers(words + row.address, words + row.address + row.count);
            QCOMPARE(ValueCodec::decode(registers, type, order), QByteArray(row.values));
        }
    }

    void countsEachKindOfFailure()
    {
        const struct
        {
            bool rtu;
            const char *fault;
            int address;
            quint64 TrafficCounters::*counter;
            int error;
        } rows[] = {
            {false, "silent", 0, &TrafficCounters::timeouts, QModBus0::timedOutErrno},
            {true, "silent", 0, &TrafficCounters::timeouts, QModBus0::timedOutErrno},
            {false, "none", 9999, &TrafficCounters::exceptions, int(EMBXILADD)},
            {true, "none", 9999, &TrafficCounters::exceptions, int(EMBXILADD)},
            {true, "bad-crc", 0, &TrafficCounters::crcErrors, int(EMBBADCRC)},
        };
        for (const auto &row : rows) {
            modbus_t *ctx = row.rtu ? m_rtu : m_ctx;
            setResponseTimeout(ctx, 300);
            m_devsim.setFault(row.fault);
            const TrafficCounters before = counters();
            uint16_t words[2];
            errno = 0;
            QCOMPARE(QModBus0::modbus_read_input_registers(ctx, row.address, 2, words), -1);
            QCOMPARE(errno, row.error);
            const TrafficCounters after = counters();
            QCOMPARE(after.requests, before.requests + 1);
            QCOMPARE(after.*row.counter, before.*row.counter + 1);
            QCOMPARE(after.answers, before.answers);
            const TrafficRecord record = lastRecord();
            QCOMPARE(record.error, QString::fromLocal8Bit(QModBus0::modbus_strerror(row.error)));
            // A silent device leaves nothing to show; an exception or a broken frame is shown whole.
            QCOMPARE(record.response.isEmpty(), row.error == QModBus0::timedOutErrno);
            setResponseTimeout(ctx, 1000);
        }
        m_devsim.setFault("none");
        QModBus0::trafficRecorder().resetCounters();
        QCOMPARE(counters().requests, quint64(0));
        QCOMPARE(counters().avgMs, 0.0);
        QVERIFY(!lastRecord().request.isEmpty());
    }

    void refusesAnswersThatDoNotMatchTheRequest()
    {
        uint8_t bits[16];
        uint16_t words[2] = {7, 8};
        const uint8_t three[] = {1, 0, 1};
        const struct
        {
            const char *fault;
            std::function<int()> call;
        } rows[] = {
            {"short", [&] { return QModBus0::modbus_read_bits(m_ctx, 0, 16, bits); }},
            {"short", [&] { return QModBus0::modbus_read_input_bits(m_ctx, 0, 9, bits); }},
            {"short", [&] { return QModBus0::modbus_read_input_registers(m_ctx, 0, 2, words); }},
            {"short", [&] { return QModBus0::modbus_write_bit(m_ctx, 300, 1); }},
            {"short", [&] { return QModBus0::modbus_write_register(m_ctx, 300, 7); }},
            {"short", [&] { return QModBus0::modbus_write_bits(m_ctx, 300, 3, three); }},
            {"short", [&] { return QModBus0::modbus_write_registers(m_ctx, 300, 2, words); }},
            {"malformed", [&] { return QModBus0::modbus_read_input_bits(m_ctx, 0, 16, bits); }},
            {"malformed", [&] { return QModBus0::modbus_read_input_registers(m_ctx, 0, 2, words); }},
            {"malformed", [&] { return QModBus0::modbus_write_register(m_ctx, 300, 7); }},
        };
        for (const auto &row : rows) {
            m_devsim.setFault(row.fault);
            errno = 0;
            QCOMPARE(row.call(), -1);
            QCOMPARE(errno, int(EMBBADDATA));
            QVERIFY(lastRecord().outcome == TrafficRecord::Outcome::OtherError);
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
        const TrafficCounters counted = recorder.counters();
        QCOMPARE(counted.requests, quint64(TrafficRecorder::capacity + 2));
        QCOMPARE(counted.answers, quint64(TrafficRecorder::capacity / 2 + 1));
        QCOMPARE(counted.exceptions, quint64(TrafficRecorder::capacity / 2 + 1));
        QCOMPARE(counted.lastMs, double(TrafficRecorder::capacity + 2));
        QCOMPARE(counted.avgMs, (TrafficRecorder::capacity + 3) / 2.0);
        record.time = QDateTime(QDate(2026, 12, 6), QTime(10, 0, 0, 123), QTimeZone(3600));
        QCOMPARE(record.timeText(), QString("2026-12-06T10:00:00.123+01:00"));
    }

    void agreesWithPymodbusOnCoilsAndInputRegisters()
    {
        PymodbusPeer peer;
        QVERIFY(peer.start());
        modbus_t *ctx = QModBus0::modbus_new_tcp("127.0.0.1", peer.port());
        QCOMPARE(QModBus0::modbus_connect(ctx), 0);
        QModBus0::modbus_set_slave(ctx, 1);
        QCOMPARE(peer.ask("set ir 10 4660,65535,0,32768"), QByteArray("ok"));
        QCOMPARE(peer.ask("set co 5 1,0,1,1,0,0,0,0,1"), QByteArray("ok"));
        uint16_t words[4];
        uint8_t bits[9];
        const uint8_t written[] = {1, 1, 0, 1};
        const bool agreed = QModBus0::modbus_read_input_registers(ctx, 10, 4, words) == 4 &&
                            QVector<quint16>(words, words + 4) == QVector<quint16>{4660, 65535, 0, 32768} &&
                            QModBus0::modbus_read_bits(ctx, 5, 9, bits) == 9 && packed(bits, 9) == "0d01" &&
                            QModBus0::modbus_write_bits(ctx, 20, 4, written) == 4 &&
                            QModBus0::modbus_write_bit(ctx, 30, 1) == 1;
        const int failure = errno;
        QModBus0::modbus_close(ctx);
        QModBus0::modbus_free(ctx);
        QVERIFY2(agreed, QModBus0::modbus_strerror(failure));
        QCOMPARE(peer.ask("get co 20 4"), QByteArray("1,1,0,1"));
        QCOMPARE(peer.ask("get co 30 1"), QByteArray("1"));
        QCOMPARE(lastRecord().response.mid(7).toHex(), QByteArray("05001eff00"));
    }

    void copiesNoMoreReportBytesThanTheBufferHolds()
    {
        uint8_t report[6];
        std::memset(report, 0xEE, sizeof report);
        // Device id, run indicator and "Vexo simulated device": 23 bytes reported.
        QCOMPARE(QModBus0::modbus_report_slave_id(m_ctx, 4, report), 23);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(report), 6).toHex(), QByteArray("2aff5665eeee"));
    }

    void enumeratesConfiguredExtraPorts()
    {
        QTemporaryDir dir;
        QFile config(dir.filePath("config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("[serial]\nextraPorts=/tmp/vexo-a, /tmp/vexo-b\n");
        config.close();
        QModBus0::setPortsConfigFile(config.fileName());
        const QList<QModBus0::PortInfo> ports = QModBus0::getPorts();
        QVERIFY(ports.size() >= 2);
        QCOMPARE(ports.at(ports.size() - 2).portName, QString("/tmp/vexo-a"));
        QCOMPARE(ports.last().portName, QString("/tmp/vexo-b"));
        QCOMPARE(ports.last().friendName, QString("/tmp/vexo-b"));
        QModBus0::setPortsConfigFile(QString());
        QCOMPARE(QModBus0::portsConfigFile(), QCoreApplication::applicationDirPath() + "/config.ini");
    }
};

QTEST_GUILESS_MAIN(TestQModBus0)
#include "tst_qmodbus0.moc"
