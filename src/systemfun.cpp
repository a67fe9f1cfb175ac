#include "systemfun.h"

#include "modbusengine.h"
#include "selfcontainedtextdocument.h"
#include "usersettings.h"

#include <QDebug>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QSettings>
#include <QTemporaryFile>

namespace {
const int pdfDotsPerInch = 96;

// Switches of this build, sent to the browser interface as bare numbers.
const int canUpdate = 1;
const int canAddNewModules = 1;
const int canUpdateFirmware = 1;
const int canSendMailReport = 0;
const int canAutoUpdateModules = 0;

const int defaultBaudCode = 2;
} // namespace

SystemFun::SystemFun(QObject *parent)
    : QObject(parent)
{
    baudCodes = {{2400, 0},  {4800, 1},  {9600, 2},  {14400, 3},
                 {19200, 4}, {38400, 6}, {57600, 7}, {115200, 9}};
    loadFontsOnThisThread();
}

// The font database fills itself on first use. Doing that here, on the thread that owns the
// application, keeps the first PDF rendering on a connection thread from doing it.
void SystemFun::loadFontsOnThisThread()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return;
    QTextDocument probe;
    probe.setPlainText(QStringLiteral("Vexo"));
    probe.size();
}

QByteArray SystemFun::getGeneralInfo() const
{
    const QString notice =
        QStringLiteral("Vexo Modbus gateway \u00a9 the Vexo developers. All rights reserved.");
    QString info = QStringLiteral("{\"ver\":\"") + QStringLiteral(VEXO_VERSION);
    info += QStringLiteral("\",\"canUpdate\":") + QString::number(canUpdate);
    info += QStringLiteral(",\"canAddNewModules\":") + QString::number(canAddNewModules);
    info += QStringLiteral(",\"canUpdateFirmware\":") + QString::number(canUpdateFirmware);
    info += QStringLiteral(",\"canSendMailReport\":") + QString::number(canSendMailReport);
    info += QStringLiteral(",\"canAutoUpdateModules\":") + QString::number(canAutoUpdateModules);
    info += QStringLiteral(", \"copy\":\"<span>") + notice + QStringLiteral("</span><br />") +
            QStringLiteral(
                "<img src=\\\"images/min_logo.gif\\\" style=\\\"width: 150px; margin-top: 5px;\\\">\"");
    info += QStringLiteral(", \"langList\":[\"EN\",\"PL\",\"ESP\",\"DE\",\"IT\",\"FR\"]");
    info += QStringLiteral(",\"osType\":\"other\"}");
    return info.toUtf8();
}

QByteArray SystemFun::createAndRetPdf(const QString &html) const
{
    qDebug() << "createAndRetPdf: HTML to render:" << html;
    QMutexLocker locker(&m_pdfLock);
    SelfContainedTextDocument document;
    QTemporaryFile pdfFile;
    if (!pdfFile.open())
        return QByteArray();

    document.setUntrustedHtml(html);
    qDebug() << "createAndRetPdf: document text:" << document.toPlainText();

    // The PDF writer needs no print system, so it may be used off the GUI thread.
    QPdfWriter writer(pdfFile.fileName());
    writer.setResolution(pdfDotsPerInch);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(0, 4, 0, 4), QPageLayout::Millimeter);
    const QRect page = writer.pageLayout().paintRectPixels(pdfDotsPerInch);
    document.setPageSize(QSizeF(page.right() - page.left() + 1, page.bottom() - page.top() + 1));
    document.print(&writer);
    return pdfFile.readAll();
}

QStringList SystemFun::getFirmwareUpdaterArgs() const
{
    const QSettings settings;
    const int slaveId = UserSettings::slaveId.value(settings).toInt();
    const int baudIndex = UserSettings::baudRate.value(settings).toInt();
    const int mode = UserSettings::mode.value(settings).toInt();
    const int deviceTypeId = UserSettings::torvaId.value(settings).toInt();
    const int selectedPort = UserSettings::selectedPort.value(settings).toInt();

    const int baudCode = baudCodeOf(ModbusEngine::baudRateFromIndex(baudIndex));
    return {QString::number(static_cast<qint16>(selectedPort - 1)), QString::number(baudCode),
            QString::number(static_cast<qint16>(mode + 3)), QString::number(static_cast<qint16>(slaveId)),
            QString::number(deviceTypeId)};
}

int SystemFun::baudCodeOf(int baudRate) const
{
    if (baudRate > 0 && baudCodes.contains(baudRate))
        return baudCodes.value(baudRate);
    return defaultBaudCode;
}
