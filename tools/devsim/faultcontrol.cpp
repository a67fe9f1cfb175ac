#include "faultcontrol.h"

#include <QFile>

FaultControl::FaultControl(const Faults &initial, const QString &controlFile)
    : m_initial(initial)
    , m_controlFile(controlFile)
{}

Faults FaultControl::current()
{
    QMutexLocker locker(&m_mutex);
    Faults faults = m_initial;
    if (m_controlFile.isEmpty())
        return faults;
    QFile file(m_controlFile);
    if (!file.open(QIODevice::ReadOnly))
        return faults;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        const int equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.left(equals).trimmed();
        const QByteArray value = line.mid(equals + 1).trimmed();
        if (key == "fault")
            Faults::parseMode(QString::fromLatin1(value), &faults.mode);
        else if (key == "delay")
            faults.delayMs = qMax(0, value.toInt());
    }
    return faults;
}
