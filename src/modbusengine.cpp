#include "modbusengine.h"

#include "jsonwriter.h"
#include "qmodbus0.h"
#include "registercodec.h"
#include "scriptevaluator.h"
#include "serialline.h"
#include "trafficrecorder.h"
#include "usersettings.h"
#include "valuecodec.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>
#include <QUrl>

#include <cerrno>

using namespace QModBus0;

namespace {
constexpr unsigned lastRetransmission = 2;
constexpr int maxValues = 200;
constexpr int maxRegisterAddress = 65535;
constexpr int settleTimeMs = 100;
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

QString protocolErrorText(int error)
{
    return QStringLiteral("Protocol error! ") + QString::fromLocal8Bit(modbus_strerror(error));
}

QByteArray protocolError(int error)
{
    return JsonWriter::errorReply(protocolErrorText(error));
}

// An object whose members are the list's indexes, each holding the list's text.
void writeIndexedList(JsonWriter &json, const QString &name, const QStringList &list)
{
    json.name(name).beginObject();
    for (int i = 0; i < list.size(); ++i)
        json.name(QString::number(i)).string(list[i]);
    json.endObject();
}

// A stored number as its text; a store edited elsewhere cannot put other text into a reply.
QByteArray storedNumber(const QSettings &settings, const UserSetting &setting)
{
    bool isNumber = false;
    const qint64 value = setting.listedValue(settings).toString().toLongLong(&isNumber);
    return QByteArray::number(isNumber ? value : setting.listedDefault.toLongLong());
}

// The slave address of every transaction: 0 while none is stored, unlike what the listing shows.
int storedSlaveId()
{
    return UserSettings::slaveId.value(QSettings(), 0).toInt();
}

// The serial ports as the listing shows them: a device-path name is cut to its last five
// characters.
void writePorts(JsonWriter &json)
{
    json.name(QStringLiteral("ports")).beginObject();
    const QList<PortInfo> ports = getPorts();
    for (int i = 0; i < ports.size(); ++i) {
        QString name = ports[i].portName;
        if (name.contains(QLatin1String("\\.")))
            name = name.right(5);
        json.name(QString::number(i)).beginObject();
        json.name(QStringLiteral("portName")).string(name);
        json.name(QStringLiteral("friendName")).string(ports[i].friendName);
        json.endObject();
    }
    json.endObject();
}

// The values, and with raw=1 the registers of this same transaction beside them, so that a
// page showing both needs no second read that could catch the device at another moment.
QByteArray valuesReply(const RegisterLayout &layout, const QVector<quint16> &words,
                       const QVector<quint32> &registers, bool withRegisters)
{
    const QByteArray values = RegisterCodec::decode(layout, words, registers);
    if (!withRegisters)
        return values;
    QByteArrayList raw;
    for (const quint16 word : words)
        raw << QByteArray::number(word);
    for (const quint32 registerValue : registers)
        raw << QByteArray::number(registerValue);
    return "{\"values\":" + values + ",\"raw\":[" + raw.join(',') + "]}";
}

// regVals as registers; false when it is not an array of valuesCnt values.
bool encodeValues(const t_GetArray &params, const RegisterLayout &layout, QVector<quint16> *words,
                  QVector<quint32> *registers)
{
    const QString text = QUrl::fromPercentEncoding(params.value("regVals"));
    const ScriptEvaluator::Result values = ScriptEvaluator::evaluateArray(text, layout.valuesCnt);
    if (!values.valid || !values.isArray || values.length != layout.valuesCnt)
        return false;
    RegisterCodec::encode(layout, values.elements, words, registers);
    return true;
}

// The library call that reads or writes count registers from address: 16-bit ones as words,
// 32-bit ones whole.
int registerCall(modbus_t *ctx, int address, int count, bool words16, bool writing, QVector<quint16> *words,
                 QVector<quint32> *registers)
{
    if (writing)
        return words16 ? modbus_write_registers(ctx, address, count, words->constData())
                       : modbus_write_registers_32(ctx, address, count, registers->constData());
    return words16 ? modbus_read_registers(ctx, address, count, words->data())
                   : modbus_read_registers_32(ctx, address, count, registers->data());
}

bool hasAll(const t_GetArray &params, std::initializer_list<const char *> names)
{
    for (const char *name : names) {
        if (!params.contains(name))
            return false;
    }
    return true;
}

// The layer call of a checked table request: a write with its function code, or a read into
// regs (bits as 0 and 1).
int tableCall(modbus_t *ctx, const TableRequest &request, bool writing, QVector<quint16> *regs)
{
    if (writing) {
        switch (request.fc) {
        case TableRequest::writeSingleCoil:
            return modbus_write_bit(ctx, request.addr, request.bits.at(0));
        case TableRequest::writeSingleRegister:
            return modbus_write_register(ctx, request.addr, request.registers.at(0));
        case TableRequest::writeMultipleCoils:
            return modbus_write_bits(ctx, request.addr, request.items, request.bits.constData());
        default:
            return modbus_write_registers(ctx, request.addr, request.items, request.registers.constData());
        }
    }
    regs->fill(0, request.items);
    if (!request.isBitTable()) {
        const auto read =
            request.table == TableRequest::Table::Input ? modbus_read_input_registers : modbus_read_registers;
        return read(ctx, request.addr, request.items, regs->data());
    }
    QVector<quint8> bits(request.items);
    const auto read = request.table == TableRequest::Table::Coils ? modbus_read_bits : modbus_read_input_bits;
    const int result = read(ctx, request.addr, request.items, bits.data());
    const int failure = errno;
    std::copy(bits.cbegin(), bits.cend(), regs->begin());
    errno = failure;
    return result;
}

// The record of the last transaction from seq first on, if one went out.
void takeRecord(quint64 first, TableOutcome *outcome)
{
    const TrafficPage page = trafficRecorder().since(first);
    if (page.items.isEmpty())
        return;
    const TrafficRecord &record = page.items.constLast();
    outcome->seq = record.seq;
    outcome->time = record.time;
    outcome->ms = record.ms;
}

QByteArray readReply(const TableRequest &request, const TableOutcome &outcome)
{
    JsonWriter json;
    json.beginObject().name(QStringLiteral("fc")).number(outcome.fc);
    json.name(QStringLiteral("addr")).number(request.addr);
    json.name(QStringLiteral("count")).number(request.count);
    json.name(QStringLiteral("regs")).beginArray();
    for (const quint16 item : outcome.regs)
        json.number(item);
    json.endArray().name(QStringLiteral("values")).literal(outcome.values);
    json.name(QStringLiteral("ms")).milliseconds(outcome.ms).endObject();
    return json.json();
}

QByteArray writtenReply(const TableOutcome &outcome)
{
    JsonWriter json;
    json.beginObject().name(QStringLiteral("ok")).string(QStringLiteral("Values successfully sent."));
    json.name(QStringLiteral("fc")).number(outcome.fc);
    json.name(QStringLiteral("ms")).milliseconds(outcome.ms).endObject();
    return json.json();
}
} // namespace

