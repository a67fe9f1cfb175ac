#include "devsimprocess.h"
#include "modbusengine.h"
#include "modbustestclient.h"
#include "modbustestparams.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace {
const QByteArray notConnected = "{\"error\":\"Not connected\"}";
const QByteArray inputError = "{\"error\":\"Input parameters error!\"}";
const QByteArray timeoutError = "{\"error\":\"I/O error: did not receive any data from slave.\"}";
const QByteArray countMismatch = "{\"error\":\"Number of registers returned does not match!\"}";
const QByteArray invalidData = "{\"error\":\"Protocol error! Invalid data\"}";
const QByteArray sent = "{\"ok\":\"Values successfully sent.\"}";
const QByteArray valuesError = "{\"error\":\"Registers values error!\"}";
} // namespace

// The engine over Modbus TCP against the simulated device, checked through a separate
// plain libmodbus client.
class TestModbusTcp : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_settingsDir;
    DevsimProcess m_devsim;
    std::unique_ptr<ModbusTestClient> m_device;

    t_GetArray tcpConnectParams(int port, int timeout = 1000)
    {
        return requestParams({{"func", "connect"},
                              {"connType", "tcp"},
                              {"ipAddres_tcp", "127.0.0.1"},
                              {"slaveID", "1"},
                              {"port_tcp", QByteArray::number(port)},
                              {"timeout", QByteArray::number(timeout)}});
    }

    void connectEngine(ModbusEngine &engine, int port)
    {
        t_GetArray params = tcpConnectParams(port);
        QCOMPARE(engine.connectModbus(params), QByteArray("{\"ok\":\"Connected with Modbus TCP.\"}"));
    }

    QByteArray read(ModbusEngine &engine, t_GetArray params) { return engine.readRegisters(params, 0); }
    QByteArray write(ModbusEngine &engine, t_GetArray params) { return engine.writeRegisters(params, 0); }

