#include "modbusengine.h"

#include "qmodbus0.h"
#include "registercodec.h"
#include "scriptevaluator.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSettings>
#include <QTcpSocket>
#include <QThread>
#include <QUrl>

#include <cerrno>

using namespace QModBus0;

namespace {
constexpr unsigned lastRetransmission = 2;
constexpr int maxValues = 200;
constexpr int maxRegisterAddress = 65535;
constexpr int settleTimeMs = 100;
constexpr int serialTimeoutStepUs = 10000;
constexpr int ioErrorErrno = 5;
constexpr int identifyTimeoutSeconds = 11;
constexpr int identifyByteTimeoutUs = 300000;
constexpr qint64 identifyElapsedLimitMs = 1200;
constexpr int maxReportLength = 254;
constexpr int reportBufferSize = 256;
constexpr int saveSettingsReopenTries = 5;
constexpr int saveSettingsReopenWaitMs = 300;

int numberOf(const QByteArray &value)
{
    return value.toInt();
}

bool slaveDidNotAnswer(int error)
{
    return error == timedOutErrno || error == ioErrorErrno;
}

QByteArray protocolError(int error)
{
    return QByteArray("{\"error\":\"Protocol error! ") +
           QString::fromLatin1(modbus_strerror(error)).toLatin1() + "\"}";
}

QString separator(int index)
{
    return index > 0 ? QStringLiteral(",") : QString();
}

bool hasAll(const t_GetArray &params, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (!params.contains(name))
            return false;
    }
    return true;
}
} // namespace

const QStringList ModbusEngine::baudRateList = {"1200",   "2400",   "4800",   "9600",  "14400",
                                                "19200",  "28800",  "38400",  "57600", "115200",
                                                "230400", "256000", "1000000"};
const QVector<int> ModbusEngine::baudRateValues = {1200,  2400,  4800,   9600,   14400,  19200,  28800,
                                                   38400, 57600, 115200, 230400, 256000, 1000000};
const QStringList ModbusEngine::modeList = {"RTU 8N2", "RTU 8E1", "RTU 8O1", "RTU 8N1"};

struct ModbusEngine::RegisterRequest
{
    int regAddr = 0;
    RegisterLayout layout;
};

ModbusEngine::ModbusEngine(QObject *parent)
    : QObject(parent)
    , modbusCtx(nullptr)
    , connected(false)
    , connectionType(0)
{
    errorMessages.insert("ERR_NOT_CONNECTED", "{\"error\":\"Not connected\"}");
    errorMessages.insert("ERR_INPUT_PARAMS", "{\"error\":\"Input parameters error!\"}");
    errorMessages.insert("ERR_TOO_MANY_REGS", "{\"error\":\"Too many registers\"}");
    errorMessages.insert("ERR_TIMEOUT", "{\"error\":\"I/O error: did not receive any data from slave.\"}");
    errorMessages.insert("ERR_SOCKET_CONN", "{\"error\":\"Unable to connect with TCP socket.\"}");
    errorMessages.insert("ERR_REG_NUMB_NO_MATCH",
                         "{\"error\":\"Number of registers returned does not match!\"}");
    errorMessages.insert("ERR_INVALID_COM", "{\"error\":\"Invalid port!\"}");
}

ModbusEngine::~ModbusEngine()
{
    releaseContext();
}

QByteArray ModbusEngine::error(const char *key) const
{
    return errorMessages.value(key);
}

void ModbusEngine::releaseContext()
{
    if (!modbusCtx)
        return;
    modbus_close(modbusCtx);
    modbus_free(modbusCtx);
    modbusCtx = nullptr;
}

int ModbusEngine::baudRateFromIndex(int index)
{
    return index >= 0 && index < baudRateValues.size() ? baudRateValues[index] : -1;
}

int ModbusEngine::baudIndexOf(int value)
{
    // Small numbers are indexes already; 13 and 14 name the two fastest rates by position.
    if (value <= 12)
        return value;
    if (value == 13 || value == 14)
        return value - 2;
    return baudRateValues.indexOf(value);
}

