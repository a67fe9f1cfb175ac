#ifndef REGISTERBANK_H
#define REGISTERBANK_H

#include "livesignals.h"

#include <QMutex>
#include <QVector>

// The device's holding registers: 16-bit everywhere, except a block of 32-bit registers
// at 5000-7999, and a few that move with time (LiveSignals). Shared by every client connection.
class RegisterBank
{
public:
    static constexpr int firstWide = 5000;
    static constexpr int lastWide = 7999;

    RegisterBank();

    // Whether a run of count registers from address lies wholly in one kind of register;
    // wide tells which.
    static bool isValidRange(int address, int count, bool *wide);

    QVector<quint16> read16(int address, int count);
    QVector<quint32> read32(int address, int count);
    void write16(int address, const QVector<quint16> &values);
    void write32(int address, const QVector<quint32> &values);

private:
    void preload();

    QMutex m_mutex;
    QVector<quint16> m_narrow;
    QVector<quint32> m_wide;
    LiveSignals m_live;
};

#endif // REGISTERBANK_H