private slots:
    void initTestCase()
    {
        isolateSettingsStore(m_settingsDir);
        QVERIFY(m_devsim.startTcp());
        m_device.reset(new ModbusTestClient(m_devsim.port()));
    }

    void init() { m_devsim.setFault("none"); }

    void connectsDisconnectsAndRemembersSettings()
    {
        ModbusEngine engine;
        QVERIFY(engine.getPortSettings().endsWith(
            "\"userSettings\":{\"port\":\"0\",\"slaveID\":1,\"baudRate\":0,\"mode\":3,\"timeout\":200000,"
            "\"tcpIp\":\"192.168.1.100\",\"tcpPort\":502,\"connectionType\":\"serial\",\"isConnected\":false}"
            "}"));
        QVERIFY(engine.getPortSettings().contains(
            "\"baudRate\":{\"0\":\"1200\",\"1\":\"2400\",\"2\":\"4800\",\"3\":\"9600\",\"4\":\"14400\",\"5\":"
            "\"19200\",\"6\":\"28800\",\"7\":\"38400\",\"8\":\"57600\",\"9\":\"115200\",\"10\":\"230400\","
            "\"11\":"
            "\"256000\",\"12\":\"1000000\"},\"mode\":{\"0\":\"RTU 8N2\",\"1\":\"RTU 8E1\",\"2\":\"RTU "
            "8O1\",\"3\":"
            "\"RTU 8N1\"},"));
        t_GetArray read0 = readParams(0, 1);
        QCOMPARE(engine.readRegisters(read0, 0), notConnected);

        t_GetArray noType = requestParams({{"func", "connect"}});
        QCOMPARE(engine.connectModbus(noType), inputError);
        // Anything but exactly "serial" takes the TCP path, which wants its own parameters.
        t_GetArray serialCased = requestParams({{"connType", "Serial"}, {"portSelect", "x"}});
        QCOMPARE(engine.connectModbus(serialCased), inputError);

        t_GetArray params = tcpConnectParams(m_devsim.port());
        params["slaveID"] = "70000";
        QCOMPARE(engine.connectModbus(params), QByteArray("{\"ok\":\"Connected with Modbus TCP.\"}"));
        QVERIFY(engine.getPortSettings().endsWith(
            QStringLiteral(
                "\"slaveID\":4464,\"baudRate\":0,\"mode\":3,\"timeout\":1000,\"tcpIp\":\"127.0.0.1\","
                "\"tcpPort\":%1,\"connectionType\":\"tcp\",\"isConnected\":true}}")
                .arg(m_devsim.port())
                .toLatin1()));
        // The library refuses unit id 4464: nothing goes to the device.
        const int before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(8, 1)), inputError);
        QCOMPARE(write(engine, writeParams(300, 1, "[1]")), inputError);
        QCOMPARE(engine.identifySlave(0), inputError);
        QCOMPARE(m_devsim.requestCount(), before);
        QCOMPARE(engine.disconnectModbus(), QByteArray("{\"ok\":\"Disconnected\"}"));
        QVERIFY(engine.getPortSettings().endsWith("\"connectionType\":\"tcp\",\"isConnected\":false}}"));
        QCOMPARE(engine.readRegisters(read0, 0), notConnected);

        // Nobody listens on the closed port: refused, but the settings were stored first.
        auto gone = std::make_unique<DevsimProcess>();
        QVERIFY(gone->startTcp());
        const int closedPort = gone->port();
        gone.reset();
        t_GetArray unreachable = tcpConnectParams(closedPort, 300);
        QCOMPARE(engine.connectModbus(unreachable),
                 QByteArray("{\"error\":\"Could not connect to Modbus TCP!\"}"));
        QCOMPARE(QSettings().value("tcpPort").toInt(), closedPort);
        QVERIFY(engine.getPortSettings().endsWith("\"isConnected\":false}}"));

        // A name that does not resolve is refused; one that does reaches the device.
        t_GetArray named = tcpConnectParams(m_devsim.port());
        named["ipAddres_tcp"] = "no-such-device.invalid";
        QCOMPARE(engine.connectModbus(named), QByteArray("{\"error\":\"Could not connect to Modbus TCP!\"}"));
        QCOMPARE(read(engine, readParams(8, 1)), notConnected);
        named["ipAddres_tcp"] = "localhost";
        QCOMPARE(engine.connectModbus(named), QByteArray("{\"ok\":\"Connected with Modbus TCP.\"}"));
        QCOMPARE(read(engine, readParams(8, 1)), QByteArray("[42]"));

        // Whatever address is stored, the settings reply parses.
        const QString hostile = QStringLiteral("1.2.3.4\"},\"x\":\\\n");
        QSettings().setValue("tcpIp", hostile);
        const QJsonObject stored =
            QJsonDocument::fromJson(engine.getPortSettings()).object().value("userSettings").toObject();
        QCOMPARE(stored.value("tcpIp").toString(), hostile);
    }

    void refusesBadParametersWithTheirTexts()
    {
        ModbusEngine engine;
        connectEngine(engine, m_devsim.port());
        t_GetArray noAddress = requestParams({{"valuesCnt", "1"}});
        QCOMPARE(read(engine, noAddress), inputError);
        QCOMPARE(read(engine, readParams(0, 1, {{"regSize", "8"}})),
                 QByteArray("{\"error\":\"Invalid registers size!\"}"));
        QCOMPARE(read(engine, readParams(0, 1, {{"valSize", "64"}})),
                 QByteArray("{\"error\":\"Invalid value size!\"}"));
        QCOMPARE(read(engine, readParams(0, 1, {{"floatPrec", "21"}})),
                 QByteArray("{\"error\":\"Invalid float precision!\"}"));
        QCOMPARE(read(engine, readParams(0, 1, {{"floatPrec", "-1"}})),
                 QByteArray("{\"error\":\"Invalid float precision!\"}"));
        QCOMPARE(read(engine, readParams(5000, 1, {{"regSize", "32"}, {"valSize", "16"}})),
                 QByteArray("{\"error\":\"Invalid one value size!\"}"));
        QCOMPARE(read(engine, readParams(0, 201)), QByteArray("{\"error\":\"Too many registers\"}"));
        QCOMPARE(read(engine, readParams(0, 0)), inputError);
        QCOMPARE(read(engine, readParams(0, -5)), inputError);
        QCOMPARE(read(engine, readParams(70000, 1)), inputError);

        t_GetArray noValues = requestParams({{"regAddr", "0"}, {"valuesCnt", "1"}});
        QCOMPARE(write(engine, noValues), inputError);
        QCOMPARE(write(engine, writeParams(0, 1, "[1]", {{"regSize", "20"}})),
                 QByteArray("{\"error\":\"Invalid registers size!\"}"));
        QCOMPARE(write(engine, writeParams(0, 1, "[1]", {{"valSize", "8"}})),
                 QByteArray("{\"error\":\"Invalid value size!\"}"));
        QCOMPARE(write(engine, writeParams(5000, 1, "[1]", {{"regSize", "32"}})),
                 QByteArray("{\"error\":\"Invalid one value size!\"}"));
        QCOMPARE(write(engine, writeParams(0, 201, "[]")), QByteArray("{\"error\":\"Too many registers\"}"));
        QCOMPARE(write(engine, writeParams(0, 0, "[]")), inputError);
        QCOMPARE(write(engine, writeParams(300, 2, "[1,2,3]")), valuesError);
        QCOMPARE(write(engine, writeParams(300, 1, "5")), valuesError);
        QCOMPARE(write(engine, writeParams(300, 1, "[1,")), valuesError);

        // A 400-register read passes the engine's own limit and is refused by the library.
        const int before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 200, {{"valSize", "32"}})),
                 QByteArray("{\"error\":\"Protocol error! Too many data\"}"));
        QCOMPARE(m_devsim.requestCount(), before);
    }

    void decodesEveryReadRow()
    {
        ModbusEngine engine;
        connectEngine(engine, m_devsim.port());
        QVERIFY(m_device->write16(200, {0xFFFF, 1234, 0xFFFE, 0xFFFF, 0x0001, 0x0000}));
        QCOMPARE(read(engine, readParams(200, 2)), QByteArray("[-1,1234]"));
        QCOMPARE(read(engine, readParams(200, 2, {{"regType", "uint"}})), QByteArray("[65535,1234]"));
        QCOMPARE(read(engine, readParams(200, 2, {{"regType", "Int"}})), QByteArray("[65535,1234]"));
        QCOMPARE(read(engine, readParams(202, 1, {{"valSize", "32"}})), QByteArray("[-2]"));
        QCOMPARE(read(engine, readParams(202, 1, {{"regType", "uint"}, {"valSize", "32"}})),
                 QByteArray("[4294967294]"));
        QCOMPARE(read(engine, readParams(204, 1, {{"regType", "long"}, {"valSize", "32"}})),
                 QByteArray("[65536]"));
        // Types that need two registers read two, whatever valSize says.
        QCOMPARE(read(engine, readParams(204, 1, {{"regType", "long"}})), QByteArray("[65536]"));

        QVERIFY(m_device->write16(210, {0x4148, 0x0000, 0x4CBE, 0xBC20, 0x3421, 0x0FB0, 0x7FC0, 0x0000,
                                        0x7F80, 0x0000, 0xFF80, 0x0000, 0x4996, 0xB438, 0x47F1, 0x205A}));
        const auto float4321 = {std::make_pair("regType", QByteArray("float4321")),
                                std::make_pair("valSize", QByteArray("32"))};
        QCOMPARE(read(engine, readParams(210, 8, float4321)),
                 QByteArray("[12.5,100000000.00,1.5e-07,nan,inf,-inf,1.23457e+06,123457]"));
        QCOMPARE(read(engine,
                      readParams(210, 2, {{"regType", "float4321"}, {"valSize", "32"}, {"floatPrec", "5"}})),
                 QByteArray("[12.5,100000000.00000]"));
        QCOMPARE(read(engine, readParams(210, 1, {{"regType", "float4321"}})), QByteArray("[12.5]"));

        QVERIFY(m_device->write16(230, {0x0000, 0x4148, 0x0000, 0x4070, 0x0000, 0xBF00}));
        QCOMPARE(read(engine, readParams(230, 3, {{"regType", "float1234"}, {"valSize", "32"}})),
                 QByteArray("[12.50,3.75,-0.50]"));
        QCOMPARE(read(engine,
                      readParams(232, 1, {{"regType", "float1234"}, {"valSize", "32"}, {"floatPrec", "0"}})),
                 QByteArray("[4]"));

        QVERIFY(m_device->write32(5100, {0x00004148, 0x41480000, 0xFFFFFFFE, 0x00020001, 0x4CBEBC20}));
        QCOMPARE(read(engine,
                      readParams(5100, 1, {{"regType", "float1234"}, {"regSize", "32"}, {"valSize", "32"}})),
                 QByteArray("[12.5]"));
        QCOMPARE(read(engine,
                      readParams(5101, 1, {{"regType", "float4321"}, {"regSize", "32"}, {"valSize", "32"}})),
                 QByteArray("[12.50]"));
        QCOMPARE(read(engine, readParams(5102, 1, {{"regSize", "32"}, {"valSize", "32"}})),
                 QByteArray("[-2]"));
        QCOMPARE(
            read(engine, readParams(5102, 1, {{"regType", "uint"}, {"regSize", "32"}, {"valSize", "32"}})),
            QByteArray("[4294967294]"));
        // "long" has no 32-bit register row: the 16-bit halves of the first registers show.
        QCOMPARE(
            read(engine, readParams(5103, 2, {{"regType", "long"}, {"regSize", "32"}, {"valSize", "32"}})),
            QByteArray("[1,2]"));
        QCOMPARE(
            read(engine, readParams(5000, 3, {{"regType", "uint"}, {"regSize", "32"}, {"valSize", "32"}})),
            QByteArray("[123456789,1095237632,4294967295]"));
    }

    void rawAsksForTheRegistersOfTheSameRead()
    {
        ModbusEngine engine;
        connectEngine(engine, m_devsim.port());
        QVERIFY(m_device->write16(240, {0xFFFF, 0x4148, 0x0000, 0x7FC0, 0x0000}));
        const QByteArray raw = "1";
        const struct
        {
            t_GetArray params;
            QByteArray reply;
        } cases[] = {
            {readParams(240, 1, {{"raw", raw}}), "{\"values\":[-1],\"raw\":[65535]}"},
            {readParams(241, 2, {{"regType", "float4321"}, {"valSize", "32"}, {"raw", raw}}),
             "{\"values\":[12.5,nan],\"raw\":[16712,0,32704,0]}"},
            {readParams(5000, 3, {{"regType", "uint"}, {"regSize", "32"}, {"valSize", "32"}, {"raw", raw}}),
             "{\"values\":[123456789,1095237632,4294967295],\"raw\":[123456789,1095237632,4294967295]}"},
            // Without the parameter, or with another value, the reply is the bare array.
            {readParams(240, 1), "[-1]"},
            {readParams(240, 1, {{"raw", "0"}}), "[-1]"},
            {readParams(240, 1, {{"raw", raw}, {"regSize", "8"}}), "{\"error\":\"Invalid registers size!\"}"},
        };
        for (const auto &c : cases) {
            const int before = m_devsim.requestCount();
            QCOMPARE(read(engine, c.params), c.reply);
            QCOMPARE(m_devsim.requestCount() - before, c.reply.startsWith("{\"error") ? 0 : 1);
        }
    }

    void encodesEveryWriteRow()
    {
        ModbusEngine engine;
        connectEngine(engine, m_devsim.port());
        QCOMPARE(write(engine, writeParams(300, 2, "[1,2]")), sent);
        QCOMPARE(m_device->read16(300, 2), QVector<quint16>({1, 2}));
        QCOMPARE(write(engine, writeParams(300, 4, "[-1,70000,2.9,\"-2.9\"]")), sent);
        QCOMPARE(m_device->read16(300, 4), QVector<quint16>({0xFFFF, 4464, 2, 0xFFFE}));
        QCOMPARE(write(engine, writeParams(300, 1, "[4294967295]", {{"regType", "uint"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read16(300, 2), QVector<quint16>({0xFFFF, 0xFFFF}));
        QCOMPARE(write(engine, writeParams(300, 2, "[-2, 65536]", {{"regType", "int"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read16(300, 4), QVector<quint16>({0xFFFE, 0xFFFF, 0x0000, 0x0001}));
        QCOMPARE(write(engine, writeParams(300, 1, "[12.5]", {{"regType", "float4321"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read16(300, 2), QVector<quint16>({0x4148, 0x0000}));
        QCOMPARE(
            write(engine, writeParams(300, 2, "[12.5,\"x\"]", {{"regType", "float1234"}, {"valSize", "32"}})),
            sent);
        QCOMPARE(m_device->read16(300, 4), QVector<quint16>({0x0000, 0x4148, 0x0000, 0x0000}));
        // Two-register types take two registers even with valSize 16; "long" goes high half first.
        QCOMPARE(write(engine, writeParams(310, 1, "[-0.5]", {{"regType", "float4321"}})), sent);
        QCOMPARE(m_device->read16(310, 3), QVector<quint16>({0xBF00, 0x0000, 0}));
        QCOMPARE(write(engine, writeParams(310, 1, "[65538]", {{"regType", "long"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read16(310, 2), QVector<quint16>({0x0001, 0x0002}));

        QCOMPARE(write(engine, writeParams(5200, 1, "[12.5]",
                                           {{"regType", "float1234"}, {"regSize", "32"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read32(5200, 1), QVector<quint32>({0x00004148}));
        QCOMPARE(write(engine, writeParams(5200, 2, "[12.5,-0.5]",
                                           {{"regType", "float4321"}, {"regSize", "32"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read32(5200, 2), QVector<quint32>({0x41480000, 0xBF000000}));
        QCOMPARE(
            write(engine, writeParams(5200, 2, "[-2,4294967295]", {{"regSize", "32"}, {"valSize", "32"}})),
            sent);
        QCOMPARE(m_device->read32(5200, 2), QVector<quint32>({0xFFFFFFFE, 0xFFFFFFFF}));
        QCOMPARE(write(engine, writeParams(5200, 1, "[4294967295]",
                                           {{"regType", "uint"}, {"regSize", "32"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read32(5200, 1), QVector<quint32>({0xFFFFFFFF}));
        // Any other type puts one 16-bit value into each 32-bit register.
        QCOMPARE(write(engine, writeParams(5200, 2, "[70000,-1]",
                                           {{"regType", "x"}, {"regSize", "32"}, {"valSize", "32"}})),
                 sent);
        QCOMPARE(m_device->read32(5200, 2), QVector<quint32>({4464, 0xFFFF}));
    }

    void runawayValuesAreStoppedAndTheNextRequestWorks()
    {
        ModbusEngine engine;
        connectEngine(engine, m_devsim.port());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(write(engine, writeParams(320, 1, "(function(){while(true){}})()")), valuesError);
        QCOMPARE(write(engine, writeParams(320, 1, "new Proxy([], {get: function() { for (;;) {} }})")),
                 valuesError);
        QVERIFY2(timer.elapsed() < 5000, "a runaway expression held the engine");
        QCOMPARE(write(engine, writeParams(320, 1, "[77]")), sent);
        QCOMPARE(m_device->read16(320, 1), QVector<quint16>({77}));
    }

    void retransmitsThenReportsFaults()
    {
        ModbusEngine engine;
        connectEngine(engine, m_devsim.port());

        m_devsim.setFault("silent");
        int before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 2)), timeoutError);
        QCOMPARE(m_devsim.requestCount() - before, 1);

        // libmodbus itself refuses a short 16-bit answer as invalid data.
        m_devsim.setFault("short");
        before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(0, 3)), invalidData);
        QCOMPARE(m_devsim.requestCount() - before, 4);
        // The 32-bit transfer hands on the registers that came: a count mismatch.
        before = m_devsim.requestCount();
        QCOMPARE(
            read(engine, readParams(5000, 2, {{"regType", "uint"}, {"regSize", "32"}, {"valSize", "32"}})),
            countMismatch);
        QCOMPARE(m_devsim.requestCount() - before, 4);
        before = m_devsim.requestCount();
        QCOMPARE(write(engine, writeParams(5300, 2, "[1,2]", {{"regSize", "32"}, {"valSize", "32"}})),
                 countMismatch);
        QCOMPARE(m_devsim.requestCount() - before, 4);

        m_devsim.setFault("malformed");
        before = m_devsim.requestCount();
        QCOMPARE(read(engine, readParams(5000, 1, {{"regSize", "32"}, {"valSize", "32"}})), invalidData);
        QCOMPARE(write(engine, writeParams(330, 1, "[5]")), invalidData);
        QCOMPARE(m_devsim.requestCount() - before, 8);

        // Late but within the time-out is fine; the time-out number is the response time-out.
        m_devsim.setFault("none", 150);
        QCOMPARE(read(engine, readParams(0, 1)), QByteArray("[1234]"));
        t_GetArray patient = tcpConnectParams(m_devsim.port(), 3000);
        QCOMPARE(engine.connectModbus(patient), QByteArray("{\"ok\":\"Connected with Modbus TCP.\"}"));
        m_devsim.setFault("none", 800);
        QCOMPARE(read(engine, readParams(0, 1)), QByteArray("[1234]"));
    }

    void identifiesTheSlaveAndEscapesItsText()
    {
        DevsimProcess device;
        QVERIFY(device.startTcp({"--device-id", "5", "--run-indicator", "255", "--id-text",
                                 "A\"B\\\\C/D~E\\nF\\xc3\\xa9G\\x7dH\\x7f"}));
        ModbusEngine engine;
        QCOMPARE(engine.identifySlave(0), notConnected);
        connectEngine(engine, device.port());
        QCOMPARE(engine.identifySlave(0),
                 QByteArray(
                     "{\"id\":5,\"desc\":\"A\\\"B\\\\C\\/DEFG}H\",\"descArray\":[5,255,65,34,66,92,67,47,68,"
                     "126,69,10,70,195,169,71,125,72,127]}"));
        QCOMPARE(QSettings().value("Torva_ID").toString(), QString("5"));

        DevsimProcess twoBytes;
        QVERIFY(twoBytes.startTcp({"--report-hex", "0900"}));
        connectEngine(engine, twoBytes.port());
        QCOMPARE(engine.identifySlave(0), QByteArray("{\"id\":9,\"desc\":\"\",\"descArray\":[9,0]}"));
        // A one-byte report lists only the byte that came.
        DevsimProcess oneByte;
        QVERIFY(oneByte.startTcp({"--report-hex", "07"}));
        connectEngine(engine, oneByte.port());
        QCOMPARE(engine.identifySlave(0), QByteArray("{\"id\":7,\"desc\":\"\",\"descArray\":[7]}"));
        QCOMPARE(QSettings().value("Torva_ID").toString(), QString("7"));

        // A quick failure is retried once on TCP, then reported.
        oneByte.setFault("malformed");
        int before = oneByte.requestCount();
        QCOMPARE(engine.identifySlave(0), invalidData);
        QCOMPARE(oneByte.requestCount() - before, 2);
        DevsimProcess empty;
        QVERIFY(empty.startTcp({"--report-hex", ""}));
        connectEngine(engine, empty.port());
        before = empty.requestCount();
        QCOMPARE(engine.identifySlave(0), invalidData);
        QCOMPARE(empty.requestCount() - before, 2);
        QCOMPARE(QSettings().value("Torva_ID").toString(), QString("7"));
    }

    void lostDeviceGivesTheSocketError()
    {
        ModbusEngine engine;
        {
            DevsimProcess device;
            QVERIFY(device.startTcp());
            connectEngine(engine, device.port());
            QCOMPARE(read(engine, readParams(8, 2)), QByteArray("[42,7]"));
        }
        QCOMPARE(read(engine, readParams(8, 2)),
                 QByteArray("{\"error\":\"Unable to connect with TCP socket.\"}"));
        QCOMPARE(write(engine, writeParams(8, 1, "[1]")),
                 QByteArray("{\"error\":\"Unable to connect with TCP socket.\"}"));
        QCOMPARE(engine.identifySlave(0), QByteArray("{\"error\":\"Unable to connect with TCP socket.\"}"));
    }
};

QTEST_GUILESS_MAIN(TestModbusTcp)
#include "tst_modbustcp.moc"
