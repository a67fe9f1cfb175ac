#include "requestprocessor.h"

#include "devicetables.h"
#include "pdu.h"

using namespace Pdu;

namespace {
constexpr int maxReadBytes = 250;
constexpr int maxWriteBytes = 246;
constexpr int maxReadRegisters = 125;

quint32 bigEndianAt(const QByteArray &data, int at, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<unsigned char>(data[at + i]);
    return value;
}
} // namespace

RequestProcessor::RequestProcessor(DeviceTables *tables, const QByteArray &report)
    : m_tables(tables)
    , m_bits(tables)
    , m_report(report)
{}

QByteArray RequestProcessor::process(const QByteArray &request, bool shortAnswer)
{
    if (request.isEmpty())
        return QByteArray();
    switch (request[0]) {
    case readCoils:
    case readDiscreteInputs:
        return m_bits.read(request, shortAnswer);
    case readHoldingRegisters:
        return readRegisters(request, shortAnswer);
    case readInputRegisters:
        return readInputs(request, shortAnswer);
    case writeSingleCoil:
        return m_bits.writeCoil(request, shortAnswer);
    case writeSingleRegister:
        return writeRegister(request, shortAnswer);
    case writeMultipleCoils:
        return m_bits.writeCoils(request, shortAnswer);
    case writeMultipleRegisters:
        return writeRegisters(request, shortAnswer);
    case reportSlaveId:
        return slaveIdReport();
    default:
        return exception(request[0], illegalFunction);
    }
}

QByteArray RequestProcessor::readRegisters(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 5)
        return exception(readHoldingRegisters, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    bool wide = false;
    if (!RegisterBank::isValidRange(address, count, &wide))
        return exception(readHoldingRegisters, illegalAddress);
    const int width = wide ? 4 : 2;
    if (count * width > maxReadBytes)
        return exception(readHoldingRegisters, illegalValue);

    const int sent = shortAnswer ? count - 1 : count;
    if (!wide)
        return wordsAnswer(readHoldingRegisters, m_tables->holding.read16(address, sent));
    QByteArray answer;
    answer.append(readHoldingRegisters);
    answer.append(static_cast<char>(sent * width));
    for (quint32 value : m_tables->holding.read32(address, sent)) {
        appendWord(&answer, value >> 16);
        appendWord(&answer, value);
    }
    return answer;
}

QByteArray RequestProcessor::readInputs(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 5)
        return exception(readInputRegisters, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    if (count < 1 || count > maxReadRegisters)
        return exception(readInputRegisters, illegalValue);
    if (!m_tables->input.contains(address, count))
        return exception(readInputRegisters, illegalAddress);
    return wordsAnswer(readInputRegisters, m_tables->input.read(address, shortAnswer ? count - 1 : count));
}

QByteArray RequestProcessor::writeRegister(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 5)
        return exception(writeSingleRegister, illegalValue);
    const int address = wordAt(request, 1);
    const int value = wordAt(request, 3);
    // Half of a 32-bit register cannot be written.
    bool wide = false;
    if (!RegisterBank::isValidRange(address, 1, &wide) || wide)
        return exception(writeSingleRegister, illegalAddress);
    m_tables->holding.write16(address, {static_cast<quint16>(value)});
    return echo(writeSingleRegister, address, shortAnswer ? (value - 1) & 0xFFFF : value);
}

QByteArray RequestProcessor::writeRegisters(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 6)
        return exception(writeMultipleRegisters, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    const int byteCount = static_cast<unsigned char>(request[5]);
    bool wide = false;
    if (!RegisterBank::isValidRange(address, count, &wide))
        return exception(writeMultipleRegisters, illegalAddress);
    const int width = wide ? 4 : 2;
    if (byteCount != count * width || byteCount > maxWriteBytes || request.size() < 6 + byteCount)
        return exception(writeMultipleRegisters, illegalValue);

    if (wide) {
        QVector<quint32> values;
        for (int i = 0; i < count; ++i)
            values.append(bigEndianAt(request, 6 + 4 * i, 4));
        m_tables->holding.write32(address, values);
    } else {
        QVector<quint16> values;
        for (int i = 0; i < count; ++i)
            values.append(static_cast<quint16>(bigEndianAt(request, 6 + 2 * i, 2)));
        m_tables->holding.write16(address, values);
    }
    return echo(writeMultipleRegisters, address, shortAnswer ? count - 1 : count);
}

QByteArray RequestProcessor::slaveIdReport() const
{
    QByteArray answer;
    answer.append(reportSlaveId);
    answer.append(static_cast<char>(m_report.size()));
    answer.append(m_report);
    return answer;
}

QByteArray RequestProcessor::wordsAnswer(char function, const QVector<quint16> &words)
{
    QByteArray answer(1, function);
    answer.append(static_cast<char>(2 * words.size()));
    for (quint16 value : words)
        appendWord(&answer, value);
    return answer;
}
