#ifndef TOOLPROCESS_H
#define TOOLPROCESS_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs an outside command-line tool to its end and collects its error output. On Windows the
// tool is started as designed, through the command interpreter ("cmd.exe" "/c" and one command
// line: the program and its arguments joined by blanks). Elsewhere it is started directly with
// its argument list, never through a shell, so no argument is ever interpreted by one. A tool
// still running at the time limit is killed.
// Threads: blocks the calling thread (a connection thread) until the tool ends or is killed.
class ToolProcess
{
public:
    enum Outcome
    {
        Finished,
        FailedToStart,
        TimedOut
    };

    struct Result
    {
        Outcome outcome = FailedToStart;
        QByteArray errorOutput; // what the tool wrote to its error output, up to its end or stop
        QString failure;        // why it did not start
    };

    static Result run(const QString &program, const QStringList &arguments, int timeLimitMs);
};

#endif // TOOLPROCESS_H
