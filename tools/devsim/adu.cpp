#include "adu.h"

namespace Adu {

QByteArray tcpFrame(const QByteArray &requestHeader, const QByteArray &pdu)
{
    const int length = pdu.size() + 1;
    QByteArray frame;
    frame.append(requestHeader.left(2)); // transaction id
    frame.append('\0');
    frame.append('\0');
    frame.append(static_cast<char>(length >> 8));
    frame.append(static_cast<char>(length));
    frame.append(requestHeader.at(6)); // unit id
    return frame + pdu;
}

quint16 crc16(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (char c : data) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<quint16>((crc >> 1) ^ 0xA001) : static_cast<quint16>(crc >> 1);
    }
    return crc;
}

QByteArray rtuFrame(quint8 slave, const QByteArray &pdu, bool brokenCrc)
{
    QByteArray frame;
    frame.append(static_cast<char>(slave));
    frame.append(pdu);
    quint16 crc = crc16(frame);
    if (brokenCrc)
        crc = static_cast<quint16>(~crc);
    frame.append(static_cast<char>(crc & 0xFF));
    frame.append(static_cast<char>(crc >> 8));
    return frame;
}

} // namespace Adu
