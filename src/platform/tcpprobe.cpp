#include "tcpprobe.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QTcpSocket>

bool TcpProbe::reachable(const QString &address, quint16 port, int timeoutMs)
{
    QTcpSocket probe;
    probe.connectToHost(address, port, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    if (!probe.waitForConnected(timeoutMs))
        return false;
    probe.close();
    return true;
}

QString TcpProbe::numericAddress(const QString &host)
{
    const QHostAddress numeric(host);
    if (!numeric.isNull())
        return numeric.toString();
    const QList<QHostAddress> addresses = QHostInfo::fromName(host).addresses();
    for (const QHostAddress &address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address.toString();
    }
    return addresses.isEmpty() ? QString() : addresses.first().toString();
}
