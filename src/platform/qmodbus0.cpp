#include "qmodbus0.h"

#include <QCoreApplication>
#include <QSerialPortInfo>
#include <QSettings>

#include <modbus.h>

#include <cerrno>
#include <limits>

namespace {
constexpr int microsecondsPerSecond = 1000000;
constexpr uint8_t readHoldingRegisters = 0x03;
constexpr uint8_t writeMultipleRegisters = 0x10;
constexpr uint8_t exceptionFlag = 0x80;
// A 32-bit register takes four bytes; the PDU limits how many fit in one transfer.
constexpr int bytesPerRegister32 = 4;
constexpr int maxRead32 = MODBUS_MAX_READ_REGISTERS / 2;
constexpr int maxWrite32 = MODBUS_MAX_WRITE_REGISTERS / 2;
constexpr int rtuHeaderLength = 1;

QString &configuredPortsFile()
{
    static QString path;
    return path;
}

// libmodbus reports a silent slave with the platform's own time-out errno.
int reportTimeOut(int result)
{
    if (result == -1 && errno == ETIMEDOUT)
        errno = QModBus0::timedOutErrno;
    return result;
}

// A serial answer that came after its time-out still waits in the line's buffer and would
// be taken for the answer to the next request: drop it first. A TCP link is fresh for
// every transaction.
void discardLateAnswers(modbus_t *ctx)
{
    if (::modbus_get_header_length(ctx) == rtuHeaderLength)
        ::modbus_flush(ctx);
}

int failWith(int error)
{
    errno = error;
    return -1;
}

void splitTimeval(const struct timeval *timeout, uint32_t *seconds, uint32_t *microseconds)
{
    // libmodbus refuses a microseconds field of a second or more: carry whole seconds, in
    // 64 bits and within what its 32-bit seconds can hold; a negative time-out is none.
    constexpr qint64 maxSeconds = std::numeric_limits<uint32_t>::max();
    const qint64 usec = timeout->tv_usec;
    qint64 wholeSeconds =
        qBound(-maxSeconds, qint64(timeout->tv_sec), maxSeconds) + usec / microsecondsPerSecond;
    qint64 restUs = usec % microsecondsPerSecond;
    if (restUs < 0) {
        restUs += microsecondsPerSecond;
        --wholeSeconds;
    }
    if (wholeSeconds < 0) {
        wholeSeconds = 0;
        restUs = 0;
    } else if (wholeSeconds > maxSeconds) {
        wholeSeconds = maxSeconds;
        restUs = microsecondsPerSecond - 1;
    }
    *seconds = static_cast<uint32_t>(wholeSeconds);
    *microseconds = static_cast<uint32_t>(restUs);
}

void joinTimeval(uint32_t seconds, uint32_t microseconds, struct timeval *timeout)
{
    timeout->tv_sec = static_cast<decltype(timeout->tv_sec)>(seconds);
    timeout->tv_usec = static_cast<decltype(timeout->tv_usec)>(microseconds);
}

void putWord(uint8_t *at, int value)
{
    at[0] = static_cast<uint8_t>(value >> 8);
    at[1] = static_cast<uint8_t>(value);
}

int wordAt(const uint8_t *at)
{
    return (at[0] << 8) | at[1];
}

// Sends a raw request and receives the answer's PDU. Returns the PDU length or -1 with
// errno set; an exception answer becomes the library's exception errno.
int transact(modbus_t *ctx, const uint8_t *request, int requestLength, uint8_t *answer, const uint8_t **pdu)
{
    discardLateAnswers(ctx);
    if (::modbus_send_raw_request(ctx, request, requestLength) == -1)
        return reportTimeOut(-1);
    const int length = ::modbus_receive_confirmation(ctx, answer);
    if (length == -1)
        return reportTimeOut(-1);
    const int header = ::modbus_get_header_length(ctx);
    if (length < header + 2)
        return failWith(EMBBADDATA);
    *pdu = answer + header;
    if ((*pdu)[0] == (request[1] | exceptionFlag))
        return failWith(MODBUS_ENOBASE + (*pdu)[1]);
    if ((*pdu)[0] != request[1])
        return failWith(EMBBADDATA);
    return length - header;
}
} // namespace

