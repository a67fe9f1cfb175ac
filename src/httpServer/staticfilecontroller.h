#ifndef STATICFILECONTROLLER_H
#define STATICFILECONTROLLER_H

#include "httprequesthandler.h"

#include <QCache>
#include <QMutex>

class QFile;
class QSettings;

// Serves the document root with a small in-memory cache.
// Threads: service() runs on the connection threads, several at once; the cache has a mutex.
class StaticFileController : public HttpRequestHandler
{
    Q_OBJECT
public:
    StaticFileController(const QSettings *settings, QObject *parent = nullptr);
    void service(HttpRequest &request, HttpResponse &response) override;

private:
    struct CacheEntry
    {
        QByteArray document;
        qint64 created = 0;
        QByteArray fileName;
    };

    static QString resolveDocRoot(const QSettings *settings);
    bool serveFromCache(const QByteArray &path, qint64 now, HttpResponse &response);
    void serveFile(const QByteArray &path, qint64 now, HttpResponse &response);
    QByteArray streamFile(QFile &file, HttpResponse &response, bool keep) const;
    void cacheDocument(const QByteArray &requestPath, const QByteArray &document, qint64 created,
                       const QByteArray &fileName);
    void applyCacheControl(HttpResponse &response) const;
    void applyContentType(const QByteArray &fileName, HttpResponse &response) const;
    void refuse(HttpResponse &response) const;

    QByteArray m_encoding;
    QString m_docRoot;
    qint64 m_maxAge;
    qint64 m_cacheTime;
    qint64 m_maxCachedFileSize;
    QCache<QByteArray, CacheEntry> m_cache;
    QMutex m_mutex;
};

#endif // STATICFILECONTROLLER_H
