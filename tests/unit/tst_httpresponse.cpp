#include "httpcookie.h"
#include "httprequest.h"
#include "httprequesthandler.h"
#include "httpresponse.h"
#include "listenersettings.h"

#include <QBuffer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

#include <memory>

namespace {
// A real socket that counts how often bytes are handed to it.
class CountingSocket : public QTcpSocket
{
public:
    int writes = 0;

protected:
    qint64 writeData(const char *data, qint64 size) override
    {
        ++writes;
        return QTcpSocket::writeData(data, size);
    }
};

class DescriptorServer : public QTcpServer
{
public:
    qintptr descriptor = -1;

protected:
    void incomingConnection(qintptr socketDescriptor) override { descriptor = socketDescriptor; }
};

// Both ends of one loopback connection: the server end is what a response writes to.
struct Connection
{
    DescriptorServer server;
    QTcpSocket client;
    CountingSocket serverEnd;

    bool open()
    {
        if (!server.listen(QHostAddress::LocalHost))
            return false;
        client.connectToHost(QHostAddress::LocalHost, server.serverPort());
        return client.waitForConnected(5000) && server.waitForNewConnection(5000) &&
               serverEnd.setSocketDescriptor(server.descriptor);
    }

    // Everything the client receives until `size` bytes have arrived or nothing more comes.
    QByteArray receive(int size)
    {
        QByteArray data = client.readAll();
        while (data.size() < size && client.waitForReadyRead(2000))
            data += client.readAll();
        return data;
    }

