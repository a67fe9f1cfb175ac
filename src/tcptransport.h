#ifndef TCPTRANSPORT_H
#define TCPTRANSPORT_H

#include "modbustransport.h"

#include <QString>

// Modbus TCP. The link is opened for every transaction and closed right after it; so a
// retransmission needs nothing more than the next transaction. The connect probes the stored
// address within the time-out first; a transaction's link is opened by the library alone,
// which waits for it no longer than the same time-out (its response time-out), saving a
// second connection per transaction. The time-out number counts milliseconds.
class TcpTransport : public ModbusTransport
{
public:
    using ModbusTransport::ModbusTransport;

    ConnectionType type() const override { return ConnectionType::Tcp; }
    bool beginTransaction() override;
    void endTransaction() override;
    bool prepareRetransmission() override { return true; }

    // Replaces the context by one for the device; false when the library makes none.
    bool open(const QString &address, int port, int timeoutNumber);
    // Probes the stored address and opens the link.
    bool reconnect();

private:
    bool connectLink();
};

#endif // TCPTRANSPORT_H
