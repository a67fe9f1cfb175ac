#include "modbusengine.h"
#include "modbustestparams.h"
#include "testenv.h"

#include <QProcess>
#include <QtTest>

// The engine against an independent Modbus implementation: a pymodbus server whose
// registers are built and decoded with pymodbus's own payload builder and decoder.
class TestModbusPymodbus : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_settingsDir;
    QProcess m_peer;
    ModbusEngine m_engine;

    QByteArray askPeer(const QByteArray &command)
    {
        m_peer.write(command + "\n");
        for (;;) {
            while (!m_peer.canReadLine()) {
                if (!m_peer.waitForReadyRead(5000))
                    return "no answer";
            }
            // The server library may print lines of its own.
            const QByteArray line = m_peer.readLine().trimmed();
            if (line.startsWith("= "))
                return line.mid(2);
        }
    }

    // "int16" and "uint16" are the engine's types with the default width; every other
    // type here is read and written 32 bits wide.
    static t_GetArray withType(t_GetArray params, const QByteArray &type)
    {
        const bool narrow = type.endsWith("16");
        params.insert("regType", narrow ? type.left(type.size() - 2) : type);
        if (!narrow)
            params.insert("valSize", "32");
        return params;
    }

private slots:
    void initTestCase()
    {
        isolateSettingsStore(m_settingsDir);
        m_peer.start("/usr/bin/python3", {vexoSourceDir() + "/tests/blackbox/pymodbus_peer.py"});
        QVERIFY(m_peer.waitForStarted());
        QVERIFY(m_peer.waitForReadyRead(10000));
        const QByteArray first = m_peer.readLine().trimmed();
        QVERIFY2(first.startsWith("port "), first.constData());
        t_GetArray params = requestParams({{"connType", "tcp"},
                                           {"ipAddres_tcp", "127.0.0.1"},
                                           {"slaveID", "1"},
                                           {"port_tcp", first.mid(5)},
                                           {"timeout", "1000"}});
        QCOMPARE(m_engine.connectModbus(params), QByteArray("{\"ok\":\"Connected with Modbus TCP.\"}"));
    }

    void cleanupTestCase()
    {
        m_peer.closeWriteChannel();
        if (!m_peer.waitForFinished(3000))
            m_peer.kill();
    }

    void agreesWithPymodbusPayloads_data()
    {
        QTest::addColumn<QByteArray>("kind");
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("value");
        QTest::addColumn<QByteArray>("engineReads");
        QTest::newRow("int16") << QByteArray("16bit_int") << QByteArray("big") << QByteArray("int16")
                               << QByteArray("-1234") << QByteArray("[-1234]");
        QTest::newRow("uint16") << QByteArray("16bit_uint") << QByteArray("big") << QByteArray("uint16")
                                << QByteArray("65000") << QByteArray("[65000]");
        QTest::newRow("int32 low word first")
            << QByteArray("32bit_int") << QByteArray("little") << QByteArray("int")
            << QByteArray("-123456789") << QByteArray("[-123456789]");
        QTest::newRow("uint32 low word first")
            << QByteArray("32bit_uint") << QByteArray("little") << QByteArray("uint")
            << QByteArray("4000000000") << QByteArray("[4000000000]");
        QTest::newRow("uint32 high word first")
            << QByteArray("32bit_uint") << QByteArray("big") << QByteArray("long") << QByteArray("4000000000")
            << QByteArray("[4000000000]");
        // The high-word-first type is unsigned: a negative value shows as its 32-bit pattern.
        QTest::newRow("int32 high word first")
            << QByteArray("32bit_int") << QByteArray("big") << QByteArray("long") << QByteArray("-5")
            << QByteArray("[4294967291]");
        QTest::newRow("float32 low word first")
            << QByteArray("32bit_float") << QByteArray("little") << QByteArray("float1234")
            << QByteArray("-3.25") << QByteArray("[-3.25]");
        QTest::newRow("float32 high word first")
            << QByteArray("32bit_float") << QByteArray("big") << QByteArray("float4321")
            << QByteArray("1234.5") << QByteArray("[1234.5]");
    }

    void agreesWithPymodbusPayloads()
    {
        QFETCH(QByteArray, kind);
        QFETCH(QByteArray, order);
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, value);
        QFETCH(QByteArray, engineReads);

        QCOMPARE(askPeer("encode 10 " + kind + " " + order + " " + value), QByteArray("ok"));
        t_GetArray read = withType(readParams(10, 1), type);
        QCOMPARE(m_engine.readRegisters(read, 0), engineReads);

        t_GetArray write = withType(writeParams(50, 1, "[" + value + "]"), type);
        QCOMPARE(m_engine.writeRegisters(write, 0), QByteArray("{\"ok\":\"Values successfully sent.\"}"));
        QCOMPARE(askPeer("decode 50 " + kind + " " + order), value);
    }
};

QTEST_GUILESS_MAIN(TestModbusPymodbus)
#include "tst_modbuspymodbus.moc"
