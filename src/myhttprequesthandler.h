#ifndef MYHTTPREQUESTHANDLER_H
#define MYHTTPREQUESTHANDLER_H

#include "devicelock.h"
#include "getarray.h"
#include "httprequesthandler.h"
#include "requestgate.h"

#include <QMutex>
#include <QPointer>

#include <chrono>

class DeviceFinder;
class Email;
class ModbusEngine;
class ModulesMngr;
class Poller;
class QSettings;
class StaticFileController;
class SystemFun;
class Updates;

// Routes every request: the AJAX API, the save and load endpoints, and static files.
// Threads: lives on the main thread; service() runs on the connection threads, several at once.
class MyHttpRequestHandler : public HttpRequestHandler
{
    Q_OBJECT
public:
    MyHttpRequestHandler(StaticFileController *staticFileController, QSettings *settings,
                         QObject *parent = nullptr);
    ~MyHttpRequestHandler() override;

    // The longest a Modbus function waits for the device; then it answers with an empty body.
    static constexpr std::chrono::milliseconds modbusLockWait{10000};

    void service(HttpRequest &request, HttpResponse &response) override;
    // Host names this machine is also known by; set before the listener starts.
    void setAllowedHosts(const QStringList &hosts);

signals:
    void restartAppAsAdmin();
    void runAutoUpdate();

private:
    // One row of the AJAX function table: the name the page sends (matched exactly, letter
    // case included), whether it talks to the device, and what serves it.
    struct AjaxFunction
    {
        enum Lock
        {
            NoLock,
            ModbusLock
        };
        const char *name;
        Lock lock;
        QByteArray (*call)(MyHttpRequestHandler &handler, t_GetArray &params);
    };
    static const AjaxFunction ajaxFunctions[];
    static const AjaxFunction *findFunction(const QByteArray &func);

    bool admit(const HttpRequest &request, HttpResponse &response) const;
    void serveAjax(t_GetArray &params, HttpResponse &response);
    void serveLogDownload(HttpResponse &response);
    QByteArray callFunction(const QByteArray &func, t_GetArray &params);
    QByteArray startSearchingDevices();
    QByteArray getSearchedDevices();
    QByteArray runFirmwareUpdater();
    QByteArray openFtpInExplorer(t_GetArray &params);
    void serveSaveFile(t_GetArray &params, const HttpRequest &request, HttpResponse &response);
    void serveLoadFile(const HttpRequest &request, HttpResponse &response);

    StaticFileController *m_staticFileController;
    ModbusEngine *m_modbusEngine;
    ModulesMngr *m_modulesMngr;
    QSettings *m_settings;
    Updates *m_updates;
    Email *m_email;
    // A search lives on the connection thread that started it, so it cannot be our child.
    QPointer<DeviceFinder> m_deviceFinder;
    QMutex m_deviceFinderLock;
    SystemFun *m_systemFun;
    // Makes the Modbus functions mutually exclusive across connections: the engine keeps one
    // connection to one device.
    DeviceLock m_modbusLock;
    // Reads through the engine under the lock on a thread of its own: stopped before either goes.
    Poller *m_poller;
    RequestGate m_gate;
};

#endif // MYHTTPREQUESTHANDLER_H
