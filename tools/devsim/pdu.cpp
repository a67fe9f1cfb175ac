#include "pdu.h"

namespace Pdu {

int byteAt(const QByteArray &data, int at)
{
    return static_cast<unsigned char>(data.at(at));
}

int wordAt(const QByteArray &data, int at)
{
    return (byteAt(data, at) << 8) | byteAt(data, at + 1);
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

QByteArray echo(char function, int address, int word)
{
    QByteArray answer(1, function);
    appendWord(&answer, quint32(address));
    appendWord(&answer, quint32(word));
    return answer;
}

} // namespace Pdu
