#include "myhttprequesthandler.h"

#include "apiroute.h"
#include "devicefinder.h"
#include "email.h"
#include "httprequest.h"
#include "httpresponse.h"
#include "modbusengine.h"
#include "modulesmngr.h"
#include "mqttpublisher.h"
#include "poller.h"
#include "pollingreplies.h"
#include "programlauncher.h"
#include "staticfilecontroller.h"
#include "systemfun.h"
#include "trafficreport.h"
#include "updates.h"

#include <QDebug>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QUrl>

#include <mutex>

namespace {
// Rendering time and memory grow with the text: this bounds what one request can take.
const int maxPdfHtmlBytes = 2 * 1024 * 1024;

// A file name goes into a header line: CR, LF and other control bytes would let a page
// add headers of its own.
QByteArray withoutControlCharacters(const QByteArray &text)
{
    QByteArray clean;
    clean.reserve(text.size());
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f)
            clean.append(c);
    }
    return clean;
}

// The value log's cap: [log] maxBytes of the configuration file.
qint64 logMaxBytes(const QString &configPath)
{
    bool isNumber = false;
    const qint64 configured = QSettings(configPath, QSettings::IniFormat)
                                  .value(QStringLiteral("log/maxBytes"))
                                  .toLongLong(&isNumber);
    return isNumber && configured > 0 ? configured : ValueLog::defaultMaxBytes;
}
} // namespace

MyHttpRequestHandler::MyHttpRequestHandler(StaticFileController *staticFileController, QSettings *settings,
                                           QObject *parent)
    : HttpRequestHandler(parent)
    , m_staticFileController(staticFileController)
    , m_modbusEngine(new ModbusEngine(this))
    , m_modulesMngr(nullptr)
    , m_settings(settings)
    , m_updates(nullptr)
    , m_email(nullptr)
    , m_systemFun(nullptr)
    , m_poller(nullptr)
{
    const QString docRoot = m_settings->value("path", ".").toString();
    m_modulesMngr = new ModulesMngr(docRoot, this);
    m_updates = new Updates(m_settings, this);
    m_email = new Email(this);
    m_systemFun = new SystemFun(this);
    m_poller = new Poller(m_modbusEngine, &m_modbusLock,
                          QStandardPaths::writableLocation(QStandardPaths::AppDataLocation),
                          logMaxBytes(m_settings->fileName()), this);
}

MyHttpRequestHandler::~MyHttpRequestHandler()
{
    // The children go after the members: the polling thread must end while the lock and the
    // engine are still there.
    m_poller->stop();
}

void MyHttpRequestHandler::service(HttpRequest &request, HttpResponse &response)
{
    if (!admit(request, response))
        return;
    t_GetArray params;
    const QMultiMap<QByteArray, QByteArray> parameters = request.parameters();
    // The multimap lists the last inserted value of a name first; keep that one.
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it) {
        if (!params.contains(it.key()))
            params.insert(it.key(), it.value());
    }

    switch (apiRouteOf(request.path())) {
    case ApiRoute::Ajax:
        serveAjax(params, response);
        break;
    case ApiRoute::SaveFile:
        serveSaveFile(params, request, response);
        break;
    case ApiRoute::LoadFile:
        serveLoadFile(request, response);
        break;
    case ApiRoute::StaticFile:
        m_staticFileController->service(request, response);
        break;
    }
}

bool MyHttpRequestHandler::admit(const HttpRequest &request, HttpResponse &response) const
{
    const RequestGate::Verdict verdict = m_gate.verdict(RequestGate::describe(request));
    if (verdict == RequestGate::Pass)
        return true;
    qWarning() << "MyHttpRequestHandler: refused" << request.method() << request.path()
               << "Host:" << request.header("Host") << "Origin:" << request.header("Origin");
    RequestGate::refuse(verdict, response);
    return false;
}

void MyHttpRequestHandler::setAllowedHosts(const QStringList &hosts)
{
    m_gate = RequestGate(hosts);
}

