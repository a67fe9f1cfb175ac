#ifndef HTTPREQUEST_H
#define HTTPREQUEST_H

#include <QByteArray>
#include <QMap>
#include <QMultiMap>
#include <QTemporaryFile>

#include <memory>

class QIODevice;
class QSettings;

// One HTTP request, parsed incrementally from the bytes of a connection. Limits come
// from the `listener` settings group; every violation ends in Aborted.
// Threads: made, filled and read on one connection thread.
class HttpRequest
{
    Q_DISABLE_COPY(HttpRequest)
public:
    enum RequestStatus
    {
        AwaitingRequestLine,
        AwaitingHeader,
        AwaitingBody,
        Complete,
        Aborted
    };

    explicit HttpRequest(const QSettings *settings);
    virtual ~HttpRequest();

    // Consumes bytes from the device; call while the status is neither Complete nor Aborted.
    void readFromSocket(QIODevice *socket);

    RequestStatus status() const;
    QByteArray method() const;
    QByteArray path() const; // URL-decoded, without the query string
    QByteArray rawPath() const;
    QByteArray version() const;
    QByteArray header(const QByteArray &name) const;
    QList<QByteArray> headerValues(const QByteArray &name) const;
    QMultiMap<QByteArray, QByteArray> headers() const;
    QByteArray parameter(const QByteArray &name) const;
    QList<QByteArray> parameterValues(const QByteArray &name) const;
    QMultiMap<QByteArray, QByteArray> parameters() const;
    QByteArray body() const;
    QTemporaryFile *uploadedFile(const QByteArray &fieldName) const;
    QByteArray cookie(const QByteArray &name) const;
    QMap<QByteArray, QByteArray> cookies() const;

    // The connection it arrived on: the server's own port, and whether it was encrypted.
    void setConnection(quint16 localPort, bool encrypted);
    quint16 localPort() const;
    bool isEncrypted() const;

    static QByteArray urlDecode(const QByteArray &source);

private:
    void readRequest(QIODevice *socket);
    void readHeader(QIODevice *socket);
    void readBody(QIODevice *socket);
    void readPlainBody(QIODevice *socket);
    void readMultiPartBody(QIODevice *socket);
    bool openBodyFile();
    bool readLine(QIODevice *socket, QByteArray &line);
    void appendLine(QIODevice *socket, qint64 maxSize);
    void finishHeaders();
    void abortTooManyBytes();
    void abortUnstorableBody();
    void decodeRequestParams();
    void extractCookies();
    void parseMultiPartFile();
    void readPartHeader(QByteArray &fieldName, QByteArray &fileName);
    bool readPartContent(const QByteArray &fieldName, const QByteArray &fileName);
    static QTemporaryFile *newUploadFile();
    void storeFormField(const QByteArray &fieldName, QByteArray value);
    void storeUploadedFile(const QByteArray &fieldName, const QByteArray &fileName, QTemporaryFile *upload);

    QMultiMap<QByteArray, QByteArray> m_headers;
    QMultiMap<QByteArray, QByteArray> m_parameters;
    QMap<QByteArray, QTemporaryFile *> m_uploadedFiles;
    QMap<QByteArray, QByteArray> m_cookies;
    QByteArray m_bodyData;
    QByteArray m_method;
    QByteArray m_path;
    QByteArray m_version;
    RequestStatus m_status = AwaitingRequestLine;
    qint64 m_maxSize = 0;
    qint64 m_maxMultiPartSize = 0;
    qint64 m_currentSize = 0;
    qint64 m_expectedBodySize = 0;
    QByteArray m_currentHeader;
    QByteArray m_boundary;
    // Made only when a multipart body arrives: resolving the temporary directory costs
    // system calls that every other request can do without.
    std::unique_ptr<QTemporaryFile> m_tempFile;
    QByteArray m_lineBuffer;
    quint16 m_localPort = 0;
    bool m_encrypted = false;
};

#endif // HTTPREQUEST_H
