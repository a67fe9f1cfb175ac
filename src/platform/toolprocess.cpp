#include "toolprocess.h"

#include <QProcess>

namespace {
const int stopWaitMs = 1000;

void startTool(QProcess &tool, const QString &program, const QStringList &arguments)
{
#ifdef Q_OS_WIN
    const QStringList items = QStringList(program) + arguments;
    tool.start(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), items.join(QLatin1Char(' '))});
#else
    tool.start(program, arguments);
#endif
}
} // namespace

ToolProcess::Result ToolProcess::run(const QString &program, const QStringList &arguments, int timeLimitMs)
{
    Result result;
    QProcess tool;
    startTool(tool, program, arguments);
    if (!tool.waitForStarted()) {
        result.failure = tool.errorString();
        return result;
    }
    const bool finished = tool.waitForFinished(timeLimitMs);
    if (!finished) {
        tool.kill();
        tool.waitForFinished(stopWaitMs);
    }
    result.outcome = finished ? Finished : TimedOut;
    result.errorOutput = tool.readAllStandardError();
    return result;
}