void MyHttpRequestHandler::serveAjax(t_GetArray &params, HttpResponse &response)
{
    const QByteArray func = params["func"];
    if (func == "downloadLog") {
        serveLogDownload(response);
        return;
    }
    const QByteArray body = func.isEmpty() ? QByteArray() : callFunction(func, params);

    response.setStatus(200, "OK");
    response.setHeader("Content-Type", "text/html; charset=utf-8");
    qDebug() << "HTTP ajax response for func:" << func << "retVal:" << body;
    response.write(body, true);
    qDebug() << "HTTP ajax response written for func:" << func;
}

void MyHttpRequestHandler::serveLogDownload(HttpResponse &response)
{
    response.setStatus(200, "OK");
    response.setHeader("Content-Type", "text/csv; charset=utf-8");
    response.setHeader("Content-Disposition", "attachment; filename=\"vexo-log.csv\"");
    response.write(m_poller->valueLog().contents(), true);
}

namespace {
using Handler = MyHttpRequestHandler;
}

// Adding a function is adding a row.
const Handler::AjaxFunction Handler::ajaxFunctions[] = {
    {"getPortSettings", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &) { return h.m_modbusEngine->getPortSettings(); }},
    {"connect", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &params) { return h.m_modbusEngine->connectModbus(params); }},
    {"disconnect", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &) { return h.m_modbusEngine->disconnectModbus(); }},
    {"readRegisters", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &params) { return h.m_modbusEngine->readRegisters(params, 0); }},
    {"writeRegisters", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &params) { return h.m_modbusEngine->writeRegisters(params, 0); }},
    {"identifySlave", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &) { return h.m_modbusEngine->identifySlave(0); }},
    {"readTable", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &params) { return h.m_modbusEngine->readTable(params); }},
    {"writeTable", AjaxFunction::ModbusLock,
     [](Handler &h, t_GetArray &params) { return h.m_modbusEngine->writeTable(params); }},
    {"getTraffic", AjaxFunction::NoLock,
     [](Handler &, t_GetArray &params) { return TrafficReport::traffic(params); }},
    {"getCounters", AjaxFunction::NoLock, [](Handler &, t_GetArray &) { return TrafficReport::counters(); }},
    {"resetCounters", AjaxFunction::NoLock,
     [](Handler &, t_GetArray &) { return TrafficReport::resetCounters(); }},
    {"getDefinitions", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return PollingReplies::definitions(*h.m_poller); }},
    {"saveDefinition", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return PollingReplies::saveDefinition(*h.m_poller, params); }},
    {"deleteDefinition", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return PollingReplies::deleteDefinition(*h.m_poller, params); }},
    {"setPolling", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return PollingReplies::setPolling(*h.m_poller, params); }},
    {"getResults", AjaxFunction::NoLock, [](Handler &h, t_GetArray &) { return PollingReplies::results(*h.m_poller); }},
    {"getLogInfo", AjaxFunction::NoLock, [](Handler &h, t_GetArray &) { return PollingReplies::logInfo(*h.m_poller); }},
    {"clearLog", AjaxFunction::NoLock, [](Handler &h, t_GetArray &) { return PollingReplies::clearLog(*h.m_poller); }},
    {"getListOfInstalledModules", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.m_modulesMngr->getListOfInstalledModules(); }},
    {"getGeneralInfo", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.m_systemFun->getGeneralInfo(); }},
    {"runFirmwareUpdater", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.runFirmwareUpdater(); }},
    {"runAsAdministrator", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) {
         emit h.restartAppAsAdmin();
         return QByteArray();
     }},
    {"runAutoUpdate", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) {
         emit h.runAutoUpdate();
         return QByteArray();
     }},
    {"startSearchingDevices", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.startSearchingDevices(); }},
    {"getSearchedDevices", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.getSearchedDevices(); }},
    {"sendEmail", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return h.m_email->sendEmail(params); }},
    {"check4Updates", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return h.m_updates->check4Updates(params); }},
    {"startUpdating", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return h.m_updates->startUpdating(params); }},
    {"getUpdateStatus", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.m_updates->getUpdateStatus(); }},
    {"getUpdateServer", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) { return h.m_updates->getUpdateServer(); }},
    {"openFtpInExplorer", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &params) { return h.openFtpInExplorer(params); }},
    {"getBrokerStatus", AjaxFunction::NoLock,
     [](Handler &h, t_GetArray &) {
         return MqttPublisher::statusReply(h.findChild<MqttPublisher *>(QString(), Qt::FindDirectChildrenOnly));
     }},
};