ModbusEngine::LineSettings ModbusEngine::lineSettingsOf(int modeIndex)
{
    switch (modeIndex) {
    case 0:
        return {'N', 2};
    case 1:
        return {'E', 1};
    case 2:
        return {'O', 1};
    default:
        return {'N', 1};
    }
}

QByteArray ModbusEngine::escapeJsonChar(char c)
{
    switch (c) {
    case '\\':
        return "\\\\";
    case '"':
        return "\\\"";
    case '/':
        return "\\/";
    case '\b':
        return "\\b";
    case '\f':
        return "\\f";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        return QByteArray(1, c);
    }
}

int ModbusEngine::findPort(const QString &requested, QString *enumeratedName)
{
    const QList<PortInfo> ports = getPorts();
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].portName == requested || ports[i].portName.contains(requested)) {
            *enumeratedName = ports[i].portName;
            return i;
        }
    }
    return -1;
}

QByteArray ModbusEngine::getPortSettings()
{
    QString reply = QStringLiteral("{\"ports\":{");
    const QList<PortInfo> ports = getPorts();
    for (int i = 0; i < ports.size(); ++i) {
        QString name = ports[i].portName;
        if (name.contains(QLatin1String("\\.")))
            name = name.right(5);
        reply += QStringLiteral("%1\"%2\":{\"portName\":\"%3\",\"friendName\":\"%4\"}")
                     .arg(separator(i))
                     .arg(i)
                     .arg(name, ports[i].friendName);
    }
    reply += QStringLiteral("},\"baudRate\":{");
    for (int i = 0; i < baudRateList.size(); ++i)
        reply += QStringLiteral("%1\"%2\":\"%3\"").arg(separator(i)).arg(i).arg(baudRateList[i]);
    reply += QStringLiteral("},\"mode\":{");
    for (int i = 0; i < modeList.size(); ++i)
        reply += QStringLiteral("%1\"%2\":\"%3\"").arg(separator(i)).arg(i).arg(modeList[i]);

    QSettings settings;
    reply += QStringLiteral("},\"userSettings\":{\"port\":\"%1\",\"slaveID\":%2,\"baudRate\":%3,\"mode\":%4,"
                            "\"timeout\":%5,\"tcpIp\":\"%6\",\"tcpPort\":%7,\"connectionType\":\"%8\","
                            "\"isConnected\":%9}}")
                 .arg(settings.value("portName", 0).toString(), settings.value("slaveID", 1).toString(),
                      settings.value("baudRate", 0).toString(), settings.value("mode", 3).toString(),
                      settings.value("timeout", 200000).toString(),
                      settings.value("tcpIp", "192.168.1.100").toString(),
                      settings.value("tcpPort", 502).toString(),
                      connectionType == 0 ? QStringLiteral("serial") : QStringLiteral("tcp"),
                      connected ? QStringLiteral("true") : QStringLiteral("false"));
    return reply.toLatin1();
}

QByteArray ModbusEngine::connectModbus(t_GetArray &params)
{
    if (!params.contains("connType"))
        return error("ERR_INPUT_PARAMS");
    return params.value("connType") == "serial" ? connectSerial(params) : connectWitchTCP(params);
}

void ModbusEngine::applySerialTimeout(int timeout)
{
    // The time-out number counts 10 ms steps; the layer carries whole seconds.
    struct timeval begin = {};
    modbus_get_timeout_begin(modbusCtx, &begin);
    begin.tv_usec = static_cast<decltype(begin.tv_usec)>(static_cast<qint64>(timeout) * serialTimeoutStepUs);
    modbus_set_timeout_begin(modbusCtx, &begin);
}

