#ifndef TCPTRANSPORT_H
#define TCPTRANSPORT_H

#include "modbustransport.h"

#include <QString>

// Modbus TCP. The link is opened for every transaction and closed right after it; so a
// retransmission needs nothing more than the next transaction. A probe finds the stored address
// within the time-out before the connect and before each transaction of the original device
// functions; the data-table functions open the link with the library alone, which waits no
// longer than the same time-out. The time-out number counts milliseconds.
class TcpTransport : public ModbusTransport
{
public:
    using ModbusTransport::ModbusTransport;

    ConnectionType type() const override { return ConnectionType::Tcp; }
    bool beginTransaction(Reach reach) override;
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
