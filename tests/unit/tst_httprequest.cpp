#include "httprequest.h"
#include "listenersettings.h"

#include <QBuffer>
#include <QFile>
#include <QtTest>

#include <memory>

namespace {
bool isFinal(const HttpRequest &request)
{
    return request.status() == HttpRequest::Complete || request.status() == HttpRequest::Aborted;
}

// Feeds the bytes in pieces of at most `pieceSize`, the way a socket delivers them, until
// the request is complete or aborted. Returns how many bytes were left unread.
qint64 feed(HttpRequest &request, const QByteArray &bytes, int pieceSize)
{
    qint64 offset = 0;
    while (offset < bytes.size()) {
        QByteArray piece = bytes.mid(offset, pieceSize);
        QBuffer device(&piece);
        device.open(QIODevice::ReadOnly);
        while (device.bytesAvailable() > 0 && !isFinal(request))
            request.readFromSocket(&device);
        offset += device.pos();
        if (device.bytesAvailable() > 0)
            break;
    }
    return bytes.size() - offset;
}

std::unique_ptr<HttpRequest> parse(const QByteArray &bytes, const QVariantMap &limits = QVariantMap(),
                                   int pieceSize = 1 << 30)
{
    const ListenerSettings settings(limits);
    auto request = std::make_unique<HttpRequest>(settings.settings());
    feed(*request, bytes, pieceSize);
    return request;
}

QByteArray multipartRequest(const QByteArray &boundary, const QByteArray &body)
{
    return "POST /loadFile.html HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=" + boundary +
           "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray formField(const QByteArray &boundary, const QByteArray &name, const QByteArray &value)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

QByteArray fileField(const QByteArray &boundary, const QByteArray &name, const QByteArray &fileName,
                     const QByteArray &content)
{
    return "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           fileName + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" + content + "\r\n";
}

// Bytes that a request of `total` bytes with a body of its own needs around the body.
QByteArray requestWithBodyOfTotalSize(int total)
{
    const QByteArray head = "POST /x HTTP/1.1\r\nContent-Length: ";
    for (int bodySize = 1; bodySize < total; ++bodySize) {
        const QByteArray bytes = head + QByteArray::number(bodySize) + "\r\n\r\n" + QByteArray(bodySize, 'b');
        if (bytes.size() == total)
            return bytes;
    }
    return QByteArray();
}
} // namespace

class TestHttpRequest : public QObject
{
    Q_OBJECT
private slots:
    void parsesTheRequestLine()
    {
        auto request = parse("GET /a%20b+c.html?x=1&y HTTP/1.1\r\nHost: h\r\n\r\n");
        QCOMPARE(request->status(), HttpRequest::Complete);
        QCOMPARE(request->method(), QByteArray("GET"));
        QCOMPARE(request->path(), QByteArray("/a b c.html"));
        QCOMPARE(request->rawPath(), QByteArray("/a%20b+c.html"));
        QCOMPARE(request->version(), QByteArray("HTTP/1.1"));
        QCOMPARE(request->parameter("x"), QByteArray("1"));
        QVERIFY(request->parameters().contains("y"));
        QCOMPARE(request->parameter("y"), QByteArray());
    }

    void parsesHeadersAndContinuationLines()
    {
        const auto request =
            parse("GET / HTTP/1.1\r\nX-Name:   spaced value  \r\ncontent-type: text/plain\r\n"
                  "X-Long: first\r\n  second part\r\nX-Twice: 1\r\nX-Twice: 2\r\n"
                  "Cookie: a=1; b=\"x;y\" ;; flag; =v\r\nCookie: a = 2 \r\n\r\n");
        QCOMPARE(request->status(), HttpRequest::Complete);
        QCOMPARE(request->header("X-Name"), QByteArray("spaced value"));
        // Names are compared byte for byte.
        QCOMPARE(request->header("Content-Type"), QByteArray());
        QCOMPARE(request->header("content-type"), QByteArray("text/plain"));
        QCOMPARE(request->header("X-Long"), QByteArray("first second part"));
        QCOMPARE(request->headerValues("X-Long"), QByteArrayList({"first second part", "first"}));
        QCOMPARE(request->header("X-Twice"), QByteArray("2"));
        QCOMPARE(request->headerValues("X-Twice"), QByteArrayList({"2", "1"}));
        QCOMPARE(request->header("Missing"), QByteArray());
        // Quotes keep a semicolon; a later cookie wins; the Cookie headers are consumed.
        const QMap<QByteArray, QByteArray> cookies{{"a", "2"}, {"b", "x;y"}, {"flag", "flag"}, {"=v", ""}};
        QCOMPARE(request->cookies(), cookies);
        QCOMPARE(request->cookie("b"), QByteArray("x;y"));
        QCOMPARE(request->header("Cookie"), QByteArray());

        // A line without a name before any header is dropped, a colon at the start too.
        const auto orphan = parse("GET / HTTP/1.1\r\n  orphan\r\n:no-name\r\nA: b\r\n\r\n");
        QCOMPARE(orphan->status(), HttpRequest::Complete);
        QCOMPARE(orphan->headers().size(), 1);
        QCOMPARE(orphan->header("A"), QByteArray("b"));
    }

