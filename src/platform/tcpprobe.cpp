#include "tcpprobe.h"

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
