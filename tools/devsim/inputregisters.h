#ifndef INPUTREGISTERS_H
#define INPUTREGISTERS_H

#include <QVector>

// The device's input registers (read only), addresses 0 to size - 1. The first ones hold
// one value of every type and byte order a master decodes (see the --help text).
class InputRegisters
{
public:
    static constexpr int size = 10000;

    InputRegisters();
    bool contains(int address, int count) const;
    QVector<quint16> read(int address, int count) const;

private:
    QVector<quint16> m_words;
};

#endif // INPUTREGISTERS_H
