#include "httpconnectionhandler.h"

#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"

#include <QScopedValueRollback>
#include <QSettings>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

namespace {
bool isClose(const QByteArray &connectionHeader)
{
    return connectionHeader.toLower() == "close";
}

bool isFinal(const HttpRequest &request)
{
    return request.status() == HttpRequest::Complete || request.status() == HttpRequest::Aborted;
}
} // namespace

HttpConnectionHandler::HttpConnectionHandler(const QSettings *settings, HttpRequestHandler *requestHandler,
                                             const QSslConfiguration *sslConfiguration)
    : m_settings(new QSettings(settings->fileName(), settings->format(), this))
    , m_requestHandler(requestHandler)
    , m_sslConfiguration(sslConfiguration)
    , m_socket(nullptr)
    , m_readTimer(new QTimer(this))
{
    m_settings->beginGroup(settings->group());
    m_socket = createSocket();
    m_socket->setParent(this);
    // Moving the handler takes its children (socket, timer, settings) along.
    moveToThread(this);
    connect(m_socket, &QTcpSocket::readyRead, this, &HttpConnectionHandler::read);
    connect(m_socket, &QTcpSocket::disconnected, this, &HttpConnectionHandler::disconnected);
    connect(m_readTimer, &QTimer::timeout, this, &HttpConnectionHandler::readTimeout);
    m_readTimer->setSingleShot(true);
    start(QThread::InheritPriority);
}

HttpConnectionHandler::~HttpConnectionHandler()
{
    // A reply stuck on a client that does not read gives up; the quit is queued behind a
    // connection the listener may just have handed over, so that it is adopted and then
    // closed rather than left open and forgotten.
    requestInterruption();
    QMetaObject::invokeMethod(
        this, [this] { quit(); }, Qt::QueuedConnection);
    wait();
    // run() normally disposes of the socket in this handler's own thread; this only covers a
    // thread that never ran.
    if (!m_threadObjectsReleased.load(std::memory_order_acquire))
        releaseThreadObjects();
}

QTcpSocket *HttpConnectionHandler::createSocket()
{
    if (!m_sslConfiguration)
        return new QTcpSocket;
    qDebug("HttpConnectionHandler (%p): SSL is enabled", static_cast<void *>(this));
    auto *socket = new QSslSocket;
    socket->setSslConfiguration(*m_sslConfiguration);
    return socket;
}

void HttpConnectionHandler::run()
{
    try {
        exec();
    } catch (...) {
        qCritical("HttpConnectionHandler (%p): an uncatched exception occured in the thread",
                  static_cast<void *>(this));
    }
    if (m_socket)
        m_socket->close();
    releaseThreadObjects();
    m_threadObjectsReleased.store(true, std::memory_order_release);
}

void HttpConnectionHandler::releaseThreadObjects()
{
    m_currentRequest.reset();
    delete m_socket;
    m_socket = nullptr;
    delete m_readTimer;
    m_readTimer = nullptr;
    delete m_settings;
    m_settings = nullptr;
}

void HttpConnectionHandler::handleConnection(tSocketDescriptor socketDescriptor)
{
    m_busy.store(true);
    // Connecting to nowhere and aborting at once resets the reused socket completely,
    // including the encryption state of a TLS socket.
    m_socket->connectToHost(QString(), 0);
    m_socket->abort();
    if (!m_socket->setSocketDescriptor(socketDescriptor)) {
        qCritical("HttpConnectionHandler (%p): cannot initialize socket: %s", static_cast<void *>(this),
                  qPrintable(m_socket->errorString()));
        // No connection will ever report a disconnect here, so the handler frees itself.
        m_socket->abort();
        m_busy.store(false);
        return;
    }
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_sslConfiguration) {
        qDebug("HttpConnectionHandler (%p): Starting encryption", static_cast<void *>(this));
        static_cast<QSslSocket *>(m_socket)->startServerEncryption();
    }
    startReadTimer();
    m_currentRequest.reset();
}

void HttpConnectionHandler::startReadTimer()
{
    m_readTimer->start(m_settings->value(QStringLiteral("readTimeout"), 10000).toInt());
}

void HttpConnectionHandler::readTimeout()
{
    m_socket->flush();
    m_socket->disconnectFromHost();
    m_currentRequest.reset();
}

void HttpConnectionHandler::disconnected()
{
    m_socket->close();
    m_readTimer->stop();
    m_busy.store(false);
}

void HttpConnectionHandler::read()
{
    // Writing a reply can deliver more bytes of the connection; they are taken by the
    // loop below, not by a nested call. Nothing is read once the connection is closing.
    if (m_reading || m_socket->state() != QAbstractSocket::ConnectedState)
        return;
    QScopedValueRollback<bool> reading(m_reading, true);
    while (m_socket->bytesAvailable() > 0) {
        if (!m_currentRequest)
            m_currentRequest = newRequest();
        while (m_socket->bytesAvailable() > 0 && !isFinal(*m_currentRequest)) {
            m_currentRequest->readFromSocket(m_socket);
            if (m_currentRequest->status() == HttpRequest::AwaitingBody)
                startReadTimer();
        }
        if (m_currentRequest->status() == HttpRequest::Aborted) {
            rejectRequest();
            return;
        }
        if (m_currentRequest->status() != HttpRequest::Complete)
            return;
        m_readTimer->stop();
        const std::unique_ptr<HttpRequest> request = std::move(m_currentRequest);
        const bool replyCloses = serve(*request);
        if (replyCloses || isClose(request->header("Connection"))) {
            m_socket->flush();
            m_socket->disconnectFromHost();
            return;
        }
        // A reply framed by closing the connection ends it, whatever else was sent.
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        startReadTimer();
    }
}

std::unique_ptr<HttpRequest> HttpConnectionHandler::newRequest() const
{
    auto request = std::make_unique<HttpRequest>(m_settings);
    request->setConnection(m_socket->localPort(), m_sslConfiguration != nullptr);
    return request;
}

bool HttpConnectionHandler::serve(HttpRequest &request)
{
    HttpResponse response(m_socket);
    try {
        m_requestHandler->service(request, response);
    } catch (...) {
        qCritical("HttpConnectionHandler (%p): An uncatched exception occured in the request handler",
                  static_cast<void *>(this));
    }
    if (!response.hasSentLastPart())
        response.write(QByteArray(), true);
    // A handler that refuses a request can end the connection after its reply.
    return isClose(response.headers().value("Connection"));
}

void HttpConnectionHandler::rejectRequest()
{
    HttpResponse response(m_socket);
    response.refuseAsTooLarge();
    m_currentRequest.reset();
}
