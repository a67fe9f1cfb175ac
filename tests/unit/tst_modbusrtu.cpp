#include "devsimprocess.h"
#include "modbusengine.h"
#include "modbustestclient.h"
#include "modbustestparams.h"
#include "qmodbus0.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {
const QByteArray inputError = "{\"error\":\"Input parameters error!\"}";
const QByteArray connectedText = "{\"ok\":\"Connected with serial port.\"}";
const QByteArray badCrc = "{\"error\":\"Protocol error! Invalid CRC\"}";
const QByteArray timeoutError = "{\"error\":\"I/O error: did not receive any data from slave.\"}";
const QString describedPort = QStringLiteral("/nonexistent/Zähler \"Ω\"");
} // namespace

// The engine over Modbus RTU on a socat pseudo-terminal pair; the simulator serves the
// other end and, on loopback TCP, the same registers for checking.
class TestModbusRtu : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    PtyPair m_line;
    DevsimProcess m_devsim;
    std::unique_ptr<ModbusTestClient> m_device;

    t_GetArray serialParams(const QByteArray &port, const QByteArray &baud = "9",
                            const QByteArray &mode = "3")
    {
        return requestParams({{"func", "connect"},
                              {"connType", "serial"},
                              {"portSelect", port},
                              {"slaveID", "1"},
                              {"baudRate", baud},
                              {"mode", mode},
                              {"timeout", "100"}});
    }

    void connectEngine(ModbusEngine &engine)
    {
        t_GetArray params = serialParams(m_line.first().toUtf8());
        QCOMPARE(engine.connectModbus(params), connectedText);
    }

    QByteArray read(ModbusEngine &engine, t_GetArray params) { return engine.readRegisters(params, 0); }

