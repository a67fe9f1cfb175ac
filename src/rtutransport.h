#ifndef RTUTRANSPORT_H
#define RTUTRANSPORT_H

#include "modbustransport.h"

#include <QString>

// Modbus RTU on a serial port. The line is opened by the connect and stays open between
// transactions; before a retransmission it is closed and opened again from the stored
// settings. The time-out number counts 10 ms steps.
class RtuTransport : public ModbusTransport
{
public:
    using ModbusTransport::ModbusTransport;

    ConnectionType type() const override { return ConnectionType::Serial; }
    bool beginTransaction(Reach) override { return true; }
    void endTransaction() override {}
    bool prepareRetransmission() override;

    // The first enumerated port whose name is, or contains, the requested one.
    static bool findPort(const QString &requested, QString *enumeratedName);
    // Replaces the context by one on the enumerated port. False when the line does not open;
    // the new context stays all the same.
    bool open(const QString &portName, int baudIndex, int mode, int timeoutNumber);
    // Opens the line of the stored settings; connected when it opens.
    bool reopen();
    // Closes the line and opens it again; not connected when that fails.
    bool reconnect();
};

#endif // RTUTRANSPORT_H
