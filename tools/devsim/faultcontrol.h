#ifndef FAULTCONTROL_H
#define FAULTCONTROL_H

#include "faults.h"

#include <QMutex>
#include <QString>

// The faults in force for the next answer: those given at start, or, when a control file
// is named, whatever it says at the moment ("fault=NAME" and "delay=MS" lines), so that a
// test can switch the device's behaviour while it runs.
class FaultControl
{
public:
    FaultControl(const Faults &initial, const QString &controlFile);
    Faults current();

private:
    Faults m_initial;
    QString m_controlFile;
    QMutex m_mutex;
};

#endif // FAULTCONTROL_H
