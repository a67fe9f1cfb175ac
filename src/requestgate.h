#ifndef REQUESTGATE_H
#define REQUESTGATE_H

#include <QByteArray>
#include <QList>
#include <QMultiMap>
#include <QStringList>

class HttpRequest;
class HttpResponse;
class QSettings;

// Decides, before any routing, whether a request may reach Vexo at all. Every web page the
// user opens can send requests to this machine, and a host name that an attacker points at
// 127.0.0.1 makes his page same-origin with Vexo. So the Host must name this machine, and
// the paths that act (AJAX, save, load) take only same-origin callers and only GET, HEAD
// and POST (a CORS preflight must never run a function).
// Threads: set up before the listener starts; verdict() then runs on the connection threads.
class RequestGate
{
public:
    enum Verdict
    {
        Pass,
        HostNotAllowed,
        CrossSite,
        MethodNotAllowed
    };

    // What the decision looks at.
    struct Request
    {
        QByteArray method;
        QByteArray path; // decoded, as it is routed
        QByteArray version;
        QMultiMap<QByteArray, QByteArray> headers;
        bool secure = false;
        quint16 listeningPort = 0;
    };

    // allowedHosts: host names this machine is also known by, beside the loopback names.
    explicit RequestGate(const QStringList &allowedHosts = QStringList());

    // The listener's own `host` and the names of its `allowedHosts` key.
    static QStringList configuredHosts(const QSettings &listenerSettings);
    static Request describe(const HttpRequest &request);

    Verdict verdict(const Request &request) const;
    // The complete refusal for a verdict other than Pass; it asks to close the connection.
    static void refuse(Verdict verdict, HttpResponse &response);

private:
    bool namesThisMachine(const Request &request) const;
    static bool isSameOrigin(const Request &request);

    QList<QByteArray> m_hostNames; // lower case, IPv6 addresses in brackets
};

#endif // REQUESTGATE_H
