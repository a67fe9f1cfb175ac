#include "devsimprocess.h"
#include "modbustimeouts.h"
#include "qmodbus0.h"

#include <QtTest>

#include <modbus.h>

#include <cerrno>
#include <cstring>
#include <limits>

// The library layer against the simulated device: time-out conventions, the 32-bit
// register transfers on the wire, and port enumeration.
class TestQModBus0 : public QObject
{
    Q_OBJECT
private:
    DevsimProcess m_devsim;
    modbus_t *m_ctx = nullptr;

private slots:
    void initTestCase()
    {
        QVERIFY(m_devsim.startTcp());
        m_ctx = QModBus0::modbus_new_tcp("127.0.0.1", m_devsim.port());
        QVERIFY(m_ctx);
        QCOMPARE(QModBus0::modbus_connect(m_ctx), 0);
        QModBus0::modbus_set_slave(m_ctx, 1);
    }

    void cleanupTestCase()
    {
        QModBus0::modbus_close(m_ctx);
        QModBus0::modbus_free(m_ctx);
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
