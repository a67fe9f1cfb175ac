#include "modbussession.h"

#include "adu.h"
#include "faultcontrol.h"
#include "pdu.h"
#include "requestprocessor.h"

#include <modbus.h>

#include <QHash>
#include <QThread>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

namespace {
constexpr int rtuHeader = 1;
constexpr int rtuChecksum = 2;
constexpr int tcpHeader = 7;
constexpr unsigned long idleAfterLineErrorMs = 10;

void logRequest(const QByteArray &pdu, const QByteArray &frame)
{
    const auto byte = [&pdu](int i) { return i < pdu.size() ? static_cast<unsigned char>(pdu[i]) : 0; };
    const int function = byte(0);
    // A single write's second word is its value, not a quantity.
    const bool single = function == Pdu::writeSingleCoil || function == Pdu::writeSingleRegister;
    // One line per request, so that tests can count the attempts they caused and see what
    // came over the wire.
    std::printf("request function=%d address=%d count=%d frame=%s\n", function, (byte(1) << 8) | byte(2),
                single ? 1 : (byte(3) << 8) | byte(4), frame.toHex().constData());
    std::fflush(stdout);
}

QByteArray malformed(QByteArray pdu)
{
    // Another function code with the same layout: each read answered as the other read of
    // its kind (coils and discrete inputs, holding and input registers), each write as the
    // other write of its size; an identification or an exception as a register read.
    static const QHash<char, char> twins = {{Pdu::readCoils, Pdu::readDiscreteInputs},
                                            {Pdu::readDiscreteInputs, Pdu::readCoils},
                                            {Pdu::readHoldingRegisters, Pdu::readInputRegisters},
                                            {Pdu::readInputRegisters, Pdu::readHoldingRegisters},
                                            {Pdu::writeSingleCoil, Pdu::writeSingleRegister},
                                            {Pdu::writeSingleRegister, Pdu::writeSingleCoil},
                                            {Pdu::writeMultipleCoils, Pdu::writeMultipleRegisters},
                                            {Pdu::writeMultipleRegisters, Pdu::writeMultipleCoils}};
    pdu[0] = twins.value(pdu.at(0), Pdu::readInputRegisters);
    return pdu;
}
} // namespace

ModbusSession::ModbusSession(modbus_t *ctx, bool rtu, RequestProcessor *processor, FaultControl *faults,
                             bool logRequests)
    : m_ctx(ctx)
    , m_rtu(rtu)
    , m_processor(processor)
    , m_faults(faults)
    , m_logRequests(logRequests)
{}

void ModbusSession::run()
{
    uint8_t request[MODBUS_MAX_ADU_LENGTH];
    for (;;) {
        const int length = modbus_receive(m_ctx, request);
        if (length > 0) {
            answer(QByteArray(reinterpret_cast<const char *>(request), length), length);
            continue;
        }
        // A broken request on a serial line is skipped; a closed TCP client ends the session.
        if (length == -1 && (!m_rtu || errno == EBADF))
            return;
        // A line that keeps failing outright (not a bad frame) must not spin the processor.
        if (length == -1 && errno < MODBUS_ENOBASE)
            QThread::msleep(idleAfterLineErrorMs);
    }
}

void ModbusSession::answer(const QByteArray &request, int length)
{
    const int header = m_rtu ? rtuHeader : tcpHeader;
    const QByteArray pdu = request.mid(header, length - header - (m_rtu ? rtuChecksum : 0));
    if (m_logRequests)
        logRequest(pdu, request);
    const Faults faults = m_faults->current();
    if (faults.mode == Faults::Silent)
        return;
    QByteArray response = m_processor->process(pdu, faults.mode == Faults::Short);
    if (faults.mode == Faults::Malformed)
        response = malformed(response);
    if (faults.delayMs > 0)
        QThread::msleep(static_cast<unsigned long>(faults.delayMs));
    send(m_rtu ? Adu::rtuFrame(static_cast<quint8>(request.at(0)), response, faults.mode == Faults::BadCrc)
               : Adu::tcpFrame(request.left(tcpHeader), response));
}

bool ModbusSession::send(const QByteArray &frame)
{
    const int fd = modbus_get_socket(m_ctx);
    qsizetype written = 0;
    while (written < frame.size()) {
        const ssize_t n =
            ::write(fd, frame.constData() + written, static_cast<size_t>(frame.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        written += n;
    }
    return true;
}
