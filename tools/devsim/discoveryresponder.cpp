#include "discoveryresponder.h"

#include <QUdpSocket>

namespace {
const QByteArray request(1, 'D');
}

DiscoveryResponder::DiscoveryResponder(const DiscoveryIdentity &identity, QObject *parent)
    : QObject(parent)
    , m_identity(identity)
    , m_socket(new QUdpSocket(this))
{
    connect(m_socket, &QUdpSocket::readyRead, this, &DiscoveryResponder::answerRequests);
}

bool DiscoveryResponder::start(const QHostAddress &address, quint16 port)
{
    // Shared, so that several simulators on one host can each answer.
    return m_socket->bind(address, port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
}

QString DiscoveryResponder::errorString() const
{
    return m_socket->errorString();
}

QByteArray DiscoveryResponder::answerFor(const DiscoveryIdentity &identity)
{
    return identity.name.toUtf8() + "\r\n" + identity.mac.toUtf8() + "\r\n" +
           QByteArray::number(identity.modbusPort) + "\r\n" + QByteArray::number(identity.unitId) + "\r\n";
}

void DiscoveryResponder::answerRequests()
{
    while (m_socket->hasPendingDatagrams()) {
        QByteArray datagram(static_cast<int>(qMax<qint64>(m_socket->pendingDatagramSize(), 0)), '\0');
        QHostAddress sender;
        quint16 senderPort = 0;
        const qint64 read = m_socket->readDatagram(datagram.data(), datagram.size(), &sender, &senderPort);
        if (read < 0)
            return;
        if (datagram.left(static_cast<int>(read)) == request)
            m_socket->writeDatagram(answerFor(m_identity), sender, senderPort);
    }
}
