#ifndef REGISTERCODEC_H
#define REGISTERCODEC_H

#include "scriptevaluator.h"

#include <QByteArray>
#include <QVector>

// How the values of one read or write lie in the registers: the type, the register and
// value widths, and how many values.
struct RegisterLayout
{
    QByteArray regType = "int";
    int regSize = 16;
    int valSize = 16;
    int floatPrec = 2;
    int valuesCnt = 0;

    // Floats and "long" always span two 16-bit registers, whatever valSize says, so that
    // no value is ever joined from registers that were not transferred.
    bool twoWordsPerValue() const;
    int registerCount() const;
};

// Turns received registers into the JSON array of values, and script values into
// registers to send. 16-bit registers are held as words, 32-bit registers as whole values.
// Threads: keeps no state; called on the connection threads.
class RegisterCodec
{
public:
    static QByteArray decode(const RegisterLayout &layout, const QVector<quint16> &words,
                             const QVector<quint32> &registers);
    static void encode(const RegisterLayout &layout, const QVector<ScriptEvaluator::Element> &elements,
                       QVector<quint16> *words, QVector<quint32> *registers);

    static QByteArray formatFixed(double value, int decimals);
    static QByteArray formatGeneral(double value, int decimals);
};

#endif // REGISTERCODEC_H