const QStringList ModbusEngine::baudRateList = SerialLine::baudRateTexts();
const QStringList ModbusEngine::modeList = SerialLine::modeTexts();

struct ModbusEngine::RegisterRequest
{
    int regAddr = 0;
    RegisterLayout layout;
};

ModbusEngine::ModbusEngine(QObject *parent)
    : QObject(parent)
    , m_rtu(m_link)
    , m_tcp(m_link)
    , m_transport(&m_rtu)
{
    errorMessages.insert("ERR_NOT_CONNECTED", QStringLiteral("Not connected"));
    errorMessages.insert("ERR_INPUT_PARAMS", QStringLiteral("Input parameters error!"));
    errorMessages.insert("ERR_TOO_MANY_REGS", QStringLiteral("Too many registers"));
    errorMessages.insert("ERR_TIMEOUT", QStringLiteral("I/O error: did not receive any data from slave."));
    errorMessages.insert("ERR_SOCKET_CONN", QStringLiteral("Unable to connect with TCP socket."));
    errorMessages.insert("ERR_REG_NUMB_NO_MATCH",
                         QStringLiteral("Number of registers returned does not match!"));
    errorMessages.insert("ERR_INVALID_COM", QStringLiteral("Invalid port!"));
}

ModbusEngine::~ModbusEngine()
{
    m_link.release();
}

