#include "httpresponse.h"

HttpResponse::HttpResponse(QTcpSocket *socket) : m_socket(socket) {}
void HttpResponse::setHeader(const QByteArray &name, const QByteArray &value) { m_headers.insert(name, value); }
void HttpResponse::setHeader(const QByteArray &name, int value) { m_headers.insert(name, QByteArray::number(value)); }
QMap<QByteArray, QByteArray> &HttpResponse::headers() { return m_headers; }
void HttpResponse::setStatus(int statusCode, const QByteArray &description)
{
    m_statusCode = statusCode;
    m_statusText = description;
}
int HttpResponse::getStatusCode() const { return m_statusCode; }
void HttpResponse::write(const QByteArray &, bool lastPart) { m_sentLastPart = lastPart; }
bool HttpResponse::hasSentLastPart() const { return m_sentLastPart; }
void HttpResponse::setCookie(const HttpCookie &cookie) { m_cookies.insert(cookie.getName(), cookie); }
QMap<QByteArray, HttpCookie> &HttpResponse::cookies() { return m_cookies; }
void HttpResponse::redirect(const QByteArray &) {}
