#include "programlauncher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

QString ProgramLauncher::resolve(const QString &program)
{
    if (QFileInfo(program).isAbsolute())
        return program;
    const QFileInfo inWorkingDir(QDir::current(), program);
    if (inWorkingDir.isFile())
        return inWorkingDir.absoluteFilePath();
    return program;
}

bool ProgramLauncher::startDetached(const QString &program, const QStringList &arguments)
{
    return QProcess::startDetached(resolve(program), arguments);
}

void ProgramLauncher::startUnwatched(const QString &program, const QStringList &arguments, QObject *owner)
{
    const QString resolved = resolve(program);
    QMetaObject::invokeMethod(owner, [resolved, arguments, owner] {
        auto *process = new QProcess(owner);
        QObject::connect(process, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), process,
                         &QObject::deleteLater);
        QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                process->deleteLater();
        });
        process->start(resolved, arguments);
    });
}
