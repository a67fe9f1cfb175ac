#include "devicefinder.h"

#include "childprogram.h"
#include "jsonwriter.h"

#include <QCoreApplication>
#include <QDebug>
#include <QNetworkInterface>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QUdpSocket>

#include <utility>

namespace {
const char *const helperProgram = "platforms/WinBroadcastHelper.exe";
const QByteArray requestDatagram(1, 'D');
const int firstBurstMs = 500;
const int secondBurstMs = 800;
const int defaultPort = 502;
const int defaultUnitId = 1;
const int answerLines = 4;
const QString mappedPrefix = QStringLiteral("::ffff:");

// A decimal text that is a positive integer, or the fallback.
qint32 positiveOr(const QString &text, qint32 fallback)
{
    bool ok = false;
    const qint32 value = text.toInt(&ok, 10);
    return ok && value > 0 ? value : fallback;
}

QString withoutMappedPrefix(const QString &ip)
{
    return ip.startsWith(mappedPrefix) ? ip.mid(mappedPrefix.size()) : ip;
}

void logLines(const QStringList &lines)
{
    // Written by hand: the list's own debug form differs between Qt versions.
    QDebug out = qDebug();
    out << "DeviceFinder parsed lines:";
    out.nospace() << '(';
    for (int i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out << ", ";
        out << lines.at(i);
    }
    out << ')';
}
} // namespace

DeviceFinder::DeviceFinder(QObject *parent)
    : QObject(parent)
    , m_helper(new ChildProgram(this))
{
    // Connection threads may be retired from the pool while a search still runs.
    connect(QThread::currentThread(), &QThread::finished, this, &DeviceFinder::leaveRetiringThread,
            Qt::DirectConnection);
    startHelper();
    createSockets();
    scheduleBurst(firstBurstMs);
    scheduleBurst(secondBurstMs);
}

void DeviceFinder::startHelper()
{
    // The helper is optional; whether it started is deliberately not checked.
    m_helper->start(QString::fromLatin1(helperProgram), QStringList());
}

void DeviceFinder::createSockets()
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &interface : interfaces) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) || !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        const QList<QNetworkAddressEntry> entries = interface.addressEntries();
        for (const QNetworkAddressEntry &entry : entries) {
            if (entry.ip().protocol() != QAbstractSocket::IPv4Protocol)
                continue;
            if (entry.ip().toString().startsWith(QLatin1String("169.254.")) || entry.broadcast().isNull())
                continue;
            createSocket(interface, entry);
        }
    }
}

void DeviceFinder::createSocket(const QNetworkInterface &interface, const QNetworkAddressEntry &entry)
{
    const QString localIp = entry.ip().toString();
    const QString interfaceName = interface.humanReadableName();
    auto *socket = new QUdpSocket(this);
    if (!socket->bind(entry.ip(), 0, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint)) {
        qDebug() << "DeviceFinder bind error:" << interfaceName << localIp << socket->errorString();
        socket->deleteLater();
        return;
    }
    const QString broadcast = entry.broadcast().toString();
    socket->setProperty("localIp", localIp);
    socket->setProperty("interfaceName", interfaceName);
    socket->setProperty("broadcast", broadcast);
    connect(socket, &QUdpSocket::readyRead, this, &DeviceFinder::processPendingDatagrams);
    m_sockets.append(socket);
    qDebug() << "DeviceFinder socket created:" << interfaceName << "local ip:" << localIp
             << "broadcast:" << broadcast;
}

void DeviceFinder::scheduleBurst(int delayMs)
{
    // Child timers rather than free single shots, so they follow the finder between threads.
    auto *timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &DeviceFinder::sendBroadcast);
    connect(timer, &QTimer::timeout, timer, &QObject::deleteLater);
    timer->start(delayMs);
}

void DeviceFinder::sendBroadcast()
{
    for (QUdpSocket *socket : std::as_const(m_sockets)) {
        const QString localIp = socket->property("localIp").toString();
        const QString interfaceName = socket->property("interfaceName").toString();
        const QString broadcast = socket->property("broadcast").toString();

        if (socket->writeDatagram(requestDatagram, QHostAddress(QHostAddress::Broadcast), discoveryPort) < 0)
            qDebug() << "DeviceFinder global broadcast error:" << interfaceName << "local ip:" << localIp
                     << socket->errorString();
        else
            qDebug() << "DeviceFinder global broadcast sent:" << interfaceName << "local ip:" << localIp
                     << "to:" << QStringLiteral("255.255.255.255");

        const QHostAddress subnet(broadcast);
        if (subnet.isNull())
            continue;
        if (socket->writeDatagram(requestDatagram, subnet, discoveryPort) < 0)
            qDebug() << "DeviceFinder subnet broadcast error:" << interfaceName << "local ip:" << localIp
                     << "to:" << broadcast << socket->errorString();
        else
            qDebug() << "DeviceFinder subnet broadcast sent:" << interfaceName << "local ip:" << localIp
                     << "to:" << broadcast;
    }
}

