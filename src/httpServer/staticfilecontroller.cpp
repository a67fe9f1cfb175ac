#include "staticfilecontroller.h"

#include "httprequest.h"
#include "httpresponse.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <climits>

namespace {
const qint64 blockSize = 65536;

qint64 readNumber(const QSettings *settings, const char *key, const char *defaultValue)
{
    return settings->value(key, defaultValue).toLongLong();
}

// A request path that would reach outside the document root. The root is joined to the
// path as text, so a path without its leading slash would name a sibling of the root
// ("GET ../config.ini" or "GET .old/x" beside "www"). On Windows the backslash separates
// path parts as well, so it may not be used to climb either.
bool leavesDocRoot(const QByteArray &path)
{
#ifdef Q_OS_WIN
    if (path.contains("\\.."))
        return true;
#endif
    return !path.startsWith('/') || path.contains("/..");
}
} // namespace

StaticFileController::StaticFileController(const QSettings *settings, QObject *parent)
    : HttpRequestHandler(parent)
    , m_encoding(settings->value("encoding", "UTF-8").toString().toUtf8())
    , m_docRoot(resolveDocRoot(settings))
    , m_maxAge(readNumber(settings, "maxAge", "60000"))
    , m_cacheTime(readNumber(settings, "cacheTime", "60000"))
    , m_maxCachedFileSize(readNumber(settings, "maxCachedFileSize", "65536"))
{
    const qint64 cacheSize = readNumber(settings, "cacheSize", "1000000");
    m_cache.setMaxCost(static_cast<int>(std::clamp<qint64>(cacheSize, 0, INT_MAX)));
}

QString StaticFileController::resolveDocRoot(const QSettings *settings)
{
    const QString path = settings->value("path", ".").toString();
    if (path.startsWith(QLatin1String(":/")) || path.startsWith(QLatin1String("qrc://")))
        return path;
    if (QFileInfo(path).isRelative() && settings->format() != QSettings::NativeFormat) {
        const QString configDir = QFileInfo(settings->fileName()).absolutePath();
        return QDir::cleanPath(QDir(configDir).absoluteFilePath(path));
    }
    // Without a trailing separator the root and the request path join as designed.
    return QDir::cleanPath(path);
}

void StaticFileController::service(HttpRequest &request, HttpResponse &response)
{
    const QByteArray path = request.path();
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (serveFromCache(path, now, response))
        return;
    if (leavesDocRoot(path)) {
        qWarning("StaticFileController: detected forbidden characters in path %s", path.constData());
        refuse(response);
        return;
    }
    serveFile(path, now, response);
}

bool StaticFileController::serveFromCache(const QByteArray &path, qint64 now, HttpResponse &response)
{
    QByteArray document;
    QByteArray fileName;
    {
        QMutexLocker locker(&m_mutex);
        const CacheEntry *entry = m_cache.object(path);
        if (!entry || (m_cacheTime != 0 && entry->created <= now - m_cacheTime))
            return false;
        document = entry->document;
        fileName = entry->fileName;
    }
    applyContentType(fileName, response);
    applyCacheControl(response);
    response.write(document);
    return true;
}

void StaticFileController::serveFile(const QByteArray &requestPath, qint64 now, HttpResponse &response)
{
    QByteArray path = requestPath;
    QFileInfo info(m_docRoot + QString::fromUtf8(path));
    if (info.isDir()) {
        path += "/index.html";
        info.setFile(m_docRoot + QString::fromUtf8(path));
    }
    QFile file(info.filePath());
    // Only plain files are opened: a pipe or a device would hold the thread forever.
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        if (info.exists()) {
            qWarning("StaticFileController: Cannot open existing file %s for reading",
                     qPrintable(file.fileName()));
            refuse(response);
        } else {
            response.setStatus(404, "not found");
            response.write("404 not found", true);
        }
        return;
    }

    applyContentType(path, response);
    applyCacheControl(response);
    const bool cacheable = file.size() <= m_maxCachedFileSize;
    const QByteArray document = streamFile(file, response, cacheable);
    file.close();
    if (cacheable)
        cacheDocument(requestPath, document, now, path);
}

// Sends the file in blocks and, when asked to, returns everything it sent.
QByteArray StaticFileController::streamFile(QFile &file, HttpResponse &response, bool keep) const
{
    QByteArray kept;
    for (;;) {
        const QByteArray block = file.read(blockSize);
        if (block.isEmpty())
            break;
        response.write(block);
        if (keep)
            kept.append(block);
    }
    return kept;
}

void StaticFileController::cacheDocument(const QByteArray &requestPath, const QByteArray &document,
                                         qint64 created, const QByteArray &fileName)
{
    QMutexLocker locker(&m_mutex);
    // The cache owns its entries; one larger than the whole cache is deleted at once.
    m_cache.insert(requestPath, new CacheEntry{document, created, fileName}, document.size());
}

void StaticFileController::applyCacheControl(HttpResponse &response) const
{
    response.setHeader("Cache-Control", "max-age=" + QByteArray::number(m_maxAge / 1000));
}

void StaticFileController::applyContentType(const QByteArray &fileName, HttpResponse &response) const
{
    if (fileName.endsWith(".png"))
        response.setHeader("Content-Type", "image/png");
    else if (fileName.endsWith(".jpg"))
        response.setHeader("Content-Type", "image/jpeg");
    else if (fileName.endsWith(".gif"))
        response.setHeader("Content-Type", "image/gif");
    else if (fileName.endsWith(".pdf"))
        response.setHeader("Content-Type", "application/pdf");
    else if (fileName.endsWith(".txt"))
        response.setHeader("Content-Type", "text/plain; charset=" + m_encoding);
    else if (fileName.endsWith(".html") || fileName.endsWith(".htm"))
        response.setHeader("Content-Type", "text/html; charset=" + m_encoding);
    else if (fileName.endsWith(".css"))
        response.setHeader("Content-Type", "text/css");
    else if (fileName.endsWith(".js"))
        response.setHeader("Content-Type", "text/javascript");
}

void StaticFileController::refuse(HttpResponse &response) const
{
    response.setStatus(403, "forbidden");
    response.write("403 forbidden", true);
}
