#include "bittable.h"

BitTable::BitTable(int size, const QByteArray &preload)
    : m_bits(size)
{
    write(0, qMin(size, preload.size() * 8), preload);
}

bool BitTable::contains(int address, int count) const
{
    return address >= 0 && count >= 1 && address + count <= m_bits.size();
}

QByteArray BitTable::packed(int address, int count)
{
    QMutexLocker locker(&m_mutex);
    QByteArray bytes((count + 7) / 8, '\0');
    for (int i = 0; i < count; ++i) {
        if (m_bits.testBit(address + i))
            bytes[i / 8] = static_cast<char>(bytes[i / 8] | (1 << (i % 8)));
    }
    return bytes;
}

void BitTable::write(int address, int count, const QByteArray &packed)
{
    QMutexLocker locker(&m_mutex);
    for (int i = 0; i < count; ++i)
        m_bits.setBit(address + i, (static_cast<unsigned char>(packed.at(i / 8)) >> (i % 8)) & 1);
}