QByteArray ModbusEngine::error(const char *key) const
{
    return JsonWriter::errorReply(errorText(key));
}

QString ModbusEngine::errorText(const char *key) const
{
    return errorMessages.value(key);
}

int ModbusEngine::baudRateFromIndex(int index)
{
    return SerialLine::baudRate(index);
}

int ModbusEngine::baudIndexOf(int value)
{
    // Small numbers are indexes already; the two after the last index name the two fastest
    // rates by position.
    if (value <= SerialLine::Baud1000000)
        return value;
    if (value == SerialLine::baudCount)
        return SerialLine::Baud256000;
    if (value == SerialLine::baudCount + 1)
        return SerialLine::Baud1000000;
    return SerialLine::baudIndexOfRate(value);
}

QByteArray ModbusEngine::getPortSettings()
{
    JsonWriter json;
    json.beginObject();
    writePorts(json);
    writeIndexedList(json, QStringLiteral("baudRate"), baudRateList);
    writeIndexedList(json, QStringLiteral("mode"), modeList);
    writeUserSettings(json);
    json.endObject();
    return json.json();
}

void ModbusEngine::writeUserSettings(JsonWriter &json) const
{
    const QSettings settings;
    json.name(QStringLiteral("userSettings")).beginObject();
    json.name(QStringLiteral("port")).string(UserSettings::portName.listedValue(settings).toString());
    json.name(QStringLiteral("slaveID")).literal(storedNumber(settings, UserSettings::slaveId));
    json.name(QStringLiteral("baudRate")).literal(storedNumber(settings, UserSettings::baudRate));
    json.name(QStringLiteral("mode")).literal(storedNumber(settings, UserSettings::mode));
    json.name(QStringLiteral("timeout")).literal(storedNumber(settings, UserSettings::timeout));
    json.name(QStringLiteral("tcpIp")).string(UserSettings::tcpIp.listedValue(settings).toString());
    json.name(QStringLiteral("tcpPort")).literal(storedNumber(settings, UserSettings::tcpPort));
    json.name(QStringLiteral("connectionType"))
        .string(m_transport->type() == ConnectionType::Serial ? QStringLiteral("serial")
                                                              : QStringLiteral("tcp"));
    json.name(QStringLiteral("isConnected")).literal(m_link.connected ? "true" : "false");
    json.endObject();
}

QByteArray ModbusEngine::connectModbus(t_GetArray &params)
{
    if (!params.contains("connType"))
        return error("ERR_INPUT_PARAMS");
    return params.value("connType") == "serial" ? connectSerial(params) : connectWitchTCP(params);
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
    UserSettings::selectedPort.setValue(settings, requested.mid(3));
    QString portName;
    if (!RtuTransport::findPort(requested, &portName))
        return "{\"error\":\"Selected serial port not found.\"}";
    if (portName.startsWith(QLatin1String("LPT")))
        return error("ERR_INVALID_COM");
    if (static_cast<unsigned>(baudIndex) >= SerialLine::baudCount)
        return "{\"error\":\"Baud rate error!\"}";

    if (!m_rtu.open(portName, baudIndex, modeIndex, timeout)) {
        m_link.release();
        m_link.connected = false;
        return "{\"error\":\"Could not connect to serial port!\"}";
    }
    UserSettings::portName.setValue(settings, requested);
    UserSettings::slaveId.setValue(settings, static_cast<qint16>(slaveId));
    UserSettings::baudRate.setValue(settings, baudIndex);
    UserSettings::mode.setValue(settings, static_cast<qint16>(modeIndex));
    UserSettings::timeout.setValue(settings, timeout);
    m_link.connected = true;
    m_transport = &m_rtu;
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

    const bool created = m_tcp.open(address, port, timeout);
    QSettings settings;
    UserSettings::tcpIp.setValue(settings, address);
    UserSettings::slaveId.setValue(settings, static_cast<qint16>(slaveId));
    UserSettings::tcpPort.setValue(settings, port);
    UserSettings::timeout.setValue(settings, timeout);
    settings.sync();

    if (!created || !m_tcp.reconnect()) {
        qWarning() << "Błąd: Nie udało się nawiązać połączenia z hostem TCP!";
        m_link.release();
        m_link.connected = false;
        return "{\"error\":\"Could not connect to Modbus TCP!\"}";
    }
    // The link is opened anew for every transaction.
    m_tcp.endTransaction();
    m_link.connected = true;
    m_transport = &m_tcp;
    return "{\"ok\":\"Connected with Modbus TCP.\"}";
}

