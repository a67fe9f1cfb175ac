#include "qmodbus0.h"

#include "modbusexchange.h"
#include "trafficrecorder.h"

#include <QCoreApplication>
#include <QSerialPortInfo>
#include <QSettings>

#include <modbus.h>

#include <cerrno>
#include <functional>
#include <limits>

namespace {
constexpr int microsecondsPerSecond = 1000000;
constexpr uint8_t readCoils = 0x01;
constexpr uint8_t readDiscreteInputs = 0x02;
constexpr uint8_t readHoldingRegisters = 0x03;
constexpr uint8_t readInputRegisters = 0x04;
constexpr uint8_t writeSingleCoil = 0x05;
constexpr uint8_t writeSingleRegister = 0x06;
constexpr uint8_t writeMultipleCoils = 0x0F;
constexpr uint8_t writeMultipleRegisters = 0x10;
constexpr char reportSlaveId = 0x11;
constexpr int coilOn = 0xFF00;
constexpr int maxAddress = 0xFFFF;
// A 32-bit register takes four bytes; the PDU limits how many fit in one transfer.
constexpr int bytesPerRegister32 = 4;
constexpr int maxRead32 = MODBUS_MAX_READ_REGISTERS / 2;
constexpr int maxWrite32 = MODBUS_MAX_WRITE_REGISTERS / 2;

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

int byteAt(const QByteArray &pdu, int at)
{
    return static_cast<uint8_t>(pdu.at(at));
}

int wordAt(const QByteArray &pdu, int at)
{
    return (byteAt(pdu, at) << 8) | byteAt(pdu, at + 1);
}

void appendWord(QByteArray *pdu, int value)
{
    pdu->append(static_cast<char>(value >> 8));
    pdu->append(static_cast<char>(value));
}

// Function code, address and a second word: a read's quantity or a single write's value.
QByteArray requestPdu(uint8_t function, int address, int word)
{
    QByteArray pdu(1, static_cast<char>(function));
    appendWord(&pdu, address);
    appendWord(&pdu, word);
    return pdu;
}

// An address the request's 16 bits cannot hold would reach another register.
bool addressable(int address)
{
    return address >= 0 && address <= maxAddress;
}

// A read of count items, at most maxCount; check judges the answer's PDU and copies out.
int readItems(modbus_t *ctx, uint8_t function, int address, int count, int maxCount,
              const std::function<int(const QByteArray &pdu)> &check)
{
    if (!ctx || !addressable(address))
        return failWith(EINVAL);
    if (count < 1 || count > maxCount)
        return failWith(EMBMDATA);
    return ModbusExchange(ctx, requestPdu(function, address, count), address, count).run(check);
}

int readWords(modbus_t *ctx, uint8_t function, int address, int count, uint16_t *dest)
{
    return readItems(ctx, function, address, count, MODBUS_MAX_READ_REGISTERS,
                     [count, dest](const QByteArray &pdu) {
                         if (byteAt(pdu, 1) != 2 * count)
                             return failWith(EMBBADDATA);
                         for (int i = 0; i < count; ++i)
                             dest[i] = static_cast<uint16_t>(wordAt(pdu, 2 + 2 * i));
                         return count;
                     });
}

int readBits(modbus_t *ctx, uint8_t function, int address, int count, uint8_t *dest)
{
    return readItems(ctx, function, address, count, MODBUS_MAX_READ_BITS,
                     [count, dest](const QByteArray &pdu) {
                         if (byteAt(pdu, 1) != (count + 7) / 8)
                             return failWith(EMBBADDATA);
                         for (int i = 0; i < count; ++i)
                             dest[i] = (byteAt(pdu, 2 + i / 8) >> (i % 8)) & 1;
                         return count;
                     });
}

// A multiple write: data holds the byte count and the values. The answer echoes the
// address and the quantity; returns the quantity echoed, which must be the one sent unless
// the caller takes fewer.
int writeMultiple(modbus_t *ctx, uint8_t function, int address, int count, const QByteArray &data,
                  bool fewerTaken = false)
{
    if (!addressable(address))
        return failWith(EINVAL);
    const QByteArray request = requestPdu(function, address, count);
    return ModbusExchange(ctx, request + data, address, count).run([=](const QByteArray &pdu) {
        const int echoed = wordAt(pdu, 3);
        if (wordAt(pdu, 1) != address || (echoed != count && !fewerTaken))
            return failWith(EMBBADDATA);
        return echoed;
    });
}

// A single write: the answer repeats the request.
int writeSingle(modbus_t *ctx, uint8_t function, int address, int value)
{
    if (!ctx || !addressable(address))
        return failWith(EINVAL);
    const QByteArray request = requestPdu(function, address, value);
    return ModbusExchange(ctx, request, address, 1).run([&request](const QByteArray &pdu) {
        return pdu == request ? 1 : failWith(EMBBADDATA);
    });
}

} // namespace

