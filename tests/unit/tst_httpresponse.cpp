#include "httpresponse.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QtTest>

// Framing on the wire is tried through the real server (tests/blackbox); here what no
// request of the product can force: a reader slower than the writer. (A peer that vanishes
// while a reply is written is test_load_server's.)

#include <memory>

namespace {
class DescriptorServer : public QTcpServer
{
public:
    qintptr descriptor = -1;

protected:
    void incomingConnection(qintptr socketDescriptor) override { descriptor = socketDescriptor; }
};

} // namespace

class TestHttpResponse : public QObject
{
    Q_OBJECT
private slots:
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
};

QTEST_GUILESS_MAIN(TestHttpResponse)
#include "tst_httpresponse.moc"
