#ifndef HTTPCONNECTIONHANDLERPOOL_H
#define HTTPCONNECTIONHANDLERPOOL_H

#include <QList>
#include <QMutex>
#include <QObject>
#include <QTimer>

#include <memory>

class HttpConnectionHandler;
class HttpRequestHandler;
class QSettings;
class QSslConfiguration;

// The connection handlers: created on demand up to maxThreads, retired one per cleanup tick
// down to minThreads idle ones. Holds the TLS configuration all handlers share.
// Threads: main thread; each handler clears its own busy flag from its own thread.
class HttpConnectionHandlerPool : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandlerPool)
public:
    HttpConnectionHandlerPool(const QSettings *settings, HttpRequestHandler *requestHandler,
                              QObject *parent = nullptr);
    ~HttpConnectionHandlerPool() override;

    // An idle handler, already marked busy, or nullptr when all maxThreads handlers are busy.
    HttpConnectionHandler *acquireHandler();
    // The handlers in creation order.
    QList<HttpConnectionHandler *> handlers() const;

private slots:
    void cleanup();

private:
    void loadSslConfig();
    QString absoluteToConfig(const QString &fileName) const;

    const QSettings *m_settings;
    HttpRequestHandler *m_requestHandler;
    QList<HttpConnectionHandler *> m_handlers;
    QTimer m_cleanupTimer;
    mutable QMutex m_mutex;
    std::unique_ptr<QSslConfiguration> m_sslConfiguration;
};

#endif // HTTPCONNECTIONHANDLERPOOL_H
