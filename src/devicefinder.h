#ifndef DEVICEFINDER_H
#define DEVICEFINDER_H

#include <QMutex>
#include <QObject>
#include <QVector>

#include <optional>

class ChildProgram;
class QNetworkAddressEntry;
class QNetworkInterface;
class QUdpSocket;

// One device that answered a search.
struct FoundDevice
{
    QString name;
    QString ip; // the sender as the socket reported it, possibly IPv4-mapped
    QString mac;
    qint32 port = 0;
    qint32 modbusid = 0;
};

// One UDP broadcast search for network devices.
// Threads: the finder, its sockets and its timers live on the connection thread that created
// it (the main thread once that thread is retired); the result may be collected from any.
class DeviceFinder : public QObject
{
    Q_OBJECT
public:
    static constexpr quint16 discoveryPort = 30303;

    explicit DeviceFinder(QObject *parent = nullptr);

    void datagramToDevice(const QString &sender, const QString &payload);
    // Reads one answer, logging as it goes; no device for an empty or short answer.
    // Needs no finder, so it can be tried without any network traffic.
    static std::optional<FoundDevice> parseAnswer(const QString &sender, const QString &payload);
    void addDevice(const QString &name, const QString &ip, qint32 port, const QString &mac, qint32 modbusid);
    // Thread-safe; ends the search. Answers that arrive afterwards are not listed.
    QByteArray getSearchedDevices();

public slots:
    void processPendingDatagrams();
    void sendBroadcast();

private:
    void startHelper();
    void createSockets();
    void createSocket(const QNetworkInterface &interface, const QNetworkAddressEntry &entry);
    void scheduleBurst(int delayMs);
    void readDatagram(QUdpSocket *socket);
    void stopSearching();
    void leaveRetiringThread();
    QByteArray devicesToJson() const;

    ChildProgram *m_helper;
    QList<QUdpSocket *> m_sockets;
    // Guards the records and the collected flag: the collecting request may run on
    // another connection thread than the one serving the sockets.
    mutable QMutex m_devicesLock;
    QVector<FoundDevice> m_devices;
    bool m_collected = false;
};

#endif // DEVICEFINDER_H
