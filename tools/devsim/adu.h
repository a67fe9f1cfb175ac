#ifndef ADU_H
#define ADU_H

#include <QByteArray>

// Wraps a response PDU into the frame of the transport the request came on.
namespace Adu {
// Modbus TCP: the request's transaction and unit id, then the PDU.
QByteArray tcpFrame(const QByteArray &requestHeader, const QByteArray &pdu);
// Modbus RTU: slave address, PDU, CRC (low byte first); brokenCrc inverts the checksum.
QByteArray rtuFrame(quint8 slave, const QByteArray &pdu, bool brokenCrc);
quint16 crc16(const QByteArray &data);
} // namespace Adu

#endif // ADU_H