QByteArray ModbusEngine::disconnectModbus()
{
    m_link.release();
    m_link.connected = false;
    return "{\"ok\":\"Disconnected\"}";
}

bool ModbusEngine::reconnectPort_serial()
{
    return m_rtu.reopen();
}

bool ModbusEngine::reconnectSerial()
{
    return m_rtu.reconnect();
}

bool ModbusEngine::reconnectPort_tcp()
{
    return m_tcp.reconnect();
}

void ModbusEngine::saveSerialSettings(int slaveId, int baudIndex, int modeIndex)
{
    QSettings settings;
    const bool baudValid = baudIndex >= 0 && baudIndex < SerialLine::baudCount;
    const bool modeValid = modeIndex >= 0 && modeIndex < SerialLine::modeCount;
    if (slaveId >= 1 && slaveId <= 247)
        UserSettings::slaveId.setValue(settings, slaveId);
    if (baudValid)
        UserSettings::baudRate.setValue(settings, baudIndex);
    if (modeValid)
        UserSettings::mode.setValue(settings, modeIndex);
    settings.sync();
    if (m_transport->type() != ConnectionType::Serial || !(baudValid || modeValid))
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
    const QString text = failureText(result, error, attempt, logPrefix, retry);
    return *retry ? QByteArray() : JsonWriter::errorReply(text);
}

QString ModbusEngine::failureText(int result, int error, unsigned attempt, const char *logPrefix, bool *retry)
{
    *retry = false;
    if (result >= 0) {
        if (attempt > lastRetransmission || !m_transport->prepareRetransmission())
            return errorText("ERR_REG_NUMB_NO_MATCH");
        qDebug().nospace() << logPrefix << "Reg numb retransmission attempt number : " << attempt + 1;
        *retry = true;
        return QString();
    }
    if (slaveDidNotAnswer(error))
        return errorText("ERR_TIMEOUT");
    if (attempt <= lastRetransmission && m_transport->prepareRetransmission()) {
        qDebug().nospace() << logPrefix << "CRC retransmission attempt number : " << attempt + 1;
        *retry = true;
        return QString();
    }
    return protocolErrorText(error);
}

QByteArray ModbusEngine::acceptRequest(t_GetArray &params, bool writing, int slaveId,
                                       RegisterRequest *request)
{
    const QByteArray refused = checkRegisterRequest(params, writing, request);
    if (!refused.isEmpty())
        return refused;
    if (modbus_set_slave(m_link.modbusCtx, slaveId) == -1)
        return error("ERR_INPUT_PARAMS");
    return QByteArray();
}

QByteArray ModbusEngine::transferRegisters(const RegisterRequest &request, bool writing,
                                           QVector<quint16> *words, QVector<quint32> *registers,
                                           unsigned attempt, bool *retry)
{
    *retry = false;
    if (!m_transport->beginTransaction(ModbusTransport::Reach::Probed))
        return error("ERR_SOCKET_CONN");
    const int count = request.layout.registerCount();
    const int result = registerCall(m_link.modbusCtx, request.regAddr, count, request.layout.regSize == 16,
                                    writing, words, registers);
    const int failure = errno;
    m_transport->endTransaction();
    if (result == count)
        return QByteArray();
    return failureReply(result, failure, attempt, writing ? "write " : "", retry);
}

