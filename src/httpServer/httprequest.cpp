#include "httprequest.h"

#include "httpcookie.h"

#include <QDebug>
#include <QIODevice>
#include <QSettings>

#include <algorithm>
#include <limits>
#include <utility>

namespace {
// Longest line read from a multipart body in one piece, and the largest piece of body
// taken from the socket at once.
const qint64 multipartChunkSize = 65536;
// Parts of one multipart body that are kept; the rest is dropped unread.
const int maxMultipartParts = 100;

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The text between `opening` and the next double quote, or nothing when either is missing.
QByteArray quotedAttribute(const QByteArray &line, const QByteArray &opening)
{
    const auto start = line.indexOf(opening);
    if (start < 0)
        return QByteArray();
    const auto valueStart = start + opening.size();
    const auto end = line.indexOf('"', valueStart);
    if (end < 0)
        return QByteArray();
    return line.mid(valueStart, end - valueStart);
}

void chopLineBreak(QByteArray &value)
{
    value.chop(2);
}

// The body size a Content-Length announces. A negative length is as meaningless as a
// non-number (0); digits too many for 64 bits announce more than any limit allows.
qint64 announcedBodySize(const QByteArray &contentLength)
{
    bool ok = false;
    const qint64 size = contentLength.toLongLong(&ok);
    if (ok)
        return qMax<qint64>(0, size);
    const bool allDigits =
        !contentLength.isEmpty() &&
        std::all_of(contentLength.begin(), contentLength.end(), [](char c) { return c >= '0' && c <= '9'; });
    return allDigits ? std::numeric_limits<qint64>::max() : 0;
}

// A line ends at a line feed or a carriage return; a carriage return that is the last byte
// read so far waits for the line feed that normally follows it, else a CR LF split between
// two reads would end the headers early.
bool isLineComplete(const QByteArray &buffer)
{
    if (buffer.contains('\n'))
        return true;
    const auto cr = buffer.indexOf('\r');
    return cr >= 0 && cr < buffer.size() - 1;
}
} // namespace

HttpRequest::HttpRequest(const QSettings *settings)
{
    m_maxSize = settings->value(QStringLiteral("maxRequestSize"), QStringLiteral("16000")).toLongLong();
    m_maxMultiPartSize =
        settings->value(QStringLiteral("maxMultiPartSize"), QStringLiteral("1000000")).toLongLong();
}

HttpRequest::~HttpRequest()
{
    for (QTemporaryFile *file : std::as_const(m_uploadedFiles)) {
        file->close();
        delete file;
    }
}

void HttpRequest::readFromSocket(QIODevice *socket)
{
    switch (m_status) {
    case AwaitingRequestLine:
        readRequest(socket);
        break;
    case AwaitingHeader:
        readHeader(socket);
        break;
    case AwaitingBody:
        readBody(socket);
        break;
    case Complete:
    case Aborted:
        return;
    }
    const qint64 limit = m_boundary.isEmpty() ? m_maxSize : m_maxMultiPartSize;
    if (m_currentSize > limit)
        abortTooManyBytes();
    if (m_status == Complete) {
        decodeRequestParams();
        extractCookies();
    }
}

void HttpRequest::abortTooManyBytes()
{
    qWarning("HttpRequest: received too many bytes");
    m_status = Aborted;
}

bool HttpRequest::readLine(QIODevice *socket, QByteArray &line)
{
    // A line read asks for one byte more than still fits; the device returns one byte
    // less than asked, so at least two must be asked for to make progress at all.
    const qint64 allowed = m_maxSize - m_currentSize + 1;
    if (allowed < 2) {
        abortTooManyBytes();
        return false;
    }
    // Never more than is there: a line read sets aside room for as many bytes as it asks for.
    appendLine(socket, qMin(allowed, qMax<qint64>(2, socket->bytesAvailable() + 1)));
    m_currentSize += m_lineBuffer.size();
    if (!isLineComplete(m_lineBuffer))
        return false;
    line = m_lineBuffer.trimmed();
    m_lineBuffer.clear();
    return true;
}

void HttpRequest::appendLine(QIODevice *socket, qint64 maxSize)
{
    const auto kept = m_lineBuffer.size();
    m_lineBuffer.resize(kept + int(maxSize));
    const qint64 read = socket->readLine(m_lineBuffer.data() + kept, maxSize);
    m_lineBuffer.resize(kept + int(qMax<qint64>(0, read)));
}

