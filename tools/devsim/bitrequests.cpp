#include "bitrequests.h"

#include "devicetables.h"
#include "pdu.h"

using namespace Pdu;

namespace {
constexpr int maxReadBits = 2000;
constexpr int maxWriteBits = 1968;
constexpr int coilOn = 0xFF00;
} // namespace

BitRequests::BitRequests(DeviceTables *tables)
    : m_tables(tables)
{}

QByteArray BitRequests::read(const QByteArray &request, bool shortAnswer)
{
    const char function = request.at(0);
    BitTable &table = function == readCoils ? m_tables->coils : m_tables->discrete;
    if (request.size() < 5)
        return exception(function, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    if (count < 1 || count > maxReadBits)
        return exception(function, illegalValue);
    if (!table.contains(address, count))
        return exception(function, illegalAddress);
    QByteArray bits = table.packed(address, count);
    if (shortAnswer)
        bits.chop(1);
    return QByteArray(1, function) + char(bits.size()) + bits;
}

QByteArray BitRequests::writeCoil(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 5)
        return exception(writeSingleCoil, illegalValue);
    const int address = wordAt(request, 1);
    const int value = wordAt(request, 3);
    if (value != 0 && value != coilOn)
        return exception(writeSingleCoil, illegalValue);
    if (!m_tables->coils.contains(address, 1))
        return exception(writeSingleCoil, illegalAddress);
    m_tables->coils.write(address, 1, QByteArray(1, value ? 1 : 0));
    return echo(writeSingleCoil, address, shortAnswer ? (value - 1) & 0xFFFF : value);
}

QByteArray BitRequests::writeCoils(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 6)
        return exception(writeMultipleCoils, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    const int byteCount = byteAt(request, 5);
    if (count < 1 || count > maxWriteBits || byteCount != (count + 7) / 8 || request.size() < 6 + byteCount)
        return exception(writeMultipleCoils, illegalValue);
    if (!m_tables->coils.contains(address, count))
        return exception(writeMultipleCoils, illegalAddress);
    m_tables->coils.write(address, count, request.mid(6, byteCount));
    return echo(writeMultipleCoils, address, shortAnswer ? count - 1 : count);
}
