#ifndef POLLRESULT_H
#define POLLRESULT_H

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>

// One polled read of a read definition, whole: what a page, the value log or any other
// subscriber needs, copied by value so that it crosses threads safely.
struct PollResult
{
    int id = 0;      // the definition's
    QString name;    // the definition's, at the time of the read
    quint64 seq = 0; // the traffic record of the read's (last) transaction; 0 if none went out
    QDateTime time;  // when the request went out, or when the read was given up
    int slave = 0;
    QString table; // coils, discrete, input or holding
    int fc = 0;
    int addr = 0;
    int count = 0;         // as the definition counts: bits, values, or ascii registers
    QVector<quint16> regs; // registers or bits as they came off the wire; empty on an error
    QByteArray values;     // the JSON array of the values; "[]" on an error
    double ms = 0;
    QString error; // empty on success

    // ISO 8601 with milliseconds and the UTC offset.
    QString timeText() const
    {
        return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
    }
};

Q_DECLARE_METATYPE(PollResult)

#endif // POLLRESULT_H
