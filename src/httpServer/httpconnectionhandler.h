#ifndef HTTPCONNECTIONHANDLER_H
#define HTTPCONNECTIONHANDLER_H

#include <QThread>

#include <atomic>
#include <memory>

class HttpRequest;
class HttpRequestHandler;
class QSettings;
class QSslConfiguration;
class QTcpSocket;
class QTimer;

// A native socket descriptor, handed from the listener to a handler by a queued signal.
// Pointer-sized: a 64-bit Windows socket handle does not fit 32 bits.
using tSocketDescriptor = qintptr;

// Serves one connection at a time on a thread and event loop of its own: reads requests,
// calls the request handler, keeps the connection for the next request.
// Threads: the object, its socket and its timer live in its own thread, where service() runs.
class HttpConnectionHandler : public QThread
{
    Q_OBJECT
    Q_DISABLE_COPY(HttpConnectionHandler)
public:
    HttpConnectionHandler(const QSettings *settings, HttpRequestHandler *requestHandler,
                          const QSslConfiguration *sslConfiguration = nullptr);
    ~HttpConnectionHandler() override;

    bool busy() const { return m_busy.load(); }
    void markBusy() { m_busy.store(true); }

public slots:
    void handleConnection(tSocketDescriptor socketDescriptor);

private slots:
    void readTimeout();
    void read();
    void disconnected();

protected:
    void run() override;

private:
    QTcpSocket *createSocket();
    void startReadTimer();
    std::unique_ptr<HttpRequest> newRequest() const;
    // Returns whether the reply asked to close the connection.
    bool serve(HttpRequest &request);
    void rejectRequest();
    void releaseThreadObjects();

    // A copy of the listener settings for this thread alone: one settings object must not be
    // read from several threads at once, distinct ones on the same file may.
    QSettings *m_settings;
    HttpRequestHandler *m_requestHandler;
    const QSslConfiguration *m_sslConfiguration;
    QTcpSocket *m_socket;
    QTimer *m_readTimer;
    std::unique_ptr<HttpRequest> m_currentRequest;
    std::atomic<bool> m_busy{false};
    // Set by the thread once it has disposed of its objects; read after joining it.
    std::atomic<bool> m_threadObjectsReleased{false};
    bool m_reading = false;
};

#endif // HTTPCONNECTIONHANDLER_H