namespace QModBus0 {

modbus_t *modbus_new_rtu(const char *device, int baud, char parity, int dataBits, int stopBits)
{
    return ::modbus_new_rtu(device, baud, parity, dataBits, stopBits);
}

modbus_t *modbus_new_tcp(const char *address, int port)
{
    return ::modbus_new_tcp(address, port);
}

int modbus_connect(modbus_t *ctx)
{
    return reportTimeOut(::modbus_connect(ctx));
}

void modbus_close(modbus_t *ctx)
{
    ::modbus_close(ctx);
}

void modbus_free(modbus_t *ctx)
{
    ::modbus_free(ctx);
}

int modbus_set_slave(modbus_t *ctx, int slave)
{
    return ::modbus_set_slave(ctx, slave);
}

int modbus_get_timeout_begin(modbus_t *ctx, struct timeval *timeout)
{
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    const int result = ::modbus_get_response_timeout(ctx, &seconds, &microseconds);
    joinTimeval(seconds, microseconds, timeout);
    return result;
}

int modbus_get_timeout_end(modbus_t *ctx, struct timeval *timeout)
{
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    const int result = ::modbus_get_byte_timeout(ctx, &seconds, &microseconds);
    joinTimeval(seconds, microseconds, timeout);
    return result;
}

int modbus_set_timeout_begin(modbus_t *ctx, const struct timeval *timeout)
{
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    splitTimeval(timeout, &seconds, &microseconds);
    return ::modbus_set_response_timeout(ctx, seconds, microseconds);
}

int modbus_set_timeout_end(modbus_t *ctx, const struct timeval *timeout)
{
    uint32_t seconds = 0;
    uint32_t microseconds = 0;
    splitTimeval(timeout, &seconds, &microseconds);
    return ::modbus_set_byte_timeout(ctx, seconds, microseconds);
}

int modbus_read_registers(modbus_t *ctx, int address, int count, uint16_t *dest)
{
    discardLateAnswers(ctx);
    return reportTimeOut(::modbus_read_registers(ctx, address, count, dest));
}

int modbus_write_registers(modbus_t *ctx, int address, int count, const uint16_t *data)
{
    discardLateAnswers(ctx);
    return reportTimeOut(::modbus_write_registers(ctx, address, count, data));
}

int modbus_read_registers_32(modbus_t *ctx, int address, int count, uint32_t *dest)
{
    if (count < 1 || count > maxRead32)
        return failWith(EMBMDATA);
    uint8_t request[6] = {static_cast<uint8_t>(::modbus_get_slave(ctx)), readHoldingRegisters};
    putWord(request + 2, address);
    putWord(request + 4, count);
    uint8_t answer[MODBUS_MAX_ADU_LENGTH];
    const uint8_t *pdu = nullptr;
    const int pduLength = transact(ctx, request, sizeof request, answer, &pdu);
    if (pduLength == -1)
        return -1;
    // A shorter answer than asked is handed on as fewer registers; anything that is not a
    // whole number of registers, more than asked or more than arrived is broken.
    const int byteCount = pdu[1];
    if (byteCount % bytesPerRegister32 != 0 || byteCount > count * bytesPerRegister32 ||
        byteCount > pduLength - 2)
        return failWith(EMBBADDATA);
    const int received = byteCount / bytesPerRegister32;
    for (int i = 0; i < received; ++i) {
        const uint8_t *at = pdu + 2 + i * bytesPerRegister32;
        dest[i] =
            (uint32_t(at[0]) << 24) | (uint32_t(at[1]) << 16) | (uint32_t(at[2]) << 8) | uint32_t(at[3]);
    }
    return received;
}

int modbus_write_registers_32(modbus_t *ctx, int address, int count, const uint32_t *data)
{
    if (count < 1 || count > maxWrite32)
        return failWith(EMBMDATA);
    uint8_t request[7 + maxWrite32 * bytesPerRegister32] = {static_cast<uint8_t>(::modbus_get_slave(ctx)),
                                                            writeMultipleRegisters};
    putWord(request + 2, address);
    putWord(request + 4, count);
    request[6] = static_cast<uint8_t>(count * bytesPerRegister32);
    for (int i = 0; i < count; ++i) {
        uint8_t *at = request + 7 + i * bytesPerRegister32;
        at[0] = static_cast<uint8_t>(data[i] >> 24);
        at[1] = static_cast<uint8_t>(data[i] >> 16);
        at[2] = static_cast<uint8_t>(data[i] >> 8);
        at[3] = static_cast<uint8_t>(data[i]);
    }
    uint8_t answer[MODBUS_MAX_ADU_LENGTH];
    const uint8_t *pdu = nullptr;
    const int pduLength = transact(ctx, request, 7 + count * bytesPerRegister32, answer, &pdu);
    if (pduLength == -1)
        return -1;
    // The echo names the address written and how many registers were taken.
    if (pduLength < 5 || wordAt(pdu + 1) != address)
        return failWith(EMBBADDATA);
    return wordAt(pdu + 3);
}

int modbus_report_slave_id(modbus_t *ctx, int maxDest, uint8_t *dest)
{
    discardLateAnswers(ctx);
    const int count = reportTimeOut(::modbus_report_slave_id(ctx, maxDest, dest));
    // An empty report is no identification; say so rather than leave a stale errno.
    if (count == 0)
        errno = EMBBADDATA;
    return count;
}

const char *modbus_strerror(int errnum)
{
    return ::modbus_strerror(errnum == timedOutErrno ? ETIMEDOUT : errnum);
}

void setPortsConfigFile(const QString &path)
{
    configuredPortsFile() = path;
}

QString portsConfigFile()
{
    const QString configured = configuredPortsFile();
    return configured.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini")
                                : configured;
}

QList<PortInfo> getPorts()
{
    QList<PortInfo> ports;
    const auto available = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : available) {
#ifdef Q_OS_WIN
        const QString name = info.portName();
#else
        const QString name = info.systemLocation();
#endif
        ports.append({name, info.description().isEmpty() ? name : info.description()});
    }
    QSettings config(portsConfigFile(), QSettings::IniFormat);
    const QStringList extra = config.value(QStringLiteral("serial/extraPorts")).toStringList();
    for (const QString &path : extra) {
        const QString trimmed = path.trimmed();
        if (!trimmed.isEmpty())
            ports.append({trimmed, trimmed});
    }
    return ports;
}

} // namespace QModBus0