void DeviceFinder::processPendingDatagrams()
{
    auto *socket = qobject_cast<QUdpSocket *>(sender());
    if (!socket)
        return;
    while (socket->hasPendingDatagrams())
        readDatagram(socket);
}

void DeviceFinder::readDatagram(QUdpSocket *socket)
{
    QByteArray buffer(qMax<qint64>(socket->pendingDatagramSize(), 0), '\0');
    QHostAddress senderAddress;
    const qint64 read = socket->readDatagram(buffer.data(), buffer.size(), &senderAddress);
    if (read <= 0) {
        // A failed read leaves the datagram queued; stop rather than spin on it.
        if (read < 0)
            socket->close();
        return;
    }
    buffer.truncate(static_cast<int>(read));
    const QString senderText = senderAddress.toString();
    qDebug() << "DeviceFinder response from:" << senderText
             << "received on local ip:" << socket->property("localIp").toString()
             << "size:" << QString::number(read) << "raw hex:" << QString::fromLatin1(buffer.toHex());
    // Decoded whole: the QByteArray overload would stop at the first NUL byte.
    const QString payload = QString::fromUtf8(buffer.constData(), buffer.size());
    qDebug() << "DeviceFinder payload:" << payload;
    datagramToDevice(senderText, payload);
}

void DeviceFinder::datagramToDevice(const QString &sender, const QString &payload)
{
    if (const std::optional<FoundDevice> device = parseAnswer(sender, payload))
        addDevice(device->name, device->ip, device->port, device->mac, device->modbusid);
}

std::optional<FoundDevice> DeviceFinder::parseAnswer(const QString &sender, const QString &payload)
{
    QString cleaned = payload;
    cleaned.remove(QChar(0));
    cleaned = cleaned.trimmed();
    if (cleaned.isEmpty()) {
        qDebug() << "DeviceFinder empty datagram from:" << sender;
        return std::nullopt;
    }
    static const QRegularExpression lineBreaks(QStringLiteral("[\\r\\n]+"));
    QStringList lines = cleaned.split(lineBreaks, Qt::SkipEmptyParts);
    for (QString &line : lines)
        line = line.trimmed();
    logLines(lines);
    if (lines.size() < answerLines) {
        qDebug() << "DeviceFinder invalid response from:" << sender << "payload:" << cleaned;
        return std::nullopt;
    }
    const FoundDevice device{lines.at(0), sender, lines.at(1), positiveOr(lines.at(2), defaultPort),
                             positiveOr(lines.at(3), defaultUnitId)};
    qDebug() << "DeviceFinder parsed full device response:"
             << "name:" << device.name << "ip:" << sender << "mac:" << device.mac << "port:" << device.port
             << "id:" << device.modbusid;
    return device;
}

void DeviceFinder::addDevice(const QString &name, const QString &ip, qint32 port, const QString &mac,
                             qint32 modbusid)
{
    QMutexLocker locker(&m_devicesLock);
    if (m_collected)
        return;
    for (const FoundDevice &device : std::as_const(m_devices)) {
        if (device.ip == ip && device.mac == mac)
            return;
    }
    m_devices.append({name, ip, mac, port, modbusid});
}

QByteArray DeviceFinder::getSearchedDevices()
{
    QByteArray json;
    {
        QMutexLocker locker(&m_devicesLock);
        qDebug() << "DeviceFinder::getSearchedDevices() devices.size():" << m_devices.size();
        m_collected = true;
        json = devicesToJson();
    }
    // Sockets and the helper belong to the finder's thread; only that thread may close them.
    if (thread() == QThread::currentThread())
        stopSearching();
    else
        QMetaObject::invokeMethod(this, &DeviceFinder::stopSearching, Qt::QueuedConnection);
    qDebug() << "DeviceFinder JSON result:" << QString::fromUtf8(json);
    return json;
}

void DeviceFinder::stopSearching()
{
    m_helper->stop();
    // A closed socket would bind itself anew to any address on the next burst.
    const QList<QTimer *> bursts = findChildren<QTimer *>();
    for (QTimer *burst : bursts)
        burst->stop();
    for (QUdpSocket *socket : std::as_const(m_sockets))
        socket->close();
}

QByteArray DeviceFinder::devicesToJson() const
{
    JsonWriter json;
    json.beginArray();
    for (const FoundDevice &device : m_devices) {
        json.beginObject();
        json.name(QStringLiteral("ip")).string(withoutMappedPrefix(device.ip));
        json.name(QStringLiteral("mac")).string(device.mac);
        json.name(QStringLiteral("modbusid")).string(QString::number(device.modbusid));
        json.name(QStringLiteral("name")).string(device.name);
        json.name(QStringLiteral("port")).string(QString::number(device.port));
        json.endObject();
    }
    json.endArray();
    return json.json();
}

void DeviceFinder::leaveRetiringThread()
{
    // Runs on the finishing thread itself, the only thread allowed to push us elsewhere.
    // The application's thread keeps serving the sockets and timers, and the deferred
    // deletion that the collecting request will schedule.
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || thread() != QThread::currentThread() || thread() == app->thread())
        return;
    moveToThread(app->thread());
}