void HttpRequest::readRequest(QIODevice *socket)
{
    QByteArray line;
    if (!readLine(socket, line) || line.isEmpty())
        return;
    const QList<QByteArray> parts = line.split(' ');
    if (parts.size() != 3 || !parts.at(2).contains("HTTP")) {
        qWarning("HttpRequest: received broken HTTP request, invalid first line");
        m_status = Aborted;
        return;
    }
    m_method = parts.at(0).trimmed();
    m_path = parts.at(1);
    m_version = parts.at(2);
    m_status = AwaitingHeader;
}

void HttpRequest::readHeader(QIODevice *socket)
{
    QByteArray line;
    if (!readLine(socket, line))
        return;
    const auto colon = line.indexOf(':');
    if (colon > 0) {
        m_currentHeader = line.left(colon);
        m_headers.insert(m_currentHeader, line.mid(colon + 1).trimmed());
    } else if (!line.isEmpty()) {
        // A continuation line extends the last header seen.
        if (m_headers.contains(m_currentHeader))
            m_headers.insert(m_currentHeader, m_headers.value(m_currentHeader) + ' ' + line);
    } else {
        finishHeaders();
    }
}

void HttpRequest::finishHeaders()
{
    const QByteArray contentType = header("Content-Type");
    if (contentType.startsWith("multipart/form-data")) {
        const auto marker = contentType.indexOf("boundary=");
        if (marker >= 0)
            m_boundary = contentType.mid(marker + int(sizeof("boundary=")) - 1);
    }
    if (m_headers.contains("Content-Length"))
        m_expectedBodySize = announcedBodySize(header("Content-Length"));
    if (m_expectedBodySize == 0) {
        m_status = Complete;
    } else if (m_boundary.isEmpty()) {
        // Compared as what is left, so that a length near the top of the range cannot overflow.
        if (m_expectedBodySize > m_maxSize - m_currentSize) {
            qWarning("HttpRequest: expected body is too large");
            m_status = Aborted;
        } else {
            m_status = AwaitingBody;
        }
    } else if (m_expectedBodySize > m_maxMultiPartSize) {
        qWarning("HttpRequest: expected multipart body is too large");
        m_status = Aborted;
    } else {
        m_status = AwaitingBody;
    }
}

void HttpRequest::readBody(QIODevice *socket)
{
    if (m_boundary.isEmpty())
        readPlainBody(socket);
    else
        readMultiPartBody(socket);
}

void HttpRequest::readPlainBody(QIODevice *socket)
{
    const QByteArray piece = socket->read(m_expectedBodySize - m_bodyData.size());
    m_currentSize += piece.size();
    m_bodyData += piece;
    if (m_bodyData.size() >= m_expectedBodySize)
        m_status = Complete;
}

void HttpRequest::readMultiPartBody(QIODevice *socket)
{
    // A body that cannot be stored could never complete: it is refused instead of left to
    // the read time-out.
    if (!openBodyFile()) {
        abortUnstorableBody();
        return;
    }
    const qint64 wanted = qMin(m_expectedBodySize - m_tempFile->size(), multipartChunkSize);
    const QByteArray piece = socket->read(wanted);
    if (m_tempFile->write(piece) != piece.size()) {
        abortUnstorableBody();
        return;
    }
    const qint64 stored = m_tempFile->size();
    if (stored >= m_maxMultiPartSize) {
        qWarning("HttpRequest: received too many multipart bytes");
        m_status = Aborted;
    } else if (stored >= m_expectedBodySize) {
        m_tempFile->flush();
        if (m_tempFile->error() != QFileDevice::NoError)
            qCritical("HttpRequest: Error writing temp file for multipart body");
        parseMultiPartFile();
        m_tempFile->close();
        m_status = Complete;
    }
}

bool HttpRequest::openBodyFile()
{
    if (!m_tempFile)
        m_tempFile = std::make_unique<QTemporaryFile>();
    return m_tempFile->isOpen() || m_tempFile->open();
}

void HttpRequest::abortUnstorableBody()
{
    qCritical("HttpRequest: Error writing temp file for multipart body");
    m_status = Aborted;
}

