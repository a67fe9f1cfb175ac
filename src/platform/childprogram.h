#ifndef CHILDPROGRAM_H
#define CHILDPROGRAM_H

#include <QObject>
#include <QStringList>

class QProcess;

// A sibling program that runs beside its owner while the owner needs it (the broadcast
// helper during a device search). It is found like every sibling program; a program that is
// missing simply does not start, and nothing checks it. It is killed by stop(), or when it
// goes with its owner.
// Threads: lives on its owner's thread and follows it to another.
class ChildProgram : public QObject
{
    Q_OBJECT
public:
    explicit ChildProgram(QObject *parent);

    void start(const QString &program, const QStringList &arguments);
    void stop();

private:
    QProcess *m_process;
};

#endif // CHILDPROGRAM_H
