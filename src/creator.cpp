#include "creator.h"

#include "httplistener.h"
#include "myhttprequesthandler.h"
#include "staticfilecontroller.h"

#include <QDebug>
#include <QSettings>

Creator::Creator(const QString &configPath, bool restarted, QObject *parent) : QObject(parent)
{
    Q_UNUSED(restarted)
    auto *docrootSettings = new QSettings(configPath, QSettings::IniFormat, this);
    docrootSettings->beginGroup("docroot");
    auto *staticFileController = new StaticFileController(docrootSettings, this);
    qDebug("ServiceHelper: Starting service");

    auto *listenerSettings = new QSettings(configPath, QSettings::IniFormat, this);
    listenerSettings->beginGroup("listener");
    m_requestHandler = new MyHttpRequestHandler(staticFileController, docrootSettings, this);
    m_listener = new HttpListener(listenerSettings, m_requestHandler, this);
}
