#ifndef COMMANDINTERPRETER_H
#define COMMANDINTERPRETER_H

#include <QString>
#include <QStringList>

// The system's command interpreter, for outside tools run by one command line.
class CommandInterpreter
{
public:
    static QString program();
    static QStringList arguments(const QString &commandLine);
};

#endif // COMMANDINTERPRETER_H
