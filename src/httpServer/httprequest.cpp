#include "httprequest.h"

HttpRequest::HttpRequest(const QSettings *) {}
HttpRequest::~HttpRequest() = default;
void HttpRequest::readFromSocket(QIODevice *) {}
HttpRequest::RequestStatus HttpRequest::status() const { return m_status; }
QByteArray HttpRequest::method() const { return m_method; }
QByteArray HttpRequest::path() const { return m_path; }
QByteArray HttpRequest::rawPath() const { return m_path; }
QByteArray HttpRequest::version() const { return m_version; }
QByteArray HttpRequest::header(const QByteArray &name) const { return m_headers.value(name); }
QList<QByteArray> HttpRequest::headerValues(const QByteArray &name) const { return m_headers.values(name); }
QMultiMap<QByteArray, QByteArray> HttpRequest::headers() const { return m_headers; }
QByteArray HttpRequest::parameter(const QByteArray &name) const { return m_parameters.value(name); }
QList<QByteArray> HttpRequest::parameterValues(const QByteArray &name) const { return m_parameters.values(name); }
QMultiMap<QByteArray, QByteArray> HttpRequest::parameters() const { return m_parameters; }
QByteArray HttpRequest::body() const { return m_bodyData; }
QTemporaryFile *HttpRequest::uploadedFile(const QByteArray &name) const { return m_uploadedFiles.value(name); }
QByteArray HttpRequest::cookie(const QByteArray &name) const { return m_cookies.value(name); }
QMap<QByteArray, QByteArray> HttpRequest::cookies() const { return m_cookies; }
QByteArray HttpRequest::urlDecode(const QByteArray &source) { return source; }
