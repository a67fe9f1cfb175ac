#include "childprogram.h"

#include "programlauncher.h"

#include <QProcess>

ChildProgram::ChildProgram(QObject *parent)
    : QObject(parent)
    , m_process(new QProcess(this))
{}

void ChildProgram::start(const QString &program, const QStringList &arguments)
{
    m_process->start(ProgramLauncher::resolve(program), arguments, QIODevice::ReadWrite);
}

void ChildProgram::stop()
{
    m_process->kill();
}