QByteArray ModbusEngine::readRegisters(t_GetArray &params, unsigned attempt)
{
    QThread::msleep(settleTimeMs);
    if (!m_link.modbusCtx)
        return error("ERR_NOT_CONNECTED");
    RegisterRequest request;
    const QByteArray refused = acceptRequest(params, false, storedSlaveId(), &request);
    if (!refused.isEmpty())
        return refused;

    const RegisterLayout &layout = request.layout;
    QVector<quint16> words(layout.regSize == 16 ? layout.registerCount() : 0);
    QVector<quint32> registers(layout.regSize == 16 ? 0 : layout.registerCount());
    bool retry = false;
    const QByteArray failed = transferRegisters(request, false, &words, &registers, attempt, &retry);
    if (retry)
        return readRegisters(params, attempt + 1);
    return failed.isEmpty() ? valuesReply(layout, words, registers, params.value("raw") == "1") : failed;
}

QByteArray ModbusEngine::writeRegisters(t_GetArray &params, unsigned attempt)
{
    if (!m_link.modbusCtx)
        return error("ERR_NOT_CONNECTED");
    const int slaveId = storedSlaveId();
    readNewCommunicationSettings(params);
    QThread::msleep(settleTimeMs);
    RegisterRequest request;
    const QByteArray refused = acceptRequest(params, true, slaveId, &request);
    if (!refused.isEmpty())
        return refused;

    QVector<quint16> words;
    QVector<quint32> registers;
    if (!encodeValues(params, request.layout, &words, &registers))
        return "{\"error\":\"Registers values error!\"}";
    bool retry = false;
    const QByteArray failed = transferRegisters(request, true, &words, &registers, attempt, &retry);
    if (retry)
        return writeRegisters(params, attempt + 1);
    return failed.isEmpty() ? QByteArray("{\"ok\":\"Values successfully sent.\"}") : failed;
}

QByteArray ModbusEngine::readTable(const t_GetArray &params)
{
    return tableReply(params, false);
}

QByteArray ModbusEngine::writeTable(const t_GetArray &params)
{
    return tableReply(params, true);
}

QByteArray ModbusEngine::tableReply(const t_GetArray &params, bool writing)
{
    if (!m_link.modbusCtx)
        return error("ERR_NOT_CONNECTED");
    TableRequest request;
    const QString refused =
        writing ? TableRequest::parseWrite(params, &request) : TableRequest::parseRead(params, &request);
    if (!refused.isEmpty())
        return JsonWriter::errorReply(refused);
    const TableOutcome outcome = transferTable(request, writing);
    if (!outcome.ok())
        return JsonWriter::errorReply(outcome.error);
    return writing ? writtenReply(outcome) : readReply(request, outcome);
}

TableOutcome ModbusEngine::transferTable(const TableRequest &request, bool writing)
{
    TableOutcome outcome;
    outcome.fc = writing ? request.fc : request.readFunction();
    const int slaveId = request.slave == TableRequest::storedSlave ? storedSlaveId() : request.slave;
    bool retry = true;
    for (unsigned attempt = 0; retry; ++attempt)
        outcome.error = tableTransaction(request, writing, slaveId, attempt, &outcome, &retry);
    if (outcome.ok() && !writing)
        outcome.values =
            request.isBitTable()
                ? ValueCodec::decodeBits(QVector<quint8>(outcome.regs.cbegin(), outcome.regs.cend()))
                : ValueCodec::decode(outcome.regs, request.type, request.order);
    return outcome;
}

QString ModbusEngine::tableTransaction(const TableRequest &request, bool writing, int slaveId,
                                       unsigned attempt, TableOutcome *outcome, bool *retry)
{
    *retry = false;
    // A serial line reopened for a retransmission may have lost its context.
    if (!m_link.modbusCtx)
        return errorText("ERR_NOT_CONNECTED");
    if (modbus_set_slave(m_link.modbusCtx, slaveId) == -1)
        return errorText("ERR_INPUT_PARAMS");
    if (!m_transport->beginTransaction(ModbusTransport::Reach::Direct))
        return errorText("ERR_SOCKET_CONN");
    const quint64 first = trafficRecorder().next();
    const int result = tableCall(m_link.modbusCtx, request, writing, &outcome->regs);
    const int failure = errno;
    m_transport->endTransaction();
    takeRecord(first, outcome);
    if (result == request.items)
        return QString();
    return failureText(result, failure, attempt, writing ? "write " : "", retry);
}