namespace QModBus0 {

modbus_t *modbus_new_rtu(const char *device, int baud, char parity, int dataBits, int stopBits)
{
    return ::modbus_new_rtu(device, baud, parity, dataBits, stopBits);
}

modbus_t *modbus_new_tcp(const char *address, int port)
{
    // The protocol-independent form also takes IPv6 addresses; numeric addresses are not looked up.
    return ::modbus_new_tcp_pi(address, QByteArray::number(port).constData());
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
    return readWords(ctx, readHoldingRegisters, address, count, dest);
}

int modbus_write_registers(modbus_t *ctx, int address, int count, const uint16_t *data)
{
    if (!ctx)
        return failWith(EINVAL);
    if (count < 1 || count > MODBUS_MAX_WRITE_REGISTERS)
        return failWith(EMBMDATA);
    QByteArray values(1, static_cast<char>(2 * count));
    for (int i = 0; i < count; ++i)
        appendWord(&values, data[i]);
    return writeMultiple(ctx, writeMultipleRegisters, address, count, values);
}

int modbus_read_registers_32(modbus_t *ctx, int address, int count, uint32_t *dest)
{
    return readItems(ctx, readHoldingRegisters, address, count, maxRead32,
                     [count, dest](const QByteArray &pdu) {
                         // A shorter answer than asked is handed on as fewer registers; anything that is not
                         // a whole number of registers or more than asked is broken.
                         const int byteCount = byteAt(pdu, 1);
                         if (byteCount % bytesPerRegister32 != 0 || byteCount > count * bytesPerRegister32)
                             return failWith(EMBBADDATA);
                         const int received = byteCount / bytesPerRegister32;
                         for (int i = 0; i < received; ++i) {
                             const int at = 2 + i * bytesPerRegister32;
                             dest[i] = (uint32_t(wordAt(pdu, at)) << 16) | uint32_t(wordAt(pdu, at + 2));
                         }
                         return received;
                     });
}

int modbus_write_registers_32(modbus_t *ctx, int address, int count, const uint32_t *data)
{
    if (!ctx)
        return failWith(EINVAL);
    if (count < 1 || count > maxWrite32)
        return failWith(EMBMDATA);
    QByteArray values(1, static_cast<char>(count * bytesPerRegister32));
    for (int i = 0; i < count; ++i) {
        appendWord(&values, int(data[i] >> 16));
        appendWord(&values, int(data[i] & 0xFFFF));
    }
    // The echo names the address written and how many registers were taken.
    return writeMultiple(ctx, writeMultipleRegisters, address, count, values, true);
}

int modbus_report_slave_id(modbus_t *ctx, int maxDest, uint8_t *dest)
{
    if (!ctx || maxDest < 1)
        return failWith(EINVAL);
    const int count =
        ModbusExchange(ctx, QByteArray(1, reportSlaveId), 0, 0).run([maxDest, dest](const QByteArray &pdu) {
            const int reported = byteAt(pdu, 1);
            for (int i = 0; i < reported && i < maxDest; ++i)
                dest[i] = static_cast<uint8_t>(byteAt(pdu, 2 + i));
            return reported;
        });
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

int modbus_read_bits(modbus_t *ctx, int address, int count, uint8_t *dest)
{
    return readBits(ctx, readCoils, address, count, dest);
}

int modbus_read_input_bits(modbus_t *ctx, int address, int count, uint8_t *dest)
{
    return readBits(ctx, readDiscreteInputs, address, count, dest);
}

int modbus_read_input_registers(modbus_t *ctx, int address, int count, uint16_t *dest)
{
    return readWords(ctx, readInputRegisters, address, count, dest);
}

int modbus_write_bit(modbus_t *ctx, int address, int status)
{
    return writeSingle(ctx, writeSingleCoil, address, status ? coilOn : 0);
}

int modbus_write_register(modbus_t *ctx, int address, uint16_t value)
{
    return writeSingle(ctx, writeSingleRegister, address, value);
}

int modbus_write_bits(modbus_t *ctx, int address, int count, const uint8_t *data)
{
    if (!ctx)
        return failWith(EINVAL);
    if (count < 1 || count > MODBUS_MAX_WRITE_BITS)
        return failWith(EMBMDATA);
    const int byteCount = (count + 7) / 8;
    QByteArray values(1 + byteCount, '\0');
    values[0] = static_cast<char>(byteCount);
    for (int i = 0; i < count; ++i) {
        if (data[i])
            values[1 + i / 8] = static_cast<char>(values[1 + i / 8] | (1 << (i % 8)));
    }
    return writeMultiple(ctx, writeMultipleCoils, address, count, values);
}

TrafficRecorder &trafficRecorder()
{
    static TrafficRecorder recorder;
    return recorder;
}

} // namespace QModBus0
