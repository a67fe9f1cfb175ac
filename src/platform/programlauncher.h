#ifndef PROGRAMLAUNCHER_H
#define PROGRAMLAUNCHER_H

#include <QString>
#include <QStringList>

// Starts the sibling programs (firmware updater, file explorer, broadcast helper, ...).
// A program named without a directory is looked up in the working directory first, then
// on the search path; a program that is missing simply does not start.
// Threads: any thread (connection threads start the firmware updater and the file browser).
class ProgramLauncher
{
public:
    static QString resolve(const QString &program);
    static bool startDetached(const QString &program, const QStringList &arguments);
    // Starts a child process that nobody waits for; it deletes itself when it ends or
    // fails to start. Needs an event loop on the calling thread.
    static void startUnwatched(const QString &program, const QStringList &arguments);
};

#endif // PROGRAMLAUNCHER_H
