#include "elevatedlauncher.h"

#ifdef Q_OS_WIN
#include <QOperatingSystemVersion>
#include <qt_windows.h>
#include <shellapi.h>
#else
#include <QProcess>
#include <QStringList>
#endif

#ifdef Q_OS_WIN
void ElevatedLauncher::start(const QString &program, const QString &parameter)
{
    const QByteArray file = program.toLatin1();
    const QByteArray parameters = parameter.toLatin1();
    ShellExecuteA(nullptr, "runas", file.constData(), parameters.constData(), nullptr, SW_SHOWNORMAL);
}

bool ElevatedLauncher::isWindowsXp()
{
    return QOperatingSystemVersion::current() < QOperatingSystemVersion(QOperatingSystemVersion::Windows, 6);
}
#else
void ElevatedLauncher::start(const QString &program, const QString &parameter)
{
    QProcess::startDetached(QStringLiteral("pkexec"), {program, parameter});
}

bool ElevatedLauncher::isWindowsXp()
{
    return false;
}
#endif
