#include "creator.h"

#include "elevatedlauncher.h"
#include "httplistener.h"
#include "myhttprequesthandler.h"
#include "processexit.h"
#include "programlauncher.h"
#include "requestgate.h"
#include "staticfilecontroller.h"
#include "traymenu.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QSettings>

namespace {
const char kAdminProgram[] = "/Vexo_admin.exe";
const char kSetupProgram[] = "/www/root/Vexo_setup.exe";
} // namespace

Creator::Creator(const QString &configPath, bool restarted, QObject *parent)
    : QObject(parent)
{
    auto *docrootSettings = new QSettings(configPath, QSettings::IniFormat, this);
    docrootSettings->beginGroup("docroot");
    auto *staticFileController = new StaticFileController(docrootSettings, this);
    qDebug("ServiceHelper: Starting service");

    auto *listenerSettings = new QSettings(configPath, QSettings::IniFormat, this);
    listenerSettings->beginGroup("listener");
    m_requestHandler = new MyHttpRequestHandler(staticFileController, docrootSettings, this);
    m_requestHandler->setAllowedHosts(RequestGate::configuredHosts(*listenerSettings));
    m_listener = new HttpListener(listenerSettings, m_requestHandler, this);

    auto *traySettings = new QSettings(configPath, QSettings::IniFormat, this);
    m_trayMenu = new TrayMenu(qApp, traySettings);
    connect(qApp, &QCoreApplication::aboutToQuit, m_trayMenu.data(), &QObject::deleteLater);

    reportStartup(restarted);

    connect(m_requestHandler, &MyHttpRequestHandler::restartAppAsAdmin, this,
            &Creator::slotRestartAppAsAdmin);
    connect(m_requestHandler, &MyHttpRequestHandler::runAutoUpdate, this, &Creator::slotRunAutoUpdate);
    connect(m_trayMenu.data(), &TrayMenu::exitApp, this, &Creator::slotExitApp);
}

Creator::~Creator()
{
    delete m_trayMenu.data();
}

void Creator::reportStartup(bool restarted)
{
    // A restarted program was asked for by the user a moment ago: no new browser window.
    if (!m_listener->isListening()) {
        m_trayMenu->showPortErrorMessage();
    } else if (!restarted) {
        m_trayMenu->slotLaunchBrowser();
        m_trayMenu->showListeningMessage();
    }
}

TrayMenu *Creator::trayMenu() const
{
    return m_trayMenu.data();
}

void Creator::slotRestartAppAsAdmin()
{
    // The port must be free before the elevated copy starts to listen on it.
    stopListener();
    ElevatedLauncher::start(QDir::toNativeSeparators(siblingProgram(kAdminProgram)), restartSwitch());
    leaveForSibling();
}

void Creator::slotRunAutoUpdate()
{
    stopListener();
    const QString setup = siblingProgram(kSetupProgram);
    if (ElevatedLauncher::isWindowsXp())
        ProgramLauncher::startDetached(setup, {restartSwitch()});
    else
        ElevatedLauncher::start(QDir::toNativeSeparators(setup), restartSwitch());
    leaveForSibling();
}

void Creator::slotExitApp()
{
    stopListener();
    QCoreApplication::exit(0);
}

void Creator::stopListener()
{
    // Deleting the listener closes the port and joins its connection threads.
    delete m_listener;
    m_listener = nullptr;
}

QString Creator::siblingProgram(const char *relativePath)
{
    return QCoreApplication::applicationDirPath() + QLatin1String(relativePath);
}

QString Creator::restartSwitch()
{
    return QStringLiteral("-r");
}

void Creator::leaveForSibling()
{
    // No tear-down: the lock file stays behind and the started program takes it over.
    ProcessExit::immediately(kElevatedRestartExitStatus);
}
