#ifndef TCPTRANSPORT_H
#define TCPTRANSPORT_H

#include "modbustransport.h"

#include <QString>

// Modbus TCP. The link is opened for every transaction, after a probe has found the stored
// address within the time-out, and closed right after it; so a retransmission needs nothing
// more than the next transaction. The time-out number counts milliseconds.
class TcpTransport : public ModbusTransport
{
public:
    using ModbusTransport::ModbusTransport;

    ConnectionType type() const override { return ConnectionType::Tcp; }
    bool beginTransaction() override { return reconnect(); }
    void endTransaction() override;
    bool prepareRetransmission() override { return true; }

    // Replaces the context by one for the device; false when the library makes none.
    bool open(const QString &address, int port, int timeoutNumber);
    // Probes the stored address and opens the link.
    bool reconnect();
};

#endif // TCPTRANSPORT_H
