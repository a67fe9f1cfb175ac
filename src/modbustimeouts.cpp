#include "modbustimeouts.h"

namespace {
constexpr qint64 serialStepMs = 10;
}

int ModbusTimeouts::tcpMs(qint64 number)
{
    return static_cast<int>(qBound(qint64(minTcpMs), number, qint64(maxMs)));
}

int ModbusTimeouts::serialMs(qint64 number)
{
    // Bounded before multiplying: any qint64 number stays in range.
    return static_cast<int>(qBound(qint64(0), number, maxMs / serialStepMs) * serialStepMs);
}

struct timeval ModbusTimeouts::toTimeval(int ms)
{
    struct timeval value = {};
    value.tv_sec = static_cast<decltype(value.tv_sec)>(ms / 1000);
    value.tv_usec = static_cast<decltype(value.tv_usec)>((ms % 1000) * 1000);
    return value;
}