void HttpRequest::parseMultiPartFile()
{
    qDebug("HttpRequest: parsing multipart temp file");
    m_tempFile->seek(0);
    bool finished = false;
    int parts = 0;
    while (!m_tempFile->atEnd() && !finished && m_tempFile->error() == QFileDevice::NoError) {
        // Each file part holds a file open until the request ends: a body of thousands of
        // small parts would run the process out of file handles.
        if (parts++ == maxMultipartParts) {
            qWarning("HttpRequest: more than %i multipart parts, the rest is dropped", maxMultipartParts);
            break;
        }
        QByteArray fieldName;
        QByteArray fileName;
        readPartHeader(fieldName, fileName);
        finished = readPartContent(fieldName, fileName);
    }
    if (m_tempFile->error() != QFileDevice::NoError) {
        qCritical("HttpRequest: cannot read temp file, %s", qPrintable(m_tempFile->errorString()));
        qDebug() << "HttpRequest: cannot read temp file:" << m_tempFile->errorString();
    }
}

void HttpRequest::readPartHeader(QByteArray &fieldName, QByteArray &fileName)
{
    while (!m_tempFile->atEnd() && m_tempFile->error() == QFileDevice::NoError) {
        const QByteArray line = m_tempFile->readLine(multipartChunkSize).trimmed();
        if (line.isEmpty())
            return;
        if (!line.startsWith("Content-Disposition:"))
            continue;
        if (line.contains("form-data")) {
            fieldName = quotedAttribute(line, " name=\"");
            fileName = quotedAttribute(line, " filename=\"");
        } else {
            qDebug("HttpRequest: ignoring unsupported content part %s", line.constData());
        }
    }
}

bool HttpRequest::readPartContent(const QByteArray &fieldName, const QByteArray &fileName)
{
    const bool isFormField = !fieldName.isEmpty() && fileName.isEmpty();
    const bool isFileField = !fieldName.isEmpty() && !fileName.isEmpty();
    const QByteArray delimiter = "--" + m_boundary;
    QByteArray fieldValue;
    QTemporaryFile *upload = nullptr;
    while (!m_tempFile->atEnd() && m_tempFile->error() == QFileDevice::NoError) {
        const QByteArray line = m_tempFile->readLine(multipartChunkSize);
        if (line.startsWith(delimiter)) {
            if (isFormField)
                storeFormField(fieldName, fieldValue);
            else if (isFileField)
                storeUploadedFile(fieldName, fileName, upload);
            return line.contains(m_boundary + "--");
        }
        if (isFormField) {
            fieldValue += line;
            m_currentSize += line.size();
        } else if (isFileField) {
            if (!upload)
                upload = newUploadFile();
            if (upload->write(line) < 0)
                qCritical("HttpRequest: error writing temp file, %s", qPrintable(upload->errorString()));
        }
    }
    // The body ended without a closing delimiter: what was read of this part is dropped.
    delete upload;
    return false;
}

QTemporaryFile *HttpRequest::newUploadFile()
{
    auto *upload = new QTemporaryFile;
    if (!upload->open())
        qCritical("HttpRequest: error writing temp file, %s", qPrintable(upload->errorString()));
    return upload;
}

void HttpRequest::storeFormField(const QByteArray &fieldName, QByteArray value)
{
    chopLineBreak(value);
    m_parameters.insert(fieldName, value);
    qDebug("HttpRequest: set parameter %s=%s", fieldName.constData(), value.constData());
}

void HttpRequest::storeUploadedFile(const QByteArray &fieldName, const QByteArray &fileName,
                                    QTemporaryFile *upload)
{
    if (!upload)
        upload = newUploadFile();
    upload->resize(qMax<qint64>(0, upload->size() - 2));
    upload->flush();
    upload->seek(0);
    m_parameters.insert(fieldName, fileName);
    // A second file under the same field name replaces the first; its file goes now.
    delete m_uploadedFiles.value(fieldName);
    m_uploadedFiles.insert(fieldName, upload);
    qDebug("HttpRequest: set parameter %s=%s", fieldName.constData(), fileName.constData());
    qDebug("HttpRequest: uploaded file size is %i", int(upload->size()));
}

