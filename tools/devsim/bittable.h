#ifndef BITTABLE_H
#define BITTABLE_H

#include <QBitArray>
#include <QByteArray>
#include <QMutex>

// A table of single bits (coils or discrete inputs), addresses 0 to size - 1, shared by
// every client connection. Bits travel packed: address first in the lowest bit of the
// first byte.
class BitTable
{
public:
    // preload: packed bits from address 0 on.
    BitTable(int size, const QByteArray &preload);

    bool contains(int address, int count) const;
    QByteArray packed(int address, int count);
    void write(int address, int count, const QByteArray &packed);

private:
    mutable QMutex m_mutex;
    QBitArray m_bits;
};

#endif // BITTABLE_H
