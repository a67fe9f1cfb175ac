#include "listenersettings.h"
#include "requestgate.h"

#include <QtTest>

Q_DECLARE_METATYPE(RequestGate::Verdict)

namespace {
const quint16 port = 8080;

// "Name: value" lines, as a client sends them.
QMultiMap<QByteArray, QByteArray> headersOf(const QByteArrayList &lines)
{
    QMultiMap<QByteArray, QByteArray> headers;
    for (const QByteArray &line : lines) {
        const auto colon = line.indexOf(':');
        headers.insert(line.left(colon), line.mid(colon + 1).trimmed());
    }
    return headers;
}
} // namespace

class TestRequestGate : public QObject
{
    Q_OBJECT
private slots:
    void decides_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArrayList>("headers");
        QTest::addColumn<bool>("secure");
        QTest::addColumn<RequestGate::Verdict>("verdict");
        const auto row = [](const char *name, const QByteArray &method, const QByteArray &path,
                            const QByteArrayList &headers, RequestGate::Verdict verdict,
                            const QByteArray &version = "HTTP/1.1", bool secure = false) {
            QTest::newRow(name) << method << path << version << headers << secure << verdict;
        };
        const QByteArray local = "Host: 127.0.0.1:8080";
        // Host: names of this machine, with the listening port or none.
        row("loopback address", "GET", "/ajax.html", {local}, RequestGate::Pass);
        row("localhost in capitals", "GET", "/ajax.html", {"Host: LocalHost:8080"}, RequestGate::Pass);
        row("IPv6 loopback", "GET", "/ajax.html", {"Host: [::1]:8080"}, RequestGate::Pass);
        row("no port", "GET", "/ajax.html", {"Host: 127.0.0.1"}, RequestGate::Pass);
        row("configured host", "GET", "/ajax.html", {"Host: 192.168.7.5:8080"}, RequestGate::Pass);
        row("allowed name", "GET", "/ajax.html", {"Host: Vexo.Lan"}, RequestGate::Pass);
        row("allowed IPv6 address", "GET", "/ajax.html", {"Host: [fd00::2]:8080"}, RequestGate::Pass);
        row("header name in lower case", "GET", "/", {"host: localhost"}, RequestGate::Pass);
        row("rebinding name", "GET", "/ajax.html", {"Host: evil.example:8080"}, RequestGate::HostNotAllowed);
        row("rebinding name, static file", "GET", "/index.html", {"Host: evil.example"},
            RequestGate::HostNotAllowed);
        row("lower-case header, foreign", "GET", "/", {"host: evil.example"}, RequestGate::HostNotAllowed);
        row("other port", "GET", "/ajax.html", {"Host: 127.0.0.1:8081"}, RequestGate::HostNotAllowed);
        row("empty port", "GET", "/ajax.html", {"Host: 127.0.0.1:"}, RequestGate::HostNotAllowed);
        row("port not a number", "GET", "/", {"Host: 127.0.0.1:80a"}, RequestGate::HostNotAllowed);
        row("loopback as prefix", "GET", "/", {"Host: 127.0.0.1.evil.example"}, RequestGate::HostNotAllowed);
        row("trailing dot", "GET", "/", {"Host: localhost."}, RequestGate::HostNotAllowed);
        row("user part", "GET", "/", {"Host: evil@127.0.0.1"}, RequestGate::HostNotAllowed);
        row("IPv6 without brackets", "GET", "/", {"Host: ::1"}, RequestGate::HostNotAllowed);
        row("two hosts", "GET", "/", {local, "Host: evil.example"}, RequestGate::HostNotAllowed);
        row("no host", "GET", "/", {}, RequestGate::HostNotAllowed);
        row("empty host", "GET", "/", {"Host:"}, RequestGate::HostNotAllowed);
        row("no host, HTTP/1.0", "GET", "/ajax.html", {}, RequestGate::Pass, "HTTP/1.0");

        // Cross-site: only on the paths that act.
        row("same-origin fetch", "POST", "/ajax.html", {local, "Sec-Fetch-Site: same-origin"},
            RequestGate::Pass);
        row("typed address", "GET", "/saveFile.html", {local, "Sec-Fetch-Site: none"}, RequestGate::Pass);
        row("cross-site image", "GET", "/ajax.html", {local, "Sec-Fetch-Site: cross-site"},
            RequestGate::CrossSite);
        row("same-site form", "POST", "/loadFile.html", {local, "Sec-Fetch-Site: same-site"},
            RequestGate::CrossSite);
        row("cross-site, path inside", "GET", "/x/ajax.html.old", {local, "sec-fetch-site: cross-site"},
            RequestGate::CrossSite);
        row("cross-site static file", "GET", "/index.html", {local, "Sec-Fetch-Site: cross-site"},
            RequestGate::Pass);
        row("own origin", "POST", "/ajax.html", {local, "Origin: http://127.0.0.1:8080"}, RequestGate::Pass);
        row("null origin", "POST", "/ajax.html", {local, "Origin: null"}, RequestGate::CrossSite);
        row("origin on another port", "POST", "/ajax.html", {local, "Origin: http://127.0.0.1:9999"},
            RequestGate::CrossSite);
        row("origin of another name", "POST", "/ajax.html", {local, "Origin: http://localhost:8080"},
            RequestGate::CrossSite);
        row("https origin, plain request", "POST", "/ajax.html", {local, "Origin: https://127.0.0.1:8080"},
            RequestGate::CrossSite);
        row("https origin over TLS", "POST", "/ajax.html", {local, "Origin: https://127.0.0.1:8080"},
            RequestGate::Pass, "HTTP/1.1", true);
        row("origin, HTTP/1.0 without host", "POST", "/ajax.html", {"Origin: http://127.0.0.1:8080"},
            RequestGate::CrossSite, "HTTP/1.0");

        // Methods on the paths that act.
        row("head", "HEAD", "/ajax.html", {local}, RequestGate::Pass);
        row("options", "OPTIONS", "/ajax.html", {local}, RequestGate::MethodNotAllowed);
        row("put", "PUT", "/saveFile.html", {local}, RequestGate::MethodNotAllowed);
        row("lower-case get", "get", "/loadFile.html", {local}, RequestGate::MethodNotAllowed);
        row("cross-site preflight", "OPTIONS", "/ajax.html", {local, "Sec-Fetch-Site: cross-site"},
            RequestGate::CrossSite);
        row("options, static file", "OPTIONS", "/index.html", {local}, RequestGate::Pass);
    }

    void decides()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, version);
        QFETCH(QByteArrayList, headers);
        QFETCH(bool, secure);
        QFETCH(RequestGate::Verdict, verdict);

        // The listener's host and allowedHosts as config.ini holds them.
        const ListenerSettings settings(
            {{"host", "192.168.7.5"}, {"allowedHosts", QStringList{"vexo.lan", "fd00::2"}}});
        const RequestGate gate(RequestGate::configuredHosts(*settings.settings()));
        RequestGate::Request request;
        request.method = method;
        request.path = path;
        request.version = version;
        request.headers = headersOf(headers);
        request.secure = secure;
        request.listeningPort = port;
        QCOMPARE(gate.verdict(request), verdict);
    }
};

QTEST_GUILESS_MAIN(TestRequestGate)
#include "tst_requestgate.moc"