    void decodesUrls()
    {
        // A bad or cut escape stays as it is; a sign or blank is not a hexadecimal digit.
        const QList<QPair<QByteArray, QByteArray>> rows = {
            {"%41%42c", "ABc"},
            {"a+b%20c", "a b c"},
            {"100%zz", "100%zz"},
            {"%2541", "%41"},
            {"end%4", "end%4"},
            {"end%", "end%"},
            {"%+1%-1", "% 1%-1"},
            {"%2f%6F%aF", "/o\xaf"},
            {"%e2%82%ac%00x", QByteArray("\xe2\x82\xac\0x", 5)}};
        for (const auto &row : rows)
            QCOMPARE(HttpRequest::urlDecode(row.first), row.second);
    }

    void collectsParametersInOrder()
    {
        auto request = parse("GET /?a=1&a=2&&%62=%33&+c+=+d+&flag HTTP/1.1\r\n\r\n");
        QCOMPARE(request->parameter("a"), QByteArray("2"));
        QCOMPARE(request->parameterValues("a"), QByteArrayList({"2", "1"}));
        QCOMPARE(request->parameter("b"), QByteArray("3"));
        // Names and values are trimmed before they are decoded.
        QCOMPARE(request->parameter(" c "), QByteArray(" d "));
        QVERIFY(request->parameters().contains("flag"));
        QCOMPARE(request->parameters().size(), 5);
        QVERIFY(!request->parameters().contains(""));

        // The body is decoded after the query: its value is the one returned.
        request = parse("POST /?x=query&q=1 HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded; "
                        "charset=UTF-8\r\nContent-Length: 11\r\n\r\nx=body&z=%7");
        QCOMPARE(request->status(), HttpRequest::Complete);
        QCOMPARE(request->parameter("x"), QByteArray("body"));
        QCOMPARE(request->parameterValues("x"), QByteArrayList({"body", "query"}));
        QCOMPARE(request->parameter("z"), QByteArray("%7"));
        QCOMPARE(request->body(), QByteArray("x=body&z=%7"));

        // A content type under a lower-case name reads as empty, so the body is decoded.
        request = parse("POST / HTTP/1.1\r\ncontent-type: text/plain\r\nContent-Length: 3\r\n\r\nk=v");
        QCOMPARE(request->parameter("k"), QByteArray("v"));
        // Any other content type keeps the body out of the parameters.
        request = parse("POST / HTTP/1.1\r\nContent-Type: text/plain\r\nContent-Length: 3\r\n\r\nk=v");
        QVERIFY(request->parameters().isEmpty());
        QCOMPARE(request->body(), QByteArray("k=v"));
    }

    void readsBodiesArrivingInPieces()
    {
        const QByteArray bytes = "POST /form HTTP/1.1\r\nContent-Length: 15\r\n\r\nname=a+b&v=%41Z";
        const QVariantMap roomy{{"maxRequestSize", 100000}};
        for (int pieceSize : {1, 2, 7, 1000}) {
            const auto request = parse(bytes, roomy, pieceSize);
            QCOMPARE(request->status(), HttpRequest::Complete);
            QCOMPARE(request->path(), QByteArray("/form"));
            QCOMPARE(request->parameter("name"), QByteArray("a b"));
            QCOMPARE(request->parameter("v"), QByteArray("AZ"));
        }
        // Bytes after the announced body belong to the next request and stay unread.
        const ListenerSettings settings;
        HttpRequest request(settings.settings());
        QCOMPARE(feed(request, bytes + "GET /next HTTP/1.1\r\n\r\n", 1 << 20), qint64(22));
        QCOMPARE(request.status(), HttpRequest::Complete);
    }

