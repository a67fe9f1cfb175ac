#include "httpconnectionhandler.h"
#include "httpconnectionhandlerpool.h"
#include "httplistener.h"
#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"
#include "listenersettings.h"

#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <vector>

namespace {
const QByteArray notImplemented =
    "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented";

// A client on loopback. Waiting goes through the event loop, which the listener needs to
// accept at all.
std::unique_ptr<QTcpSocket> connectTo(const HttpListener &listener)
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, listener.serverPort());
    return client;
}

QByteArray exchange(QTcpSocket &client, const QByteArray &request, int replySize)
{
    client.write(request);
    QByteArray received;
    // The caller compares what arrived; running out of time shows there.
    (void)QTest::qWaitFor(
        [&] {
            received += client.readAll();
            return received.size() >= replySize;
        },
        5000);
    return received;
}

bool allIdle(const HttpConnectionHandlerPool &pool)
{
    const auto handlers = pool.handlers();
    return std::none_of(handlers.begin(), handlers.end(), [](HttpConnectionHandler *h) { return h->busy(); });
}

// Leaves its reply unfinished in the ways a careless handler can: writing nothing, or
// throwing after the first of several parts.
class CarelessHandler : public HttpRequestHandler
{
public:
    void service(HttpRequest &request, HttpResponse &response) override
    {
        if (request.path() == "/throw") {
            response.write("partial", false);
            throw std::runtime_error("handler failed");
        }
    }
};

} // namespace

class TestHttpListener : public QObject
{
    Q_OBJECT
private slots:
    void retiresIdleHandlersDownToTheMinimum()
    {
        const ListenerSettings settings(
            {{"host", "127.0.0.1"}, {"port", 0}, {"cleanupInterval", 3600000}, {"minThreads", 0}});
        HttpRequestHandler requestHandler;
        HttpListener listener(settings.settings(), &requestHandler);
        QVERIFY(listener.isListening());
        // Descriptors travel pointer-sized: a 64-bit Windows socket handle does not fit 32 bits.
        const QMetaMethod handOver = QMetaMethod::fromSignal(&HttpListener::handleConnection);
        QCOMPARE(int(QMetaType(handOver.parameterType(0)).sizeOf()), int(sizeof(qintptr)));
        HttpConnectionHandlerPool *pool = listener.pool();
        std::vector<std::unique_ptr<QTcpSocket>> clients;
        // Four kept-alive connections, each holding a handler.
        const auto holdFour = [&] {
            for (int i = 0; i < 4; ++i) {
                clients.push_back(connectTo(listener));
                QCOMPARE(exchange(*clients.back(), "GET / HTTP/1.1\r\n\r\n", notImplemented.size()),
                         notImplemented);
            }
        };
        holdFour();
        // Busy handlers are never retired.
        QVERIFY(QMetaObject::invokeMethod(pool, "cleanup"));
        QCOMPARE(pool->handlers().size(), 4);

        // Idle ones go, one per tick, down to minThreads, which is read at every tick.
        clients.clear();
        QTRY_VERIFY(allIdle(*pool));
        settings.settings()->setValue("minThreads", 2);
        settings.settings()->setValue("cleanupInterval", 50);
        listener.close();
        listener.listen();
        holdFour();
        clients.clear();
        QTRY_COMPARE(listener.pool()->handlers().size(), 2);
        QTest::qWait(200);
        QCOMPARE(listener.pool()->handlers().size(), 2);
        settings.settings()->setValue("minThreads", 0);
        QTRY_COMPARE(listener.pool()->handlers().size(), 0);
    }

    void finishesRepliesTheHandlerLeftOpen()
    {
        const ListenerSettings settings({{"host", "127.0.0.1"}, {"port", 0}});
        CarelessHandler requestHandler;
        HttpListener listener(settings.settings(), &requestHandler);
        auto client = connectTo(listener);
        const QByteArray empty = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
        QCOMPARE(exchange(*client, "GET /silent HTTP/1.1\r\n\r\n", empty.size()), empty);
        const QByteArray cutShort =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n7\r\npartial\r\n0\r\n\r\n";
        QTest::ignoreMessage(QtCriticalMsg,
                             QRegularExpression("HttpConnectionHandler \\(0x[0-9a-f]+\\): An uncatched "
                                                "exception occured in the request handler"));
        QCOMPARE(exchange(*client, "GET /throw HTTP/1.1\r\n\r\n", cutShort.size()), cutShort);
        // The connection goes on as usual.
        QCOMPARE(exchange(*client, "GET /silent HTTP/1.1\r\n\r\n", empty.size()), empty);
        QCOMPARE(client->state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(TestHttpListener)
#include "tst_httplistener.moc"
