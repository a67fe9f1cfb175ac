#include "requestgate.h"

#include "apiroute.h"
#include "httprequest.h"
#include "httpresponse.h"

#include <QSettings>

#include <algorithm>

namespace {
const QList<QByteArray> loopbackNames = {"127.0.0.1", "localhost", "[::1]"};

// Header names are compared without letter case here: a client's spelling must not decide
// whether a check applies.
QList<QByteArray> valuesOf(const QMultiMap<QByteArray, QByteArray> &headers, const QByteArray &name)
{
    QList<QByteArray> values;
    for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            values.append(it.value());
    }
    return values;
}

bool isDigits(const QByteArray &text)
{
    return !text.isEmpty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A configured name as a Host header writes it: lower case, an IPv6 address in brackets.
QByteArray hostForm(const QString &name)
{
    const QByteArray host = name.trimmed().toLower().toUtf8();
    return host.contains(':') && !host.startsWith('[') ? '[' + host + ']' : host;
}

// Splits a Host value into name and port (empty when it names none); false when the value
// is not of the form name[:port].
bool splitHost(const QByteArray &host, QByteArray &name, QByteArray &port)
{
    auto nameEnd = host.startsWith('[') ? host.indexOf(']') + 1 : host.indexOf(':');
    if (nameEnd < 0)
        nameEnd = host.size();
    name = host.left(nameEnd);
    const QByteArray rest = host.mid(nameEnd);
    port = rest.mid(1);
    if (name.isEmpty() || name == "[")
        return false;
    return rest.isEmpty() || (rest.startsWith(':') && isDigits(port));
}

bool isActionPath(const QByteArray &path)
{
    return apiRouteOf(path) != ApiRoute::StaticFile;
}

bool isAllowedMethod(const QByteArray &method)
{
    return method == "GET" || method == "HEAD" || method == "POST";
}

QByteArray refusalBody(RequestGate::Verdict verdict)
{
    switch (verdict) {
    case RequestGate::HostNotAllowed:
        return "403 host not allowed";
    case RequestGate::CrossSite:
        return "403 cross-site request refused";
    case RequestGate::MethodNotAllowed:
        return "405 method not allowed";
    case RequestGate::Pass:
        break;
    }
    return QByteArray();
}
} // namespace

RequestGate::RequestGate(const QStringList &allowedHosts)
    : m_hostNames(loopbackNames)
{
    for (const QString &name : allowedHosts) {
        const QByteArray host = hostForm(name);
        if (!host.isEmpty())
            m_hostNames.append(host);
    }
}

QStringList RequestGate::configuredHosts(const QSettings &listenerSettings)
{
    // A comma-separated value reads as a list, or as one text when it was quoted.
    QStringList hosts = {listenerSettings.value("host").toString()};
    const QStringList allowed = listenerSettings.value("allowedHosts").toStringList();
    for (const QString &entry : allowed)
        hosts += entry.split(QLatin1Char(','));
    return hosts;
}

RequestGate::Request RequestGate::describe(const HttpRequest &request)
{
    Request described;
    described.method = request.method();
    described.path = request.path();
    described.version = request.version();
    described.headers = request.headers();
    described.secure = request.isEncrypted();
    described.listeningPort = request.localPort();
    return described;
}

RequestGate::Verdict RequestGate::verdict(const Request &request) const
{
    if (!namesThisMachine(request))
        return HostNotAllowed;
    if (!isActionPath(request.path))
        return Pass;
    if (!isSameOrigin(request))
        return CrossSite;
    if (!isAllowedMethod(request.method))
        return MethodNotAllowed;
    return Pass;
}

bool RequestGate::namesThisMachine(const Request &request) const
{
    const QList<QByteArray> hosts = valuesOf(request.headers, "Host");
    if (hosts.isEmpty() || (hosts.size() == 1 && hosts.first().isEmpty()))
        return request.version == "HTTP/1.0";
    QByteArray name;
    QByteArray port;
    if (hosts.size() != 1 || !splitHost(hosts.first(), name, port))
        return false;
    if (!port.isEmpty() && port.toUInt() != request.listeningPort)
        return false;
    return m_hostNames.contains(name.toLower());
}

bool RequestGate::isSameOrigin(const Request &request)
{
    // A browser sends Sec-Fetch-Site itself, and no page can change it; older browsers
    // send only Origin. Tools and scripts send neither.
    const QList<QByteArray> sites = valuesOf(request.headers, "Sec-Fetch-Site");
    if (!sites.isEmpty()) {
        return std::all_of(sites.begin(), sites.end(), [](const QByteArray &site) {
            return site.compare("same-origin", Qt::CaseInsensitive) == 0 ||
                   site.compare("none", Qt::CaseInsensitive) == 0;
        });
    }
    const QList<QByteArray> origins = valuesOf(request.headers, "Origin");
    const QList<QByteArray> hosts = valuesOf(request.headers, "Host");
    const QByteArray ownOrigin =
        (request.secure ? "https://" : "http://") + (hosts.isEmpty() ? QByteArray() : hosts.first());
    return std::all_of(origins.begin(), origins.end(), [&](const QByteArray &origin) {
        return !hosts.isEmpty() && origin.compare(ownOrigin, Qt::CaseInsensitive) == 0;
    });
}

void RequestGate::refuse(Verdict verdict, HttpResponse &response)
{
    const QByteArray body = refusalBody(verdict);
    if (verdict == MethodNotAllowed) {
        response.setStatus(405, "Method Not Allowed");
        response.setHeader("Allow", "GET, HEAD, POST");
    } else {
        response.setStatus(403, "Forbidden");
    }
    response.setHeader("Connection", "close");
    response.setHeader("Content-Length", body.size());
    response.write(body, true);
}
