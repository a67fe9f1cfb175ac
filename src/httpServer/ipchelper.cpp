#include "ipchelper.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDesktopServices>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSettings>
#include <QTimer>
#include <QUrl>

namespace {
// Commands are single short words; a client that floods us is read in bounded pieces.
constexpr qint64 kReadBufferSize = 4096;
constexpr int kDefaultShowPort = 8088;
} // namespace

IpcHelper::IpcHelper(QLocalServer *server, const QString &configPath, QObject *parent)
    : QObject(parent)
    , m_server(server)
    , m_configPath(configPath)
{}

QString IpcHelper::serverName()
{
    return QStringLiteral("VexoAdmin-ipc");
}

bool IpcHelper::startListening(QLocalServer *server)
{
    QLocalServer::removeServer(serverName());
    if (!server->listen(serverName())) {
        qDebug() << "[1st] IPC listen FAILED:" << server->errorString() << " name=" << serverName();
        return false;
    }
    qDebug() << "[1st] IPC listening as" << serverName();
    return true;
}

void IpcHelper::onNewConnection()
{
    QLocalSocket *client = m_server->nextPendingConnection();
    if (!client)
        return;
    // Earlier clients stay connected; each one is cleaned up when it goes away.
    m_client = client;
    client->setReadBufferSize(kReadBufferSize);
    connect(client, &QLocalSocket::readyRead, this, &IpcHelper::onReadyRead);
    connect(client, &QLocalSocket::disconnected, this, &IpcHelper::onDisconnected);
}

void IpcHelper::onReadyRead()
{
    if (QLocalSocket *client = signallingClient())
        execute(client->readAll().trimmed());
}

void IpcHelper::onDisconnected()
{
    QLocalSocket *client = signallingClient();
    if (!client)
        return;
    if (client == m_client)
        m_client = nullptr;
    client->deleteLater();
}

QLocalSocket *IpcHelper::signallingClient() const
{
    // The client whose signal we serve; without a signal sender, the current one.
    auto *client = qobject_cast<QLocalSocket *>(sender());
    return client ? client : m_client;
}

void IpcHelper::execute(const QByteArray &command)
{
    qDebug() << "[1st] IPC cmd =" << command;
    if (command == "shutdown" || command == "restart") {
        qDebug() << "[1st] Otrzymano" << command << "→ quit()";
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    } else if (command == "show") {
        openBrowserAtConfiguredPort();
    }
}

void IpcHelper::openBrowserAtConfiguredPort()
{
    const QSettings settings(m_configPath, QSettings::IniFormat);
    const int port = settings.value("listener/port", kDefaultShowPort).toInt();
    QDesktopServices::openUrl(QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port)));
}