bool ModbusEngine::openSerialContext(const QString &portName, int baudIndex, int modeIndex, int timeout)
{
    const LineSettings line = lineSettingsOf(modeIndex);
    releaseContext();
    modbusCtx = modbus_new_rtu(portName.toLatin1().constData(), baudRateFromIndex(baudIndex), line.parity, 8,
                               line.stopBits);
    if (!modbusCtx || modbus_connect(modbusCtx) == -1)
        return false;
    applySerialTimeout(timeout);
    return true;
}

QByteArray ModbusEngine::connectSerial(t_GetArray &params)
{
    if (params.size() < 6 || !hasAll(params, {"portSelect", "slaveID", "baudRate", "mode", "timeout"}))
        return error("ERR_INPUT_PARAMS");
    const QString requested = QString::fromUtf8(params.value("portSelect"));
    const int slaveId = numberOf(params.value("slaveID"));
    const int baudIndex = numberOf(params.value("baudRate"));
    const int modeIndex = numberOf(params.value("mode"));
    const int timeout = numberOf(params.value("timeout"));

    QSettings settings;
    settings.setValue("Selected_Port", requested.mid(3));
    QString portName;
    if (findPort(requested, &portName) < 0)
        return "{\"error\":\"Selected serial port not found.\"}";
    if (portName.startsWith(QLatin1String("LPT")))
        return error("ERR_INVALID_COM");
    if (static_cast<unsigned>(baudIndex) > 12)
        return "{\"error\":\"Baud rate error!\"}";

    if (!openSerialContext(portName, baudIndex, modeIndex, timeout)) {
        releaseContext();
        connected = false;
        return "{\"error\":\"Could not connect to serial port!\"}";
    }
    settings.setValue("portName", requested);
    settings.setValue("slaveID", static_cast<qint16>(slaveId));
    settings.setValue("baudRate", baudIndex);
    settings.setValue("mode", static_cast<qint16>(modeIndex));
    settings.setValue("timeout", timeout);
    connected = true;
    connectionType = 0;
    return "{\"ok\":\"Connected with serial port.\"}";
}

QByteArray ModbusEngine::connectWitchTCP(t_GetArray &params)
{
    if (!hasAll(params, {"ipAddres_tcp", "slaveID", "port_tcp", "timeout"}))
        return error("ERR_INPUT_PARAMS");
    const QString address = QString::fromUtf8(params.value("ipAddres_tcp"));
    const int slaveId = numberOf(params.value("slaveID"));
    const int port = numberOf(params.value("port_tcp"));
    const int timeout = numberOf(params.value("timeout"));

    releaseContext();
    modbusCtx = modbus_new_tcp(address.toLatin1().constData(), port);
    QSettings settings;
    settings.setValue("tcpIp", address);
    settings.setValue("slaveID", static_cast<qint16>(slaveId));
    settings.setValue("tcpPort", port);
    settings.setValue("timeout", timeout);
    settings.sync();

    if (!modbusCtx || !reconnectPort_tcp()) {
        qWarning() << "Błąd: Nie udało się nawiązać połączenia z hostem TCP!";
        releaseContext();
        connected = false;
        return "{\"error\":\"Could not connect to Modbus TCP!\"}";
    }
    // The link is opened anew for every transaction.
    modbus_close(modbusCtx);
    connected = true;
    connectionType = 1;
    return "{\"ok\":\"Connected with Modbus TCP.\"}";
}

QByteArray ModbusEngine::disconnectModbus()
{
    releaseContext();
    connected = false;
    return "{\"ok\":\"Disconnected\"}";
}

bool ModbusEngine::reconnectPort_serial()
{
    QSettings settings;
    const QString requested = settings.value("portName").toString();
    const int baudIndex = settings.value("baudRate").toInt();
    const int modeIndex = settings.value("mode").toInt();
    const int timeout = settings.value("timeout").toInt();
    qDebug().nospace() << "4timeout: " << timeout;

    QString portName;
    if (findPort(requested, &portName) < 0)
        return false;
    // A rate index edited outside the program never reaches the library.
    if (baudRateFromIndex(baudIndex) < 0)
        return false;
    if (!openSerialContext(portName, baudIndex, modeIndex, timeout)) {
        qWarning() << "Błąd: Nie udało się połączyć z Modbus!modbus_new_rtu";
        return false;
    }
    connected = true;
    return true;
}