void ModbusEngine::readNewCommunicationSettings(const t_GetArray &params)
{
    // Read for the page's sake; a write of new communication settings is the device's own
    // business and changes nothing here.
    const int newSlaveId = numberOf(params.value("newSlaveID"));
    const int newBaudIndex = baudIndexOf(numberOf(params.value("newBaud")));
    const int newMode = numberOf(params.value("newMode"));
    Q_UNUSED(newSlaveId)
    Q_UNUSED(newBaudIndex)
    Q_UNUSED(newMode)
}

int ModbusEngine::reportSlaveIdExchange(QByteArray *report, int *error)
{
    // A silent slave may take long to identify; later transfers keep their own time-outs.
    struct timeval savedResponse = {};
    struct timeval savedByte = {};
    modbus_get_timeout_begin(m_link.modbusCtx, &savedResponse);
    modbus_get_timeout_end(m_link.modbusCtx, &savedByte);
    const struct timeval responseTimeout = {identifyTimeoutSeconds, 0};
    const struct timeval byteTimeout = {0, identifyByteTimeoutUs};
    modbus_set_timeout_begin(m_link.modbusCtx, &responseTimeout);
    modbus_set_timeout_end(m_link.modbusCtx, &byteTimeout);
    uint8_t buffer[reportBufferSize] = {};
    const int count = modbus_report_slave_id(m_link.modbusCtx, reportBufferSize, buffer);
    *error = errno;
    modbus_set_timeout_begin(m_link.modbusCtx, &savedResponse);
    modbus_set_timeout_end(m_link.modbusCtx, &savedByte);
    *report = QByteArray(reinterpret_cast<const char *>(buffer), qBound(0, count, reportBufferSize));
    return count;
}

QByteArray ModbusEngine::identifySlave(unsigned attempt)
{
    Q_UNUSED(attempt)
    if (!m_link.modbusCtx)
        return error("ERR_NOT_CONNECTED");
    const int slaveId = storedSlaveId();
    QElapsedTimer elapsed;
    bool firstExchange = true;
    for (;;) {
        // Checked on every exchange: a serial retry works on a context opened anew.
        if (modbus_set_slave(m_link.modbusCtx, slaveId) == -1)
            return error("ERR_INPUT_PARAMS");
        if (!m_transport->beginTransaction(ModbusTransport::Reach::Probed))
            return error("ERR_SOCKET_CONN");
        if (firstExchange)
            elapsed.start();
        QByteArray report;
        int failure = 0;
        const int count = reportSlaveIdExchange(&report, &failure);
        qDebug() << "identifySlave report_slave_id ret:" << count << "errno:" << failure
                 << "error:" << QString::fromLatin1(modbus_strerror(failure))
                 << "connectionType:" << static_cast<quint16>(m_transport->type()) << "slaveID:" << slaveId;
        m_transport->endTransaction();
        if (count >= 1 && count <= maxReportLength)
            return identificationReply(report);
        if (elapsed.elapsed() > identifyElapsedLimitMs || slaveDidNotAnswer(failure))
            return error("ERR_TIMEOUT");
        if (!(firstExchange && m_transport->prepareRetransmission()))
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
    QSettings settings;
    UserSettings::torvaId.setValue(settings, QString::number(byteAt(0)));

    // Printable characters only, space to right brace.
    QString description;
    for (int i = 2; i < report.size(); ++i) {
        if (byteAt(i) >= 32 && byteAt(i) <= 125)
            description += QLatin1Char(report[i]);
    }
    JsonWriter json(JsonWriter::Slash::Escaped);
    json.beginObject().name(QStringLiteral("id")).number(byteAt(0));
    json.name(QStringLiteral("desc")).string(description);
    // A one-byte report has no run indicator: the list holds only what the slave sent.
    json.name(QStringLiteral("descArray")).beginArray();
    for (int i = 0; i < report.size(); ++i)
        json.number(byteAt(i));
    json.endArray().endObject();
    return json.json();
}
