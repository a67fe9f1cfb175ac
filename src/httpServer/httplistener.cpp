#include "httplistener.h"

#include "httpconnectionhandlerpool.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTcpSocket>

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
    const QHostAddress address = host.isEmpty() ? QHostAddress(QHostAddress::Any) : QHostAddress(host);
    if (QTcpServer::listen(address, port)) {
        qDebug("HttpListener: Listening on port %i", int(port));
    } else {
        qCritical("HttpListener: Cannot bind on port %i: %s", int(port), qPrintable(errorString()));
    }
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

void HttpListener::incomingConnection(qintptr socketDescriptor)
{
    HttpConnectionHandler *handler = m_pool ? m_pool->acquireHandler() : nullptr;
    if (!handler) {
        rejectConnection(socketDescriptor);
        return;
    }
    // Queued: the handler adopts the descriptor in its own thread.
    const QMetaObject::Connection link =
        connect(this, &HttpListener::handleConnection, handler, &HttpConnectionHandler::handleConnection);
    emit handleConnection(tSocketDescriptor(socketDescriptor));
    disconnect(link);
}

void HttpListener::rejectConnection(qintptr socketDescriptor)
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
