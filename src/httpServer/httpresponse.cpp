#include "httpresponse.h"

#include <QTcpSocket>
#include <QThread>

namespace {
const int writeWaitSliceMs = 500;
}

HttpResponse::HttpResponse(QTcpSocket *socket)
    : m_socket(socket)
{}

HttpResponse::~HttpResponse()
{
    // A response left unfinished still delivers what it was given.
    sendPending();
}

void HttpResponse::setHeader(const QByteArray &name, const QByteArray &value)
{
    m_headers.insert(name, value);
}

void HttpResponse::setHeader(const QByteArray &name, int value)
{
    m_headers.insert(name, QByteArray::number(value));
}

QMap<QByteArray, QByteArray> &HttpResponse::headers()
{
    return m_headers;
}

void HttpResponse::setStatus(int statusCode, const QByteArray &description)
{
    m_statusCode = statusCode;
    m_statusText = description;
}

bool HttpResponse::hasSentLastPart() const
{
    return m_sentLastPart;
}

void HttpResponse::setCookie(const HttpCookie &cookie)
{
    if (!cookie.getName().isEmpty())
        m_cookies.insert(cookie.getName(), cookie);
}

QMap<QByteArray, HttpCookie> &HttpResponse::cookies()
{
    return m_cookies;
}

void HttpResponse::redirect(const QByteArray &url)
{
    setStatus(303, "See Other");
    setHeader("Location", url);
    write("Redirect", true);
}

void HttpResponse::refuseAsTooLarge()
{
    setStatus(413, "entity too large");
    setHeader("Connection", "close");
    write("413 Entity too large\r\n", true);
}

void HttpResponse::write(const QByteArray &data, bool lastPart)
{
    if (m_sentLastPart)
        return;
    // The headers travel together with the first piece of body: one write, one packet
    // for a small reply.
    QByteArray out;
    if (!m_sentHeaders) {
        chooseFraming(data, lastPart);
        out = headerBytes();
        m_sentHeaders = true;
    }
    const bool chunked = isChunked();
    appendBody(out, data, chunked, lastPart);
    if (chunked && !lastPart) {
        // Held back until the next write: the final chunk is a write of its own otherwise.
        // Sending the previous piece first keeps a long body flowing block by block.
        if (!out.isEmpty()) {
            sendPending();
            m_pending = out;
        }
        return;
    }
    m_pending += out;
    sendPending();
    // Without a length only the end of the connection tells where the body ends.
    if (lastPart && !chunked && !m_headers.contains("Content-Length"))
        m_socket->disconnectFromHost();
    m_sentLastPart = lastPart;
}

void HttpResponse::appendBody(QByteArray &out, const QByteArray &data, bool chunked, bool lastPart)
{
    if (!chunked) {
        out += data;
        return;
    }
    out.reserve(out.size() + data.size() + 32);
    if (!data.isEmpty()) {
        out += QByteArray::number(data.size(), 16);
        out += "\r\n";
        out += data;
        out += "\r\n";
    }
    if (lastPart)
        out += "0\r\n\r\n";
}

bool HttpResponse::isChunked() const
{
    const QByteArray transferEncoding = m_headers.value("Transfer-Encoding");
    return transferEncoding == "chunked" || transferEncoding == "Chunked";
}

void HttpResponse::sendPending()
{
    if (m_pending.isEmpty())
        return;
    writeToSocket(m_pending);
    m_pending.clear();
}

void HttpResponse::chooseFraming(const QByteArray &data, bool lastPart)
{
    const QByteArray connection = m_headers.value("Connection");
    if (m_headers.contains("Content-Length") || m_headers.contains("Transfer-Encoding") ||
        connection == "close" || connection == "Close")
        return;
    if (lastPart)
        setHeader("Content-Length", QByteArray::number(data.size()));
    else
        setHeader("Transfer-Encoding", "chunked");
}

QByteArray HttpResponse::headerBytes() const
{
    // Appended in place: concatenating temporaries cost an allocation per header.
    QByteArray head;
    head.reserve(512);
    head += "HTTP/1.1 ";
    head += QByteArray::number(m_statusCode);
    head += ' ';
    head += m_statusText;
    head += "\r\n";
    for (auto it = m_headers.constBegin(); it != m_headers.constEnd(); ++it) {
        head += it.key();
        head += ": ";
        head += it.value();
        head += "\r\n";
    }
    for (const HttpCookie &cookie : m_cookies) {
        head += "Set-Cookie: ";
        head += cookie.headerText();
        head += "\r\n";
    }
    head += "\r\n";
    return head;
}

bool HttpResponse::writeToSocket(const QByteArray &data)
{
    qint64 sent = 0;
    while (sent < data.size() && isSocketOpen()) {
        // Keep at most one piece queued: a slow client stalls only its own thread and
        // never makes the server buffer a whole large reply.
        if (!waitUntilWritten())
            return false;
        if (!isSocketOpen())
            return false;
        const qint64 accepted = m_socket->write(data.constData() + sent, data.size() - sent);
        if (accepted <= 0)
            return false;
        sent += accepted;
    }
    m_socket->flush();
    return sent == data.size();
}

bool HttpResponse::waitUntilWritten()
{
    // No time limit for a slow client, but a thread that is told to end (the server is
    // closing) stops waiting, or closing would hang on a client that no longer reads.
    while (m_socket->bytesToWrite() > 0 && isSocketOpen()) {
        if (QThread::currentThread()->isInterruptionRequested()) {
            m_socket->abort();
            return false;
        }
        if (!m_socket->waitForBytesWritten(writeWaitSliceMs) &&
            m_socket->error() != QAbstractSocket::SocketTimeoutError)
            return false;
    }
    return true;
}

bool HttpResponse::isSocketOpen() const
{
    return m_socket->isOpen() && m_socket->state() == QAbstractSocket::ConnectedState;
}
