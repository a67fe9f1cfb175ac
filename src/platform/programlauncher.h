#ifndef PROGRAMLAUNCHER_H
#define PROGRAMLAUNCHER_H

#include <QString>
#include <QStringList>

class QObject;

// Starts the sibling programs (firmware updater, file explorer, broadcast helper, ...).
// A program named without a directory is looked up in the working directory first, then
// on the search path; a program that is missing simply does not start.
// Threads: any thread (connection threads start the firmware updater and the file browser).
class ProgramLauncher
{
public:
    static QString resolve(const QString &program);
    static bool startDetached(const QString &program, const QStringList &arguments);
    // Starts a child process that nobody waits for, as a child of owner and from owner's
    // thread (queued when called from another): the process object goes when the program
    // ends or fails to start, or with owner. A connection thread may end before the process.
    static void startUnwatched(const QString &program, const QStringList &arguments, QObject *owner);
};

#endif // PROGRAMLAUNCHER_H