const MyHttpRequestHandler::AjaxFunction *MyHttpRequestHandler::findFunction(const QByteArray &func)
{
    for (const AjaxFunction &function : ajaxFunctions) {
        if (func == function.name)
            return &function;
    }
    return nullptr;
}

QByteArray MyHttpRequestHandler::callFunction(const QByteArray &func, t_GetArray &params)
{
    const AjaxFunction *function = findFunction(func);
    if (!function)
        return QByteArray();
    if (function->lock == AjaxFunction::NoLock)
        return function->call(*this, params);
    // Released when the call returns, before the reply is written.
    const std::unique_lock<DeviceLock> device(m_modbusLock, modbusLockWait);
    return device.owns_lock() ? function->call(*this, params) : QByteArray();
}

QByteArray MyHttpRequestHandler::startSearchingDevices()
{
    QMutexLocker locker(&m_deviceFinderLock);
    if (m_deviceFinder)
        m_deviceFinder->deleteLater();
    m_deviceFinder = new DeviceFinder();
    return "ok";
}

QByteArray MyHttpRequestHandler::getSearchedDevices()
{
    QMutexLocker locker(&m_deviceFinderLock);
    if (!m_deviceFinder)
        return "[]";
    const QByteArray devices = m_deviceFinder->getSearchedDevices();
    m_deviceFinder->deleteLater();
    m_deviceFinder.clear();
    return devices;
}

QByteArray MyHttpRequestHandler::runFirmwareUpdater()
{
    qDebug() << "runFirmwareUpdater";
    ProgramLauncher::startDetached("Bootloader.exe", m_systemFun->getFirmwareUpdaterArgs());
    return "{\"ok\":\"1\"}";
}

QByteArray MyHttpRequestHandler::openFtpInExplorer(t_GetArray &params)
{
    // The page percent-encodes the address once more than the request parser decodes.
    const QString address = QUrl::fromPercentEncoding(params.value("address"));
    // The file browser opens whatever it is given, local programs included: FTP only.
    if (!address.startsWith(QLatin1String("ftp://"), Qt::CaseInsensitive) &&
        !address.startsWith(QLatin1String("ftps://"), Qt::CaseInsensitive))
        return "{\"error\":\"Parameter error!\"}";
    ProgramLauncher::startUnwatched("explorer.exe", {address}, this);
    return "{\"ok\":\"FTP opened\"}";
}

void MyHttpRequestHandler::serveSaveFile(t_GetArray &params, const HttpRequest &request,
                                         HttpResponse &response)
{
    if (!params.contains("filename") || !params.contains("fileContent")) {
        response.setStatus(400, "Bad Request");
        response.write(QByteArray(), true);
        return;
    }
    const QByteArray fileName = params["filename"];
    if (fileName.contains(".pdf") && params["fileContent"].size() > maxPdfHtmlBytes) {
        response.refuseAsTooLarge();
        return;
    }
    response.setStatus(200, "OK");
    response.setHeader("Content-Disposition", "attachment; filename=" + withoutControlCharacters(fileName));
    if (fileName.contains(".pdf")) {
        response.setHeader("Content-type", "application/pdf");
        const QString html = QString::fromUtf8(params["fileContent"].constData());
        response.write(m_systemFun->createAndRetPdf(html), true);
        return;
    }
    const QByteArray contentType = request.header("Content-type");
    if (!contentType.isEmpty())
        response.setHeader("Content-type", contentType);
    response.write(params["fileContent"], true);
}

void MyHttpRequestHandler::serveLoadFile(const HttpRequest &request, HttpResponse &response)
{
    QTemporaryFile *upload = request.uploadedFile("uploadedfile");
    if (!upload) {
        response.setStatus(400, "Bad Request");
        response.write(QByteArray(), true);
        return;
    }
    response.setStatus(200, "OK");
    response.setHeader("Content-type", "text/plain");
    response.write(upload->readAll(), true);
}
