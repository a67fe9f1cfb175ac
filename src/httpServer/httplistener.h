#ifndef HTTPLISTENER_H
#define HTTPLISTENER_H

#include "httpconnectionhandler.h"

#include <QHostAddress>
#include <QTcpServer>

class HttpConnectionHandlerPool;
class HttpRequestHandler;
class QSettings;

// Accepts connections and hands each one to an idle connection handler; answers 503 itself
// when every handler is busy. Listens as soon as it is constructed.
// Threads: main thread; a connection reaches its handler's thread through a queued signal.
class HttpListener : public QTcpServer
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpListener)
public:
    HttpListener(QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent = nullptr);
    ~HttpListener() override;

    void listen();
    HttpConnectionHandlerPool *pool() const { return m_pool; }

signals:
    void handleConnection(tSocketDescriptor socketDescriptor);

public slots:
    void close();
    void onAboutToQuit();

protected:
    void incomingConnection(tSocketDescriptor socketDescriptor) override;

private:
    void rejectConnection(tSocketDescriptor socketDescriptor);
    static QHostAddress bindAddress(const QString &host, QString &error);

    QSettings *m_settings;
    HttpRequestHandler *m_requestHandler;
    HttpConnectionHandlerPool *m_pool = nullptr;
};

#endif // HTTPLISTENER_H
