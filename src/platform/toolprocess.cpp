#include "toolprocess.h"

#include <QProcess>

namespace {
const int stopWaitMs = 1000;
}

ToolProcess::Result ToolProcess::run(const QString &program, const QStringList &arguments, int timeLimitMs)
{
    Result result;
    QProcess tool;
    tool.start(program, arguments);
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
