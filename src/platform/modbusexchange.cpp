#include "modbusexchange.h"

#include "qmodbus0.h"

#include <QElapsedTimer>

#include <modbus.h>

#include <atomic>
#include <cerrno>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#endif

namespace {
constexpr int rtuHeaderLength = 1;
constexpr int rtuChecksumLength = 2;
constexpr int tcpHeaderLength = 7;
constexpr uint8_t exceptionFlag = 0x80;
constexpr uint8_t broadcastAddress = 0;
constexpr uint8_t anyTcpUnit = 0xFF;
constexpr double nanosecondsPerMs = 1e6;

// The Modbus RTU checksum (CRC-16, polynomial 0xA001 reflected, start 0xFFFF).
quint16 rtuChecksum(const QByteArray &bytes)
{
    quint16 crc = 0xFFFF;
    for (const char byte : bytes) {
        crc ^= static_cast<quint8>(byte);
        for (int shift = 0; shift < 8; ++shift) {
            const bool carry = crc & 1;
            crc >>= 1;
            if (carry)
                crc ^= 0xA001;
        }
    }
    return crc;
}

// Transaction ids only need to differ between the requests on one connection; a late
// answer to an earlier request then cannot pass for the current one.
quint16 nextTransactionId()
{
    static std::atomic<quint16> last{0};
    return ++last;
}

bool sendAll(int socket, const QByteArray &frame)
{
#ifdef Q_OS_WIN
    constexpr int flags = 0;
#else
    constexpr int flags = MSG_NOSIGNAL; // a closed peer is an error, not the end of Vexo
#endif
    int sent = 0;
    while (sent < frame.size()) {
        const auto n = ::send(socket, frame.constData() + sent, frame.size() - sent, flags);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
#ifdef Q_OS_WIN
            errno = WSAGetLastError();
#endif
            return false;
        }
        sent += int(n);
    }
    return true;
}

QByteArray bytes(const uint8_t *data, int length)
{
    return QByteArray(reinterpret_cast<const char *>(data), length);
}
} // namespace

ModbusExchange::ModbusExchange(modbus_t *ctx, const QByteArray &pdu, int addr, int count)
    : m_ctx(ctx)
    , m_raw(char(::modbus_get_slave(ctx)) + pdu)
    , m_rtu(::modbus_get_header_length(ctx) == rtuHeaderLength)
    , m_header(m_rtu ? rtuHeaderLength : tcpHeaderLength)
    , m_checksum(m_rtu ? rtuChecksumLength : 0)
{
    m_record.fc = static_cast<uint8_t>(pdu.at(0));
    m_record.addr = addr;
    m_record.count = count;
}

int ModbusExchange::run(const std::function<int(const QByteArray &pdu)> &check)
{
    m_record.time = QDateTime::currentDateTime();
    m_record.request = requestFrame();
    // An answer that came after its time-out may still wait on the link and would be
    // taken for the answer to this request: drop it first.
    ::modbus_flush(m_ctx);
    const int result = transact(check);
    finish(result);
    return result;
}

QByteArray ModbusExchange::requestFrame() const
{
    if (m_rtu) {
        const quint16 crc = rtuChecksum(m_raw);
        return m_raw + char(crc & 0xFF) + char(crc >> 8);
    }
    const quint16 id = nextTransactionId();
    const int length = m_raw.size(); // unit id and PDU
    const char header[] = {char(id >> 8), char(id), 0, 0, char(length >> 8), char(length)};
    return QByteArray(header, sizeof header) + m_raw;
}