    bool clientSeesClose()
    {
        return client.state() == QAbstractSocket::UnconnectedState || client.waitForDisconnected(2000);
    }
};

QByteArray chunked(const QList<QByteArray> &pieces)
{
    QByteArray out;
    for (const QByteArray &piece : pieces)
        out += QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
    return out + "0\r\n\r\n";
}
} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT
private slots:
    void sendsOnePieceWithContentLength()
    {
        Connection connection;
        QVERIFY(connection.open());
        HttpResponse response(&connection.serverEnd);
        response.setStatus(404, "not found");
        response.write("abc", true);
        QVERIFY(response.hasSentLastPart());
        const QByteArray expected = "HTTP/1.1 404 not found\r\nContent-Length: 3\r\n\r\nabc";
        QCOMPARE(connection.receive(expected.size()), expected);
        // Headers and body leave in one write.
        QCOMPARE(connection.serverEnd.writes, 1);
        // The connection stays open for the next request.
        QVERIFY(!connection.client.waitForDisconnected(100));

        // A reply nobody wrote anything to.
        Connection empty;
        QVERIFY(empty.open());
        HttpResponse nothing(&empty.serverEnd);
        nothing.write(QByteArray(), true);
        QCOMPARE(empty.receive(38), QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"));
    }

    void chunksSeveralParts()
    {
        Connection connection;
        QVERIFY(connection.open());
        HttpResponse response(&connection.serverEnd);
        response.write("ab", false);
        QVERIFY(!response.hasSentLastPart());
        const QByteArray alphabet = "abcdefghijklmnopqrstuvwxyz";
        response.write(alphabet, false);
        response.write(QByteArray(), false);
        response.write(QByteArray(), true);
        QVERIFY(response.hasSentLastPart());
        const QByteArray expected = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                    "2\r\nab\r\n1a\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n";
        QCOMPARE(connection.receive(expected.size()), expected);
        // The last piece of body and the final chunk leave together; the empty piece sends nothing.
        QCOMPARE(connection.serverEnd.writes, 2);
        QVERIFY(!connection.client.waitForDisconnected(100));
    }

    void holdsBackOnePieceAtMost()
    {
        const QByteArray head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
        // A document written as one piece and then finished goes out in a single write.
        Connection single;
        QVERIFY(single.open());
        HttpResponse document(&single.serverEnd);
        document.write("doc", false);
        QCOMPARE(single.serverEnd.writes, 0);
        document.write(QByteArray(), true);
        QCOMPARE(single.serverEnd.writes, 1);
        QCOMPARE(single.receive(head.size() + 13), head + chunked({"doc"}));

        // A long body keeps flowing: each piece sends the one before it, before the body ends.
        Connection stream;
        QVERIFY(stream.open());
        HttpResponse blocks(&stream.serverEnd);
        const QByteArray first(65536, 'a');
        const QByteArray second(65536, 'b');
        blocks.write(first, false);
        blocks.write(second, false);
        const QByteArray firstOnWire = head + "10000\r\n" + first + "\r\n";
        QCOMPARE(stream.receive(firstOnWire.size()), firstOnWire);
        QVERIFY(!stream.client.waitForReadyRead(100));
        blocks.write("c", true);
        const QByteArray rest = "10000\r\n" + second + "\r\n1\r\nc\r\n0\r\n\r\n";
        QCOMPARE(stream.receive(rest.size()), rest);

        // A response dropped before its last part still delivers the piece it held.
        Connection dropped;
        QVERIFY(dropped.open());
        {
            HttpResponse unfinished(&dropped.serverEnd);
            unfinished.write("x", false);
        }
        const QByteArray held = head + "1\r\nx\r\n";
        QCOMPARE(dropped.receive(held.size() + 1), held);
    }

    void ordersHeadersByName()
    {
        Connection connection;
        QVERIFY(connection.open());
        HttpResponse response(&connection.serverEnd);
        response.setHeader("Content-Type", "text/plain");
        response.setHeader("B-Second", "2");
        response.setHeader("A-First", 1);
        response.setHeader("A-First", "one");
        response.setHeader("a-lower", "last");
        response.write("x", true);
        const QByteArray expected = "HTTP/1.1 200 OK\r\nA-First: one\r\nB-Second: 2\r\nContent-Length: 1\r\n"
                                    "Content-Type: text/plain\r\na-lower: last\r\n\r\nx";
        QCOMPARE(connection.receive(expected.size()), expected);
    }

    void choosesFramingFromConnectionAndLengthHeaders()
    {
        // Only "close" and "Close" switch the automatic framing off.
        Connection shouting;
        QVERIFY(shouting.open());
        HttpResponse loud(&shouting.serverEnd);
        loud.setHeader("Connection", "CLOSE");
        loud.write("abc", true);
        const QByteArray framed = "HTTP/1.1 200 OK\r\nConnection: CLOSE\r\nContent-Length: 3\r\n\r\nabc";
        QCOMPARE(shouting.receive(framed.size()), framed);
        QVERIFY(!shouting.client.waitForDisconnected(100));

        for (const QByteArray &value : {QByteArray("close"), QByteArray("Close")}) {
            Connection closing;
            QVERIFY(closing.open());
            HttpResponse response(&closing.serverEnd);
            response.setHeader("Connection", value);
            response.write("part one,", false);
            response.write("part two", true);
            const QByteArray expected =
                "HTTP/1.1 200 OK\r\nConnection: " + value + "\r\n\r\npart one,part two";
            QCOMPARE(closing.receive(expected.size() + 1), expected);
            // The end of the body is the end of the connection.
            QVERIFY(closing.clientSeesClose());
        }

        // A length the handler set itself: neither chunks nor a close.
        Connection sized;
        QVERIFY(sized.open());
        HttpResponse response(&sized.serverEnd);
        response.setHeader("Content-Length", 6);
        response.write("abc", false);
        response.write("def", true);
        const QByteArray expected = "HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nabcdef";
        QCOMPARE(sized.receive(expected.size()), expected);
        QVERIFY(!sized.client.waitForDisconnected(100));

        // Chunked framing the handler chose itself is honoured in both spellings.
        Connection chunks;
        QVERIFY(chunks.open());
        HttpResponse chunkedResponse(&chunks.serverEnd);
        chunkedResponse.setHeader("Transfer-Encoding", "Chunked");
        chunkedResponse.write("abc", true);
        const QByteArray chunkedBytes =
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n" + chunked({"abc"});
        QCOMPARE(chunks.receive(chunkedBytes.size()), chunkedBytes);
    }

    void sendsCookiesAndIgnoresLateChanges()
    {
        Connection connection;
        QVERIFY(connection.open());
        HttpResponse response(&connection.serverEnd);
        response.setCookie(HttpCookie("session", "old", 0));
        response.setCookie(HttpCookie("session", "s1", 3600, "/", "note", "example.org", true));
        response.setCookie(HttpCookie("a", "b", 0, "/"));
        response.setCookie(HttpCookie("", "nameless", 0));
        QCOMPARE(response.cookies().size(), 2);
        response.write("1", false);
        // Status, headers and cookies set after the first write are not sent.
        response.setStatus(500, "late");
        response.setHeader("X-Late", "1");
        response.setCookie(HttpCookie("late", "1", 0));
        response.write("2", true);
        const QByteArray expected = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n"
                                    "Set-Cookie: a=b; Path=/; Version=1\r\n"
                                    "Set-Cookie: session=s1; Comment=note; Domain=example.org; Max-Age=3600; "
                                    "Path=/; Secure; Version=1\r\n\r\n" +
                                    chunked({"1", "2"});
        QCOMPARE(connection.receive(expected.size()), expected);

        // Nothing more goes out after the last part.
        response.write("ignored", true);
        QVERIFY(!connection.client.waitForReadyRead(100));
    }

    void formatsCookieText()
    {
        HttpCookie cookie;
        cookie.setName("n");
        cookie.setValue("v");
        QCOMPARE(cookie.headerText(), QByteArray("n=v; Version=1"));
        cookie.setMaxAge(-1);
        cookie.setVersion(2);
        QCOMPARE(cookie.headerText(), QByteArray("n=v; Max-Age=-1; Version=2"));
        QCOMPARE(HttpCookie::splitCookieList(" a=1; b=\"x;y\" ;;\"c\"=\"\" "), QList<QByteArray>() << "a=1"
                                                                                                   << "b=x;y"
                                                                                                   << "c=");
        QVERIFY(HttpCookie::splitCookieList(" ; ").isEmpty());
    }

    void redirectsAndAnswers501InTheBase()
    {
        Connection connection;
        QVERIFY(connection.open());
        HttpResponse response(&connection.serverEnd);
        response.redirect("/elsewhere");
        const QByteArray expected =
            "HTTP/1.1 303 See Other\r\nContent-Length: 8\r\nLocation: /elsewhere\r\n\r\nRedirect";
        QCOMPARE(connection.receive(expected.size()), expected);

        Connection base;
        QVERIFY(base.open());
        const ListenerSettings settings;
        HttpRequest request(settings.settings());
        QByteArray bytes = "GET /x HTTP/1.1\r\n\r\n";
        QBuffer device(&bytes);
        device.open(QIODevice::ReadOnly);
        request.readFromSocket(&device);
        request.readFromSocket(&device);
        QCOMPARE(request.status(), HttpRequest::Complete);
        HttpRequestHandler handler;
        HttpResponse notImplemented(&base.serverEnd);
        handler.service(request, notImplemented);
        const QByteArray reply =
            "HTTP/1.1 501 not implemented\r\nContent-Length: 19\r\n\r\n501 not implemented";
        QCOMPARE(base.receive(reply.size()), reply);
    }

    void waitsForASlowReaderWithoutLosingBytes()
    {
        // The client reads in a thread of its own, slower than the writer could send.
        DescriptorServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost));
        const quint16 port = server.serverPort();
        QByteArray received;
        std::unique_ptr<QThread> reader(QThread::create([port, &received] {
            QTcpSocket client;
            client.setReadBufferSize(16384);
            client.connectToHost(QHostAddress::LocalHost, port);
            if (!client.waitForConnected(5000))
                return;
            while (client.state() == QAbstractSocket::ConnectedState || client.bytesAvailable() > 0) {
                if (client.bytesAvailable() == 0 && !client.waitForReadyRead(5000))
                    break;
                received += client.read(16384);
            }
        }));
        reader->start();
        QVERIFY(server.waitForNewConnection(5000));
        QTcpSocket serverEnd;
        QVERIFY(serverEnd.setSocketDescriptor(server.descriptor));
        QList<QByteArray> pieces;
        {
            HttpResponse response(&serverEnd);
            response.setHeader("Connection", "close");
            for (char c : {'a', 'b', 'c'}) {
                pieces.append(QByteArray(3 * 1024 * 1024, c));
                response.write(pieces.last(), false);
                // At most one piece waits in the socket.
                QVERIFY(serverEnd.bytesToWrite() <= pieces.last().size() + 64);
            }
            response.write("end", true);
        }
        QVERIFY(reader->wait(20000));
        const QByteArray head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
        QCOMPARE(received.size(), head.size() + 3 * 3 * 1024 * 1024 + 3);
        QVERIFY(received.startsWith(head));
        QCOMPARE(received.mid(head.size()), pieces.join() + "end");
    }

    void survivesAPeerThatHasGone()
    {
        Connection connection;
        QVERIFY(connection.open());
        connection.client.abort();
        QTest::qWait(50);
        HttpResponse response(&connection.serverEnd);
        const QByteArray big(8 * 1024 * 1024, 'z');
        response.write(big, false);
        response.write(big, false);
        response.write(big, true);
        QVERIFY(response.hasSentLastPart());
        QVERIFY(connection.serverEnd.state() != QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