bool ModbusEngine::reconnectSerial()
{
    disconnectModbus();
    return reconnectPort_serial();
}

bool ModbusEngine::reconnectPort_tcp()
{
    QSettings settings;
    const quint16 port = static_cast<quint16>(settings.value("tcpPort").toUInt());
    const QString address = settings.value("tcpIp").toString();
    const int timeout = settings.value("timeout").toInt();

    // A plain socket finds an unreachable host within the time-out; the library's own
    // connect would wait for the system's much longer one.
    QTcpSocket probe;
    probe.connectToHost(address, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    const bool reachable = probe.waitForConnected(timeout);
    if (reachable) {
        probe.close();
        modbus_connect(modbusCtx);
    }
    return reachable;
}

void ModbusEngine::saveSerialSettings(int slaveId, int baudIndex, int modeIndex)
{
    QSettings settings;
    const bool baudValid = baudIndex >= 0 && baudIndex <= 12;
    const bool modeValid = modeIndex >= 0 && modeIndex <= 3;
    if (slaveId >= 1 && slaveId <= 247)
        settings.setValue("slaveID", slaveId);
    if (baudValid)
        settings.setValue("baudRate", baudIndex);
    if (modeValid)
        settings.setValue("mode", modeIndex);
    settings.sync();
    if (isTcp() || !(baudValid || modeValid))
        return;
    disconnectModbus();
    for (int i = 0; i < saveSettingsReopenTries; ++i) {
        QThread::msleep(saveSettingsReopenWaitMs);
        if (reconnectPort_serial())
            return;
    }
}

QByteArray ModbusEngine::checkRegisterRequest(t_GetArray &params, bool writing,
                                              RegisterRequest *request) const
{
    if (!params.contains("regAddr") || !params.contains("valuesCnt") ||
        (writing && !params.contains("regVals")))
        return error("ERR_INPUT_PARAMS");
    RegisterLayout &layout = request->layout;
    if (params.contains("regSize")) {
        layout.regSize = numberOf(params.value("regSize"));
        if (layout.regSize != 16 && layout.regSize != 32)
            return "{\"error\":\"Invalid registers size!\"}";
    }
    if (params.contains("valSize")) {
        layout.valSize = numberOf(params.value("valSize"));
        if (layout.valSize != 16 && layout.valSize != 32)
            return "{\"error\":\"Invalid value size!\"}";
    }
    if (!writing && params.contains("floatPrec")) {
        layout.floatPrec = numberOf(params.value("floatPrec"));
        if (static_cast<unsigned>(layout.floatPrec) > 20)
            return "{\"error\":\"Invalid float precision!\"}";
    }
    if (layout.regSize == 32 && layout.valSize == 16)
        return "{\"error\":\"Invalid one value size!\"}";
    layout.valuesCnt = numberOf(params.value("valuesCnt"));
    if (layout.valuesCnt > maxValues)
        return error("ERR_TOO_MANY_REGS");
    request->regAddr = numberOf(params.value("regAddr"));
    // Nothing to transfer, or an address the protocol cannot carry: refuse before the bus.
    if (layout.valuesCnt < 1 || request->regAddr < 0 || request->regAddr > maxRegisterAddress)
        return error("ERR_INPUT_PARAMS");
    if (params.contains("regType"))
        layout.regType = params.value("regType");
    return QByteArray();
}

QByteArray ModbusEngine::failureReply(int result, int error, unsigned attempt, const char *logPrefix,
                                      bool *retry)
{
    *retry = false;
    if (result >= 0) {
        if (attempt > lastRetransmission)
            return this->error("ERR_REG_NUMB_NO_MATCH");
        if (!isTcp() && (!connected || !reconnectSerial()))
            return this->error("ERR_REG_NUMB_NO_MATCH");
        qDebug().nospace() << logPrefix << "Reg numb retransmission attempt number : " << attempt + 1;
        *retry = true;
        return QByteArray();
    }
    if (slaveDidNotAnswer(error))
        return this->error("ERR_TIMEOUT");
    if (attempt <= lastRetransmission && (isTcp() || (connected && reconnectSerial()))) {
        qDebug().nospace() << logPrefix << "CRC retransmission attempt number : " << attempt + 1;
        *retry = true;
        return QByteArray();
    }
    return protocolError(error);
}

QByteArray ModbusEngine::readRegisters(t_GetArray &params, unsigned attempt)
{
    QThread::msleep(settleTimeMs);
    if (!modbusCtx)
        return error("ERR_NOT_CONNECTED");
    const int slaveId = QSettings().value("slaveID", 0).toInt();
    RegisterRequest request;
    const QByteArray refused = checkRegisterRequest(params, false, &request);
    if (!refused.isEmpty())
        return refused;
    if (isTcp() && !reconnectPort_tcp())
        return error("ERR_SOCKET_CONN");
    modbus_set_slave(modbusCtx, slaveId);

    const RegisterLayout &layout = request.layout;
    const int count = layout.registerCount();
    QVector<quint16> words;
    QVector<quint32> registers;
    int result;
    if (layout.regSize == 16) {
        words.resize(count);
        result = modbus_read_registers(modbusCtx, request.regAddr, count, words.data());
    } else {
        registers.resize(count);
        result = modbus_read_registers_32(modbusCtx, request.regAddr, count, registers.data());
    }
    const int failure = errno;
    if (isTcp())
        modbus_close(modbusCtx);
    if (result == count) {
        const QByteArray values = RegisterCodec::decode(layout, words, registers);
        if (params.value("raw") != "1")
            return values;
        // The registers of this same transaction beside the values, so that a page showing
        // both needs no second read that could catch the device at another moment.
        QByteArrayList raw;
        for (const quint16 word : words)
            raw << QByteArray::number(word);
        for (const quint32 registerValue : registers)
            raw << QByteArray::number(registerValue);
        return "{\"values\":" + values + ",\"raw\":[" + raw.join(',') + "]}";
    }

    bool retry = false;
    const QByteArray reply = failureReply(result, failure, attempt, "", &retry);
    return retry ? readRegisters(params, attempt + 1) : reply;
}

QByteArray ModbusEngine::writeRegisters(t_GetArray &params, unsigned attempt)
{
    if (!modbusCtx)
        return error("ERR_NOT_CONNECTED");
    const int slaveId = QSettings().value("slaveID", 0).toInt();
    // Read for the page's sake; a write of new communication settings is the device's own
    // business and changes nothing here.
    const int newSlaveId = numberOf(params.value("newSlaveID"));
    const int newBaudIndex = baudIndexOf(numberOf(params.value("newBaud")));
    const int newMode = numberOf(params.value("newMode"));
    Q_UNUSED(newSlaveId)
    Q_UNUSED(newBaudIndex)
    Q_UNUSED(newMode)
    QThread::msleep(settleTimeMs);

    RegisterRequest request;
    const QByteArray refused = checkRegisterRequest(params, true, &request);
    if (!refused.isEmpty())
        return refused;
    modbus_set_slave(modbusCtx, slaveId);

    const RegisterLayout &layout = request.layout;
    const QString text = QUrl::fromPercentEncoding(params.value("regVals"));
    const ScriptEvaluator::Result values = ScriptEvaluator::evaluateArray(text, layout.valuesCnt);
    if (!values.valid || !values.isArray || values.length != layout.valuesCnt)
        return "{\"error\":\"Registers values error!\"}";
    QVector<quint16> words;
    QVector<quint32> registers;
    RegisterCodec::encode(layout, values.elements, &words, &registers);

    if (isTcp() && !reconnectPort_tcp())
        return error("ERR_SOCKET_CONN");
    const int count = layout.registerCount();
    const int result =
        layout.regSize == 16
            ? modbus_write_registers(modbusCtx, request.regAddr, count, words.constData())
            : modbus_write_registers_32(modbusCtx, request.regAddr, count, registers.constData());
    const int failure = errno;
    if (isTcp())
        modbus_close(modbusCtx);
    if (result == count)
        return "{\"ok\":\"Values successfully sent.\"}";

    bool retry = false;
    const QByteArray reply = failureReply(result, failure, attempt, "write ", &retry);
    return retry ? writeRegisters(params, attempt + 1) : reply;
}

int ModbusEngine::reportSlaveIdExchange(int slaveId, QByteArray *report, int *error)
{
    const struct timeval responseTimeout = {identifyTimeoutSeconds, 0};
    const struct timeval byteTimeout = {0, identifyByteTimeoutUs};
    modbus_set_timeout_begin(modbusCtx, &responseTimeout);
    modbus_set_timeout_end(modbusCtx, &byteTimeout);
    modbus_set_slave(modbusCtx, slaveId);
    uint8_t buffer[reportBufferSize] = {};
    const int count = modbus_report_slave_id(modbusCtx, reportBufferSize, buffer);
    *error = errno;
    *report = QByteArray(reinterpret_cast<const char *>(buffer), qBound(0, count, reportBufferSize));
    return count;
}

QByteArray ModbusEngine::identifySlave(unsigned attempt)
{
    Q_UNUSED(attempt)
    if (!modbusCtx)
        return error("ERR_NOT_CONNECTED");
    const int slaveId = QSettings().value("slaveID", 0).toInt();
    QElapsedTimer elapsed;
    bool firstExchange = true;
    for (;;) {
        if (isTcp() && !reconnectPort_tcp())
            return error("ERR_SOCKET_CONN");
        if (firstExchange)
            elapsed.start();
        QByteArray report;
        int failure = 0;
        const int count = reportSlaveIdExchange(slaveId, &report, &failure);
        qDebug() << "identifySlave report_slave_id ret:" << count << "errno:" << failure
                 << "error:" << QString::fromLatin1(modbus_strerror(failure))
                 << "connectionType:" << connectionType << "slaveID:" << slaveId;
        if (isTcp())
            modbus_close(modbusCtx);
        if (count >= 1 && count <= maxReportLength)
            return identificationReply(report);
        if (elapsed.elapsed() > identifyElapsedLimitMs || slaveDidNotAnswer(failure))
            return error("ERR_TIMEOUT");
        if (!(firstExchange && (isTcp() || (connected && reconnectSerial()))))
            return protocolError(failure);
        firstExchange = false;
    }
}

QByteArray ModbusEngine::identificationReply(const QByteArray &report)
{
    const auto byteAt = [&report](int i) { return static_cast<unsigned char>(report[i]); };
    qDebug() << "identifySlave device type id:" << byteAt(0)
             << "run indicator:" << (report.size() > 1 ? int(byteAt(1)) : -1)
             << "response length:" << report.size();
    QSettings().setValue("Torva_ID", QString::number(byteAt(0)));

    QByteArray description;
    for (int i = 2; i < report.size(); ++i) {
        if (byteAt(i) >= 32 && byteAt(i) <= 125)
            description += escapeJsonChar(report[i]);
    }
    // A one-byte report has no run indicator: the list holds only what the slave sent.
    QByteArray numbers = "[";
    for (int i = 0; i < report.size(); ++i)
        numbers += QByteArray::number(byteAt(i)) + (i + 1 < report.size() ? "," : "");
    numbers += "]";
    return "{\"id\":" + QByteArray::number(byteAt(0)) + ",\"desc\":\"" + description +
           "\",\"descArray\":" + numbers + "}";
}