private slots:
    void initTestCase()
    {
        isolateSettingsStore(m_dir);
        QVERIFY(m_line.start());
        const QString config = m_dir.filePath("ports.ini");
        QSettings ports(config, QSettings::IniFormat);
        ports.setValue("serial/extraPorts",
                       QStringList{"/nonexistent/vexo-tty", describedPort, "LPT1", m_line.first()});
        ports.sync();
        QModBus0::setPortsConfigFile(config);
        QVERIFY(m_devsim.start({"--tcp", "127.0.0.1:0", "--rtu", m_line.second(), "--slave", "1", "--id-text",
                                "Meter \\\"7\\\"/\\\\x\\n\\xff"}));
        m_device.reset(new ModbusTestClient(m_devsim.port()));
    }

    void init() { m_devsim.setFault("none"); }

    void checksSerialConnectRequests()
    {
        ModbusEngine engine;
        // Whatever a port is called, the reply parses and keeps the name whole.
        const QString index = QString::number(QModBus0::getPorts().size() - 3);
        const QJsonObject described =
            QJsonDocument::fromJson(engine.getPortSettings()).object()["ports"].toObject()[index].toObject();
        QCOMPARE(described["friendName"].toString(), describedPort);
        QVERIFY(engine.getPortSettings().contains(
            QStringLiteral("\"portName\":\"LPT1\",\"friendName\":\"LPT1\"},\"%2\":{\"portName\":\"%1\","
                           "\"friendName\":\"%1\"}},")
                .arg(m_line.first())
                .arg(QModBus0::getPorts().size() - 1)
                .toLatin1()));

        t_GetArray five = serialParams(m_line.first().toUtf8());
        five.remove("func");
        five.remove("connType");
        QCOMPARE(engine.connectSerial(five), inputError);
        t_GetArray noMode = serialParams(m_line.first().toUtf8());
        noMode.remove("mode");
        QCOMPARE(engine.connectModbus(noMode), inputError);

        t_GetArray unknown = serialParams("COM99");
        QCOMPARE(engine.connectModbus(unknown),
                 QByteArray("{\"error\":\"Selected serial port not found.\"}"));
        QCOMPARE(QSettings().value("Selected_Port").toString(), QString("99"));
        t_GetArray printer = serialParams("LPT1");
        QCOMPARE(engine.connectModbus(printer), QByteArray("{\"error\":\"Invalid port!\"}"));
        for (const QByteArray &baud : {QByteArray("13"), QByteArray("-1")}) {
            t_GetArray badBaud = serialParams(m_line.first().toUtf8(), baud);
            QCOMPARE(engine.connectModbus(badBaud), QByteArray("{\"error\":\"Baud rate error!\"}"));
        }
        QVERIFY(engine.getPortSettings().endsWith("\"isConnected\":false}}"));
        t_GetArray missingDevice = serialParams("/nonexistent/vexo-tty");
        QCOMPARE(engine.connectModbus(missingDevice),
                 QByteArray("{\"error\":\"Could not connect to serial port!\"}"));
        QCOMPARE(read(engine, readParams(8, 2)), QByteArray("{\"error\":\"Not connected\"}"));

        // A part of the enumerated name is enough; mode 7 is 8N1 and stored as given.
        t_GetArray partial = serialParams("ptyA", "12", "7");
        QCOMPARE(engine.connectModbus(partial), connectedText);
        QVERIFY(engine.getPortSettings().contains(
            "\"userSettings\":{\"port\":\"ptyA\",\"slaveID\":1,\"baudRate\":12,\"mode\":7,\"timeout\":100,"));
        QVERIFY(engine.getPortSettings().endsWith("\"connectionType\":\"serial\",\"isConnected\":true}}"));
        QCOMPARE(read(engine, readParams(8, 2)), QByteArray("[42,7]"));
        QCOMPARE(engine.disconnectModbus(), QByteArray("{\"ok\":\"Disconnected\"}"));
        QCOMPARE(read(engine, readParams(8, 2)), QByteArray("{\"error\":\"Not connected\"}"));
    }

    void readsAndWritesRegisters()
    {
        ModbusEngine engine;
        connectEngine(engine);
        QCOMPARE(read(engine, readParams(0, 10)), QByteArray("[1234,-1,16712,0,0,16712,1,0,42,7]"));
        QCOMPARE(read(engine, readParams(2, 1, {{"regType", "float4321"}, {"valSize", "32"}})),
                 QByteArray("[12.5]"));
        t_GetArray write16 = writeParams(400, 3, "[1.5,-7,65535]");
        QCOMPARE(engine.writeRegisters(write16, 0), QByteArray("{\"ok\":\"Values successfully sent.\"}"));
        QCOMPARE(m_device->read16(400, 3), QVector<quint16>({1, 0xFFF9, 0xFFFF}));
        t_GetArray write32 = writeParams(6000, 2, "[-3.5, 1e6]",
                                         {{"regType", "float4321"}, {"regSize", "32"}, {"valSize", "32"}});
        QCOMPARE(engine.writeRegisters(write32, 0), QByteArray("{\"ok\":\"Values successfully sent.\"}"));
        QCOMPARE(m_device->read32(6000, 2), QVector<quint32>({0xC0600000, 0x49742400}));
        QCOMPARE(
            read(engine,
                 readParams(
                     6000, 2,
                     {{"regType", "float4321"}, {"regSize", "32"}, {"valSize", "32"}, {"floatPrec", "1"}})),
            QByteArray("[-3.5,1000000.0]"));
    }

    void retransmitsWithReconnectionsThenReportsFaults()
    {
        ModbusEngine engine;
        connectEngine(engine);

        m_devsim.setFault("bad-crc");
        for (int attempt = 1; attempt <= 3; ++attempt)
            QTest::ignoreMessage(
                QtDebugMsg,
                qPrintable(QStringLiteral("CRC retransmission attempt number : %1").arg(attempt)));
        int before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 2)), badCrc);
        QCOMPARE(m_devsim.requestCount() - before, 4);
        before = m_devsim.requestCount();
        t_GetArray write = writeParams(410, 1, "[3]");
        QCOMPARE(engine.writeRegisters(write, 0), badCrc);
        QCOMPARE(m_devsim.requestCount() - before, 4);

        m_devsim.setFault("silent");
        before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 2)), timeoutError);
        QCOMPARE(m_devsim.requestCount() - before, 1);

        m_devsim.setFault("short");
        before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 2)), QByteArray("{\"error\":\"Protocol error! Invalid data\"}"));
        QCOMPARE(read(engine, readParams(5000, 2, {{"regSize", "32"}, {"valSize", "32"}})),
                 QByteArray("{\"error\":\"Number of registers returned does not match!\"}"));
        QCOMPARE(m_devsim.requestCount() - before, 8);

        // The reconnected line still works.
        m_devsim.setFault("none");
        QCOMPARE(read(engine, readParams(8, 1)), QByteArray("[42]"));
        QVERIFY(engine.getPortSettings().endsWith("\"isConnected\":true}}"));
    }

    void lateAnswerIsNotTakenForTheNextRequest()
    {
        ModbusEngine engine;
        connectEngine(engine);
        m_devsim.setFault("none", 1300);
        QCOMPARE(read(engine, readParams(8, 1)), timeoutError);
        m_devsim.setFault("none");
        QTest::qWait(500); // the late answer for register 8 arrives meanwhile
        QCOMPARE(read(engine, readParams(9, 1)), QByteArray("[7]"));
    }

    void identifiesTheSlave()
    {
        ModbusEngine engine;
        connectEngine(engine);
        QCOMPARE(
            engine.identifySlave(0),
            QByteArray("{\"id\":42,\"desc\":\"Meter \\\"7\\\"\\/\\\\x\",\"descArray\":[42,255,77,101,116,101,"
                       "114,32,34,55,34,47,92,120,10,255]}"));
        QCOMPARE(QSettings().value("Torva_ID").toString(), QString("42"));
        // Its long time-outs end with it: a silent slave fails as fast as before.
        m_devsim.setFault("silent");
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(read(engine, readParams(8, 1)), timeoutError);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        // A checksum error reconnects the line and asks once more.
        m_devsim.setFault("bad-crc");
        const int before = m_devsim.requestCount(0x11);
        QCOMPARE(engine.identifySlave(0), badCrc);
        QCOMPARE(m_devsim.requestCount(0x11) - before, 2);
    }

    void storedRateOutsideTheListIsNeverUsed()
    {
        ModbusEngine engine;
        connectEngine(engine);
        QSettings().setValue("baudRate", 99);
        m_devsim.setFault("bad-crc");
        const int before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 1)), badCrc);
        QCOMPARE(m_devsim.requestCount() - before, 1);
        QCOMPARE(read(engine, readParams(0, 1)), QByteArray("{\"error\":\"Not connected\"}"));
    }

    void savesNewSerialSettingsAndReopens()
    {
        ModbusEngine engine;
        connectEngine(engine);
        engine.saveSerialSettings(300, 8, 1);
        QSettings settings;
        QCOMPARE(settings.value("slaveID").toInt(), 1);
        QCOMPARE(settings.value("baudRate").toInt(), 8);
        QCOMPARE(settings.value("mode").toInt(), 1);
        QVERIFY(engine.getPortSettings().endsWith("\"isConnected\":true}}"));
        engine.saveSerialSettings(1, 3, 3);
        QCOMPARE(read(engine, readParams(8, 1)), QByteArray("[42]"));
    }

    void portEnumerationAddsConfiguredPorts()
    {
        const QList<QModBus0::PortInfo> ports = QModBus0::getPorts();
        QVERIFY(ports.size() >= 2);
        QCOMPARE(ports.last().portName, m_line.first());
        QCOMPARE(ports.last().friendName, m_line.first());
        QCOMPARE(ports.at(ports.size() - 2).portName, QString("LPT1"));
    }
};

QTEST_GUILESS_MAIN(TestModbusRtu)
#include "tst_modbusrtu.moc"
