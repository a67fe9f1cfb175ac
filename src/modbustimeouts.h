#ifndef MODBUSTIMEOUTS_H
#define MODBUSTIMEOUTS_H

#include "qmodbus0.h"

#include <QtGlobal>

// The time-outs the engine hands the library. The stored numbers stay as sent; what is
// applied is bounded, so no stored number holds the Modbus lock for long, and the
// arithmetic runs in 64 bits (a timeval's fields may be 32-bit).
// Threads: keeps no state; called by the engine on the connection threads.
class ModbusTimeouts
{
public:
    static constexpr int minTcpMs = 100;
    static constexpr int maxMs = 60000;

    // The TCP number counts milliseconds, for the reachability probe and the response alike.
    static int tcpMs(qint64 number);
    // The serial number counts 10 ms steps; nothing when it is not positive.
    static int serialMs(qint64 number);
    static struct timeval toTimeval(int ms);
};

#endif // MODBUSTIMEOUTS_H
