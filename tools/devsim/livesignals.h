#ifndef LIVESIGNALS_H
#define LIVESIGNALS_H

#include <QElapsedTimer>
#include <QVector>

// A few 16-bit registers whose values move with time, so that a chart of them shows curves:
// computed from the time since start whenever they are read. Writes to them are stored but
// never seen: the next read shows the live value again.
class LiveSignals
{
public:
    static constexpr int sine = 1000;      // signed, -1000..1000, period 20 s
    static constexpr int ramp = 1001;      // 0..299, one step every 100 ms, period 30 s
    static constexpr int noisy = 1002;     // 500 +- 25, a new value on every read
    static constexpr int floatHigh = 1003; // 1003-1004: float high word first, about 21.5 (+-2), period 60 s
    static constexpr int first = sine;
    static constexpr int last = floatHigh + 1;

    LiveSignals();

    // Replaces the words of a read of words->size() registers from address that fall on the
    // live registers.
    void apply(int address, QVector<quint16> *words) const;

private:
    QElapsedTimer m_clock;
};

#endif // LIVESIGNALS_H
