#ifndef TABLEOUTCOME_H
#define TABLEOUTCOME_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>

// What one readTable or writeTable brought back, with the traffic record of its (last)
// transaction: seq, time and ms stay 0 and invalid when nothing went out.
struct TableOutcome
{
    int fc = 0;
    QVector<quint16> regs; // registers, or bits as 0 and 1, as they came off the wire
    QByteArray values;     // the JSON array of the values read
    quint64 seq = 0;
    QDateTime time;
    double ms = 0;
    QString error; // empty on success

    bool ok() const { return error.isEmpty(); }
};

#endif // TABLEOUTCOME_H
