#include "requestprocessor.h"

#include "registerbank.h"

namespace {
constexpr char readHolding = 0x03;
constexpr char writeMultiple = 0x10;
constexpr char reportId = 0x11;
constexpr char illegalFunction = 0x01;
constexpr char illegalAddress = 0x02;
constexpr char illegalValue = 0x03;
constexpr int maxReadBytes = 250;
constexpr int maxWriteBytes = 246;

int wordAt(const QByteArray &data, int at)
{
    return (static_cast<unsigned char>(data[at]) << 8) | static_cast<unsigned char>(data[at + 1]);
}

void appendWord(QByteArray *data, quint32 value)
{
    data->append(static_cast<char>(value >> 8));
    data->append(static_cast<char>(value));
}

QByteArray exception(char function, char code)
{
    QByteArray answer;
    answer.append(static_cast<char>(function | 0x80));
    answer.append(code);
    return answer;
}

quint32 bigEndianAt(const QByteArray &data, int at, int bytes)
{
    quint32 value = 0;
    for (int i = 0; i < bytes; ++i)
        value = (value << 8) | static_cast<unsigned char>(data[at + i]);
    return value;
}
} // namespace

RequestProcessor::RequestProcessor(RegisterBank *bank, const QByteArray &report)
    : m_bank(bank)
    , m_report(report)
{}

QByteArray RequestProcessor::process(const QByteArray &request, bool shortAnswer)
{
    if (request.isEmpty())
        return QByteArray();
    switch (request[0]) {
    case readHolding:
        return readRegisters(request, shortAnswer);
    case writeMultiple:
        return writeRegisters(request, shortAnswer);
    case reportId:
        return reportSlaveId();
    default:
        return exception(request[0], illegalFunction);
    }
}

QByteArray RequestProcessor::readRegisters(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 5)
        return exception(readHolding, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    bool wide = false;
    if (!RegisterBank::isValidRange(address, count, &wide))
        return exception(readHolding, illegalAddress);
    const int width = wide ? 4 : 2;
    if (count * width > maxReadBytes)
        return exception(readHolding, illegalValue);

    const int sent = shortAnswer ? count - 1 : count;
    QByteArray answer;
    answer.append(readHolding);
    answer.append(static_cast<char>(sent * width));
    if (wide) {
        for (quint32 value : m_bank->read32(address, sent)) {
            appendWord(&answer, value >> 16);
            appendWord(&answer, value);
        }
    } else {
        for (quint16 value : m_bank->read16(address, sent))
            appendWord(&answer, value);
    }
    return answer;
}

QByteArray RequestProcessor::writeRegisters(const QByteArray &request, bool shortAnswer)
{
    if (request.size() < 6)
        return exception(writeMultiple, illegalValue);
    const int address = wordAt(request, 1);
    const int count = wordAt(request, 3);
    const int byteCount = static_cast<unsigned char>(request[5]);
    bool wide = false;
    if (!RegisterBank::isValidRange(address, count, &wide))
        return exception(writeMultiple, illegalAddress);
    const int width = wide ? 4 : 2;
    if (byteCount != count * width || byteCount > maxWriteBytes || request.size() < 6 + byteCount)
        return exception(writeMultiple, illegalValue);

    if (wide) {
        QVector<quint32> values;
        for (int i = 0; i < count; ++i)
            values.append(bigEndianAt(request, 6 + 4 * i, 4));
        m_bank->write32(address, values);
    } else {
        QVector<quint16> values;
        for (int i = 0; i < count; ++i)
            values.append(static_cast<quint16>(bigEndianAt(request, 6 + 2 * i, 2)));
        m_bank->write16(address, values);
    }
    QByteArray answer;
    answer.append(writeMultiple);
    appendWord(&answer, address);
    appendWord(&answer, shortAnswer ? count - 1 : count);
    return answer;
}

QByteArray RequestProcessor::reportSlaveId() const
{
    QByteArray answer;
    answer.append(reportId);
    answer.append(static_cast<char>(m_report.size()));
    answer.append(m_report);
    return answer;
}
