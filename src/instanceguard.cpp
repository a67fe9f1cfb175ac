#include "instanceguard.h"

#include "ipchelper.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QLocalSocket>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>

namespace {
constexpr int kStaleLockTimeMs = 5000;
constexpr int kIpcTimeoutMs = 250;
constexpr int kWaitStepMs = 100;
} // namespace

InstanceGuard::InstanceGuard()
    : m_lock(lockFilePath())
{
    m_lock.setStaleLockTime(kStaleLockTimeMs);
}

QString InstanceGuard::lockFilePath()
{
    return QDir::tempPath() + QStringLiteral("/VexoAdmin.lock");
}

bool InstanceGuard::acquire(const QString &progressText, const QString &notClosedText)
{
    if (m_lock.tryLock(0))
        return true;
    qDebug() << "[2nd] Lock zajęty. Sprawdzam poprzednią instancję. IPC =" << IpcHelper::serverName();
    if (askRunningInstanceToQuit()) {
        waitForLockWithProgress(progressText);
        return true;
    }
    if (takeOverCrashedLock())
        return true;
    showNotClosedMessage(notClosedText);
    return false;
}

bool InstanceGuard::askRunningInstanceToQuit()
{
    QLocalSocket socket;
    socket.connectToServer(IpcHelper::serverName(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(kIpcTimeoutMs))
        return false;
    qDebug() << "[2nd] Połączono z IPC. Wysyłam 'shutdown'.";
    socket.write("shutdown");
    socket.flush();
    socket.waitForBytesWritten(kIpcTimeoutMs);
    socket.disconnectFromServer();
    return true;
}

void InstanceGuard::waitForLockWithProgress(const QString &progressText)
{
    // No time limit: the previous instance was reached and is closing; the user sees why
    // we wait and the dialog stays painted between attempts.
    QProgressDialog dialog(progressText, QString(), 0, 0);
    dialog.setCancelButton(nullptr);
    dialog.setWindowTitle(QStringLiteral("Vexo"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setMinimumDuration(0);
    dialog.setWindowFlags(dialog.windowFlags() & ~Qt::WindowContextHelpButtonHint);
    dialog.show();
    while (!m_lock.tryLock(0)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, kWaitStepMs);
        QThread::msleep(kWaitStepMs);
    }
    dialog.hide();
}

bool InstanceGuard::takeOverCrashedLock()
{
    qDebug() << "[2nd] Brak nasłuchu IPC – poprzednia instancja prawdopodobnie się wysypała.";
    m_lock.removeStaleLockFile();
    if (!m_lock.tryLock(0))
        return false;
    qDebug() << "[2nd] Lock przejęty po padniętej instancji – startuję jak świeża.";
    return true;
}

void InstanceGuard::showNotClosedMessage(const QString &notClosedText)
{
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Vexo"), notClosedText, QMessageBox::Ok);
    box.exec();
}
