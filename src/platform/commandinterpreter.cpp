#include "commandinterpreter.h"

QString CommandInterpreter::program()
{
#ifdef Q_OS_WIN
    return QStringLiteral("cmd.exe");
#else
    return QStringLiteral("/bin/sh");
#endif
}

QStringList CommandInterpreter::arguments(const QString &commandLine)
{
#ifdef Q_OS_WIN
    return {QStringLiteral("/c"), commandLine};
#else
    return {QStringLiteral("-c"), commandLine};
#endif
}
