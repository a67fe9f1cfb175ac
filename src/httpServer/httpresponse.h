#ifndef HTTPRESPONSE_H
#define HTTPRESPONSE_H

#include "httpcookie.h"

#include <QByteArray>
#include <QMap>

class QTcpSocket;

// Writes one HTTP response: status line, headers and cookies with the first write, then
// the body with Content-Length (one last part) or chunked coding (several parts).
// A chunk that is not the last waits until the next write, so that a short reply leaves
// together with its final chunk; at most one chunk waits at any time.
// Threads: used on the connection thread that made it; a write blocks that thread.
class HttpResponse
{
    Q_DISABLE_COPY(HttpResponse)
public:
    explicit HttpResponse(QTcpSocket *socket);
    ~HttpResponse();

    void setHeader(const QByteArray &name, const QByteArray &value);
    void setHeader(const QByteArray &name, int value);
    QMap<QByteArray, QByteArray> &headers();
    void setStatus(int statusCode, const QByteArray &description = QByteArray());
    void write(const QByteArray &data, bool lastPart = false);
    bool hasSentLastPart() const;
    void setCookie(const HttpCookie &cookie);
    QMap<QByteArray, HttpCookie> &cookies();
    void redirect(const QByteArray &url);
    // The one reply to every request too large to serve; it closes the connection.
    void refuseAsTooLarge();

private:
    void chooseFraming(const QByteArray &data, bool lastPart);
    QByteArray headerBytes() const;
    static void appendBody(QByteArray &out, const QByteArray &data, bool chunked, bool lastPart);
    bool isChunked() const;
    void sendPending();
    bool writeToSocket(const QByteArray &data);
    bool waitUntilWritten();
    bool isSocketOpen() const;

    QMap<QByteArray, QByteArray> m_headers;
    QTcpSocket *m_socket;
    int m_statusCode = 200;
    QByteArray m_statusText = "OK";
    bool m_sentHeaders = false;
    bool m_sentLastPart = false;
    QMap<QByteArray, HttpCookie> m_cookies;
    QByteArray m_pending;
};

#endif // HTTPRESPONSE_H