int ModbusExchange::transact(const std::function<int(const QByteArray &pdu)> &check)
{
    QElapsedTimer timer;
    timer.start();
    // The library frames RTU requests itself (adding the CRC computed above); a TCP request
    // goes out as built here, since the library's raw requests all carry transaction id 0.
    const bool sent =
        m_rtu ? ::modbus_send_raw_request(m_ctx, reinterpret_cast<const uint8_t *>(m_raw.constData()),
                                          m_raw.size()) != -1
              : sendAll(::modbus_get_socket(m_ctx), m_record.request);
    if (!sent)
        return -1;
    uint8_t answer[MODBUS_MAX_ADU_LENGTH];
    const int length = ::modbus_receive_confirmation(m_ctx, answer);
    m_record.ms = double(timer.nsecsElapsed()) / nanosecondsPerMs;
    const int error = errno;
    if (length > 0)
        return judge(bytes(answer, length), check);
    // A frame with a bad checksum, or (length 0) one from another slave, was read whole
    // but not handed on; the record shows it all the same.
    if (m_rtu && (length == 0 || error == EMBBADCRC))
        m_record.response = bytes(answer, answerLength(answer));
    errno = length == 0 ? EMBBADSLAVE : error;
    return -1;
}

int ModbusExchange::answerLength(const uint8_t *frame) const
{
    // As the library reads a confirmation: function code, the fixed part after it, the
    // data its byte count announces, the checksum.
    const uint8_t function = frame[m_header];
    int fixed = 1;
    if (function == 0x05 || function == 0x06 || function == 0x0F || function == 0x10)
        fixed = 4;
    else if (function == 0x16)
        fixed = 6;
    int data = 0;
    if (function <= 0x04 || function == 0x11 || function == 0x17)
        data = frame[m_header + 1];
    return qMin(m_header + 1 + fixed + data + m_checksum, int(MODBUS_MAX_ADU_LENGTH));
}

int ModbusExchange::judge(const QByteArray &frame, const std::function<int(const QByteArray &pdu)> &check)
{
    m_record.response = frame;
    const auto byteAt = [&frame](int i) { return static_cast<uint8_t>(frame.at(i)); };
    if (frame.size() < m_header + 2 + m_checksum) {
        errno = EMBBADDATA;
        return -1;
    }
    // TCP: the transaction id must be this request's, the protocol id Modbus, the length
    // what came.
    if (!m_rtu && (frame.left(2) != m_record.request.left(2) || byteAt(2) != 0 || byteAt(3) != 0 ||
                   ((byteAt(4) << 8) | byteAt(5)) != frame.size() - 6)) {
        errno = EMBBADDATA;
        return -1;
    }
    const uint8_t slave = static_cast<uint8_t>(m_raw.at(0));
    const bool anySlave = slave == broadcastAddress || (!m_rtu && slave == anyTcpUnit);
    if (!anySlave && byteAt(m_header - 1) != slave) {
        errno = EMBBADSLAVE;
        return -1;
    }
    const QByteArray pdu = frame.mid(m_header, frame.size() - m_header - m_checksum);
    const uint8_t function = static_cast<uint8_t>(m_raw.at(1));
    const uint8_t answered = static_cast<uint8_t>(pdu.at(0));
    if (answered & exceptionFlag) {
        const int code = static_cast<uint8_t>(pdu.at(1));
        if (answered != (function | exceptionFlag) || pdu.size() != 2) {
            errno = EMBBADEXC;
            return -1;
        }
        m_record.outcome = TrafficRecord::Outcome::Exception;
        errno = code < MODBUS_EXCEPTION_MAX ? MODBUS_ENOBASE + code : EMBBADEXC;
        return -1;
    }
    if (answered != function) {
        errno = EMBBADDATA;
        return -1;
    }
    return check(pdu);
}

void ModbusExchange::finish(int result)
{
    const int error = errno;
    if (result == -1) {
        m_record.error = QString::fromLocal8Bit(::modbus_strerror(error));
        if (error == ETIMEDOUT)
            m_record.outcome = TrafficRecord::Outcome::TimedOut;
        else if (error == EMBBADCRC)
            m_record.outcome = TrafficRecord::Outcome::CrcError;
        else if (m_record.outcome != TrafficRecord::Outcome::Exception)
            m_record.outcome = TrafficRecord::Outcome::OtherError;
    }
    QModBus0::trafficRecorder().record(m_record);
    errno = error == ETIMEDOUT ? QModBus0::timedOutErrno : error;
}
