#include "browserrecorder.h"

#include <QDesktopServices>

BrowserRecorder::BrowserRecorder()
{
    QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open");
}

BrowserRecorder::~BrowserRecorder()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
}

void BrowserRecorder::open(const QUrl &url)
{
    urls << url;
}