void HttpRequest::decodeRequestParams()
{
    QByteArray query;
    const auto questionMark = m_path.indexOf('?');
    if (questionMark >= 0) {
        query = m_path.mid(questionMark + 1);
        m_path = m_path.left(questionMark);
    }
    const QByteArray contentType = header("Content-Type");
    if (!m_bodyData.isEmpty() &&
        (contentType.isEmpty() || contentType.startsWith("application/x-www-form-urlencoded"))) {
        if (!query.isEmpty())
            query += '&';
        query += m_bodyData;
    }
    const QList<QByteArray> pieces = query.split('&');
    for (const QByteArray &piece : pieces) {
        const auto equals = piece.indexOf('=');
        if (equals >= 0) {
            m_parameters.insert(urlDecode(piece.left(equals).trimmed()),
                                urlDecode(piece.mid(equals + 1).trimmed()));
        } else if (!piece.isEmpty()) {
            m_parameters.insert(urlDecode(piece), QByteArray());
        }
    }
}

void HttpRequest::extractCookies()
{
    // Headers of one name are listed newest first; take them in the order they arrived so
    // that a later cookie replaces an earlier one.
    const QList<QByteArray> cookieHeaders = m_headers.values("Cookie");
    for (auto header = cookieHeaders.crbegin(); header != cookieHeaders.crend(); ++header) {
        const QList<QByteArray> pieces = HttpCookie::splitCookieList(*header);
        for (const QByteArray &piece : pieces) {
            const auto equals = piece.indexOf('=');
            if (equals == 0)
                m_cookies.insert(piece.trimmed(), QByteArray());
            else if (equals < 0)
                m_cookies.insert(piece, piece);
            else
                m_cookies.insert(piece.left(equals).trimmed(), piece.mid(equals + 1).trimmed());
        }
    }
    m_headers.remove("Cookie");
}

HttpRequest::RequestStatus HttpRequest::status() const
{
    return m_status;
}
QByteArray HttpRequest::method() const
{
    return m_method;
}
QByteArray HttpRequest::path() const
{
    return urlDecode(m_path);
}
QByteArray HttpRequest::rawPath() const
{
    return m_path;
}
QByteArray HttpRequest::version() const
{
    return m_version;
}
QByteArray HttpRequest::header(const QByteArray &name) const
{
    return m_headers.value(name);
}
QList<QByteArray> HttpRequest::headerValues(const QByteArray &name) const
{
    return m_headers.values(name);
}
QMultiMap<QByteArray, QByteArray> HttpRequest::headers() const
{
    return m_headers;
}
QByteArray HttpRequest::parameter(const QByteArray &name) const
{
    return m_parameters.value(name);
}
QList<QByteArray> HttpRequest::parameterValues(const QByteArray &name) const
{
    return m_parameters.values(name);
}
QMultiMap<QByteArray, QByteArray> HttpRequest::parameters() const
{
    return m_parameters;
}
QByteArray HttpRequest::body() const
{
    return m_bodyData;
}
QByteArray HttpRequest::cookie(const QByteArray &name) const
{
    return m_cookies.value(name);
}
QMap<QByteArray, QByteArray> HttpRequest::cookies() const
{
    return m_cookies;
}

void HttpRequest::setConnection(quint16 localPort, bool encrypted)
{
    m_localPort = localPort;
    m_encrypted = encrypted;
}
quint16 HttpRequest::localPort() const
{
    return m_localPort;
}
bool HttpRequest::isEncrypted() const
{
    return m_encrypted;
}

QTemporaryFile *HttpRequest::uploadedFile(const QByteArray &fieldName) const
{
    QTemporaryFile *file = m_uploadedFiles.value(fieldName);
    if (file)
        file->seek(0);
    return file;
}

QByteArray HttpRequest::urlDecode(const QByteArray &source)
{
    QByteArray decoded = source;
    decoded.replace('+', ' ');
    auto percent = decoded.indexOf('%');
    while (percent >= 0) {
        const int high = percent + 1 < decoded.size() ? hexDigitValue(decoded.at(percent + 1)) : -1;
        const int low = percent + 2 < decoded.size() ? hexDigitValue(decoded.at(percent + 2)) : -1;
        if (high >= 0 && low >= 0)
            decoded.replace(percent, 3, QByteArray(1, char(high * 16 + low)));
        percent = decoded.indexOf('%', percent + 1);
    }
    return decoded;
}
