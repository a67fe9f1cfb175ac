#include "livesignals.h"

#include <QRandomGenerator>

#include <cmath>
#include <cstring>

namespace {
constexpr double pi = 3.14159265358979323846;

double wave(double seconds, double period)
{
    return std::sin(2 * pi * seconds / period);
}

quint32 floatBits(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The values of all live registers at one moment, first to last.
QVector<quint16> liveWords(double seconds)
{
    const auto noise = [](int spread) {
        return QRandomGenerator::global()->bounded(2 * spread + 1) - spread;
    };
    const double temperature = 21.5 + 2 * wave(seconds, 60) + noise(10) / 100.0;
    const quint32 bits = floatBits(static_cast<float>(temperature));
    return {static_cast<quint16>(static_cast<qint16>(std::lround(1000 * wave(seconds, 20)))),
            static_cast<quint16>(static_cast<qint64>(seconds * 10) % 300),
            static_cast<quint16>(500 + noise(25)), static_cast<quint16>(bits >> 16),
            static_cast<quint16>(bits & 0xFFFF)};
}
} // namespace

LiveSignals::LiveSignals()
{
    m_clock.start();
}

void LiveSignals::apply(int address, QVector<quint16> *words) const
{
    const int end = address + words->size();
    if (end <= first || address > last)
        return;
    const QVector<quint16> live = liveWords(m_clock.elapsed() / 1000.0);
    for (int a = qMax(address, first); a < qMin(end, last + 1); ++a)
        (*words)[a - address] = live[a - first];
}
