#include "httplistener.h"

#include "httpconnectionhandlerpool.h"

#include <QCoreApplication>
#include <QHostInfo>
#include <QSettings>
#include <QTcpSocket>

#include <algorithm>

namespace {
const QByteArray tooManyConnectionsReply =
    "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";
}

HttpListener::HttpListener(QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent)
    : QTcpServer(parent)
    , m_settings(settings)
    , m_requestHandler(requestHandler)
{
    if (QCoreApplication::instance())
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &HttpListener::onAboutToQuit);
    qRegisterMetaType<tSocketDescriptor>("tSocketDescriptor");
    listen();
}

HttpListener::~HttpListener()
{
    close();
    qDebug("HttpListener: destroyed");
}

void HttpListener::listen()
{
    if (!m_pool)
        m_pool = new HttpConnectionHandlerPool(m_settings, m_requestHandler, this);
    const QString host = m_settings->value("host").toString();
    const quint16 port = quint16(m_settings->value("port").toUInt());
    QString lookupError;
    const QHostAddress address = bindAddress(host, lookupError);
    if (address.isNull()) {
        qCritical("HttpListener: Cannot bind on port %i: %s", int(port), qPrintable(lookupError));
        return;
    }
    if (QTcpServer::listen(address, port)) {
        // The port actually bound: with port 0 the system chose one.
        qDebug("HttpListener: Listening on port %i", int(serverPort()));
    } else {
        qCritical("HttpListener: Cannot bind on port %i: %s", int(port), qPrintable(errorString()));
    }
}

QHostAddress HttpListener::bindAddress(const QString &host, QString &error)
{
    if (host.isEmpty())
        return QHostAddress(QHostAddress::Any);
    const QHostAddress literal(host);
    if (!literal.isNull())
        return literal;
    // A name such as localhost: an unparsed address would bind every interface instead.
    const QHostInfo info = QHostInfo::fromName(host);
    const QList<QHostAddress> addresses = info.addresses();
    if (addresses.isEmpty()) {
        error = info.errorString();
        return QHostAddress();
    }
    const auto ipv4 = std::find_if(addresses.begin(), addresses.end(), [](const QHostAddress &a) {
        return a.protocol() == QAbstractSocket::IPv4Protocol;
    });
    return ipv4 != addresses.end() ? *ipv4 : addresses.first();
}

void HttpListener::close()
{
    qDebug("HttpListener::close() start");
    QTcpServer::close();
    qDebug("HttpListener: closed");
    delete m_pool;
    m_pool = nullptr;
    qDebug("HttpListener::close() end");
}

void HttpListener::onAboutToQuit()
{
    close();
}

void HttpListener::incomingConnection(tSocketDescriptor socketDescriptor)
{
    HttpConnectionHandler *handler = m_pool ? m_pool->acquireHandler() : nullptr;
    if (!handler) {
        rejectConnection(socketDescriptor);
        return;
    }
    // Queued: the handler adopts the descriptor in its own thread.
    const QMetaObject::Connection link =
        connect(this, &HttpListener::handleConnection, handler, &HttpConnectionHandler::handleConnection);
    emit handleConnection(socketDescriptor);
    disconnect(link);
}

void HttpListener::rejectConnection(tSocketDescriptor socketDescriptor)
{
    qDebug("HttpListener: Too many incoming connections, rejecting new connection.");
    auto *socket = new QTcpSocket(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    if (!socket->setSocketDescriptor(socketDescriptor)) {
        delete socket;
        return;
    }
    socket->write(tooManyConnectionsReply);
    socket->disconnectFromHost();
}