    // Where a request ends: request line, the request size exactly, Content-Length at the top
    // of the 64-bit range and beyond it, and a line trickling in byte by byte, whose unfinished
    // part is counted again with each read, so it reaches the limit long before its size does.
    void finalStatus_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("maxRequestSize");
        QTest::addColumn<int>("pieceSize");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const QByteArray &bytes, HttpRequest::RequestStatus status,
                            int limit = 16000, int pieceSize = 1 << 30) {
            QTest::newRow(name) << bytes << limit << pieceSize << int(status);
        };
        row("empty lines first", "\r\n\r\nPOST /p HTTP/1.0\r\n\r\n", HttpRequest::Complete);
        row("two parts", "GET /only-two\r\n\r\n", HttpRequest::Aborted);
        row("double blank", "GET  /double-blank HTTP/1.1\r\n\r\n", HttpRequest::Aborted);
        row("not http", "GET /x FTP/1.1\r\n\r\n", HttpRequest::Aborted);
        row("four parts", "GET /x HTTP/1.1 extra\r\n\r\n", HttpRequest::Aborted);
        row("line unfinished", "GET /x HTTP/1.1", HttpRequest::AwaitingRequestLine);
        row("length no number", "POST / HTTP/1.1\r\nContent-Length: many\r\n\r\n", HttpRequest::Complete);
        row("length negative", "POST / HTTP/1.1\r\nContent-Length: -5\r\n\r\n", HttpRequest::Complete);
        row("request of 100", requestWithBodyOfTotalSize(100), HttpRequest::Complete, 100);
        row("request of 101", requestWithBodyOfTotalSize(101), HttpRequest::Aborted, 100);
        const QByteArray line = "GET / HTTP/1.1\r\n";
        row("headers of 100", line + "X: " + QByteArray(100 - 16 - 5 - 2, 'h') + "\r\n\r\n",
            HttpRequest::Complete, 100);
        // A header line that would cross the limit is not waited for.
        row("header line crossing", line + "X: " + QByteArray(100 - 16 - 5, 'h') + "\r\n\r\n",
            HttpRequest::Aborted, 100);
        row("default limit 16000", line + "X: " + QByteArray(16000, 'h') + "\r\n\r\n", HttpRequest::Aborted);
        row("raised limit", line + "X: " + QByteArray(16000, 'h') + "\r\n\r\n", HttpRequest::Complete, 17000);
        const QByteArray multipartHead =
            "POST / HTTP/1.1\r\nContent-Type: multipart/form-data; boundary=b\r\n";
        for (const char *length : {"9223372036854775807", "9223372036854775790", "99999999999999999999"}) {
            const QByteArray lengthLine = "Content-Length: " + QByteArray(length) + "\r\n\r\n";
            row(length, "POST / HTTP/1.1\r\n" + lengthLine, HttpRequest::Aborted);
            row((QByteArray(length) + " multipart").constData(), multipartHead + lengthLine,
                HttpRequest::Aborted);
        }
        const QByteArray trickle = line + "X: " + QByteArray(40, 'h') + "\r\n\r\n";
        row("line at once", trickle, HttpRequest::Complete, 400);
        row("line trickling", trickle, HttpRequest::Aborted, 400, 1);
        row("line trickling, room", trickle, HttpRequest::Complete, 2000, 1);
        // The line end split after its first byte: 16 + 1 + 2 bytes counted.
        row("split line end", "GET / HTTP/1.1\r\n\r\n", HttpRequest::Aborted, 18, 17);
        row("split line end, room", "GET / HTTP/1.1\r\n\r\n", HttpRequest::Complete, 19, 17);
    }

    void finalStatus()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, maxRequestSize);
        QFETCH(int, pieceSize);
        QFETCH(int, status);
        QCOMPARE(int(parse(bytes, {{"maxRequestSize", maxRequestSize}}, pieceSize)->status()), status);
    }

    void refusesAnAnnouncedBodyBeforeReadingIt()
    {
        const ListenerSettings settings({{"maxRequestSize", 100}});
        HttpRequest request(settings.settings());
        const QByteArray head = "POST / HTTP/1.1\r\nContent-Length: 80\r\n\r\n";
        QCOMPARE(feed(request, head + QByteArray(80, 'b'), 1 << 20), qint64(80));
        QCOMPARE(request.status(), HttpRequest::Aborted);
    }

    void parsesMultipartFieldsAndFiles()
    {
        const QByteArray boundary = "----Bound42";
        const QByteArray fileContent =
            QByteArray("line one\r\n--not-a-boundary\r\n") + QByteArray(70000, 'x');
        const QByteArray body = formField(boundary, "filename", "notes.txt") + "--" + boundary +
                                "\r\nContent-Disposition: attachment; name=\"skip\"\r\n\r\nzz\r\n" +
                                fileField(boundary, "uploadedfile", "up.bin", fileContent) +
                                formField(boundary, "multi", "a\r\nb") +
                                fileField(boundary, "f", "1.txt", "first") +
                                fileField(boundary, "f", "2.txt", "second") +
                                fileField(boundary, "empty", "e", "") + "--" + boundary + "--\r\n";
        QString uploadPath;
        {
            const auto request =
                parse(multipartRequest(boundary, body), {{"maxMultiPartSize", 1000000}}, 4096);
            QCOMPARE(request->status(), HttpRequest::Complete);
            QCOMPARE(request->parameter("filename"), QByteArray("notes.txt"));
            QCOMPARE(request->parameter("multi"), QByteArray("a\r\nb"));
            QCOMPARE(request->parameter("uploadedfile"), QByteArray("up.bin"));
            QVERIFY(!request->parameters().contains("skip"));
            QCOMPARE(request->body(), QByteArray());
            QTemporaryFile *upload = request->uploadedFile("uploadedfile");
            QVERIFY(upload);
            uploadPath = upload->fileName();
            QVERIFY(QFile::exists(uploadPath));
            QCOMPARE(upload->readAll(), fileContent);
            // Asked for again, the file is back at its start.
            QCOMPARE(request->uploadedFile("uploadedfile")->read(8), QByteArray("line one"));
            QVERIFY(!request->uploadedFile("filename"));
            // A repeated name keeps the last file; an empty file is still one.
            QCOMPARE(request->uploadedFile("f")->readAll(), QByteArray("second"));
            QCOMPARE(request->parameterValues("f"), QByteArrayList({"2.txt", "1.txt"}));
            QCOMPARE(request->uploadedFile("empty")->size(), qint64(0));
        }
        QVERIFY2(!QFile::exists(uploadPath), "the upload outlived its request");
    }

    void keepsAHundredPartsAtMost()
    {
        // Every file part holds a temporary file open until the request ends; the parts
        // beyond the hundredth are dropped before a file is opened for them.
        const auto openFiles = [] {
            return QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size();
        };
        QByteArray body;
        for (int i = 0; i < 3000; ++i)
            body += fileField("b", "f" + QByteArray::number(i), "n.txt", "x");
        const QByteArray bytes = multipartRequest("b", body + "--b--\r\n");
        const int before = openFiles();
        const auto request = parse(bytes);
        QVERIFY(openFiles() - before <= 1 + 100); // the body's own file and the uploads kept
        QCOMPARE(request->status(), HttpRequest::Complete);
        QCOMPARE(request->uploadedFile("f99")->readAll(), QByteArray("x"));
        QVERIFY(!request->uploadedFile("f100"));
    }

    void enforcesTheMultipartSizeExactly()
    {
        const QByteArray boundary = "xyz";
        const QByteArray tail = "--" + boundary + "--\r\n";
        const auto bodyOfSize = [&](int size) {
            const QByteArray empty = fileField(boundary, "f", "n", "") + tail;
            return fileField(boundary, "f", "n", QByteArray(size - empty.size(), 'd')) + tail;
        };
        const QVariantMap limits{{"maxMultiPartSize", 5000}};
        QCOMPARE(parse(multipartRequest(boundary, bodyOfSize(4999)), limits)->status(),
                 HttpRequest::Complete);
        // Exactly the limit passes the announcement but not the storing.
        QCOMPARE(parse(multipartRequest(boundary, bodyOfSize(5000)), limits)->status(), HttpRequest::Aborted);

        const ListenerSettings settings(limits);
        HttpRequest request(settings.settings());
        const QByteArray announced = multipartRequest(boundary, bodyOfSize(5001));
        QVERIFY(feed(request, announced, 1 << 20) >= 5001);
        QCOMPARE(request.status(), HttpRequest::Aborted);

        // Form field values count against the limit as well, request line and headers too.
        QByteArray padded =
            multipartRequest(boundary, formField(boundary, "a", QByteArray(4500, 'v')) + tail);
        padded.insert(padded.indexOf("\r\n\r\n"), "\r\nX-Pad: " + QByteArray(500, 'p'));
        QCOMPARE(parse(padded, limits)->status(), HttpRequest::Aborted);
        QCOMPARE(parse(padded, {{"maxMultiPartSize", 5500}})->status(), HttpRequest::Complete);
    }

    void refusesAMultipartBodyItCannotStore()
    {
        const QByteArray body = formField("b", "f", "v") + "--b--\r\n";
        const QByteArray oldTmp = qgetenv("TMPDIR");
        // No file can be made there, not even by root.
        qputenv("TMPDIR", "/proc");
        const auto request = parse(multipartRequest("b", body));
        qputenv("TMPDIR", oldTmp);
        QCOMPARE(request->status(), HttpRequest::Aborted);
    }
};

QTEST_GUILESS_MAIN(TestHttpRequest)
#include "tst_httprequest.moc"
