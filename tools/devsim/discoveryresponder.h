#ifndef DISCOVERYRESPONDER_H
#define DISCOVERYRESPONDER_H

#include <QHostAddress>
#include <QObject>

class QUdpSocket;

// What a simulated device tells a searching gateway about itself.
struct DiscoveryIdentity
{
    QString name = QStringLiteral("Vexo device simulator");
    QString mac = QStringLiteral("02:00:00:00:00:01");
    int modbusPort = 502;
    int unitId = 1;
};

// Answers network device searches: a datagram holding the single byte "D" on UDP port 30303
// gets back four lines (name, MAC, Modbus TCP port, unit id), so that the gateway can list
// this simulator and connect to it.
class DiscoveryResponder : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 defaultPort = 30303;

    explicit DiscoveryResponder(const DiscoveryIdentity &identity, QObject *parent = nullptr);

    bool start(const QHostAddress &address = QHostAddress(QHostAddress::AnyIPv4), quint16 port = defaultPort);
    QString errorString() const;
    static QByteArray answerFor(const DiscoveryIdentity &identity);

private:
    void answerRequests();

    DiscoveryIdentity m_identity;
    QUdpSocket *m_socket;
};

#endif // DISCOVERYRESPONDER_H
