#include "registerbank.h"

namespace {
constexpr int addressSpace = 65536;
}

RegisterBank::RegisterBank()
    : m_narrow(addressSpace, 0)
    , m_wide(lastWide - firstWide + 1, 0)
{
    preload();
}

void RegisterBank::preload()
{
    // Values one recognises in the browser at once.
    const quint16 narrow[] = {1234,   0xFFFF, 0x4148, 0x0000, 0x0000,
                              0x4148, 0x0001, 0x0000, 42,     7}; // -1, 12.5 both word orders, 65536
    for (int i = 0; i < int(sizeof narrow / sizeof narrow[0]); ++i)
        m_narrow[i] = narrow[i];
    // -100000 as a 32-bit value low word first; a float NaN high word first.
    const quint16 pairs[] = {0x7960, 0xFFFE, 0x7FC0, 0x0000};
    for (int i = 0; i < int(sizeof pairs / sizeof pairs[0]); ++i)
        m_narrow[10 + i] = pairs[i];
    for (int i = 100; i < 110; ++i)
        m_narrow[i] = static_cast<quint16>(i);
    m_wide[0] = 123456789;
    m_wide[1] = 0x41480000; // 12.5
    m_wide[2] = 0xFFFFFFFF;
    m_wide[3] = 0x00004148; // 12.5 with its halves exchanged
}

bool RegisterBank::isValidRange(int address, int count, bool *wide)
{
    if (address < 0 || count < 1 || address + count > addressSpace)
        return false;
    const int last = address + count - 1;
    *wide = address >= firstWide && address <= lastWide;
    if (*wide)
        return last <= lastWide;
    return last < firstWide || address > lastWide;
}

QVector<quint16> RegisterBank::read16(int address, int count)
{
    QMutexLocker locker(&m_mutex);
    QVector<quint16> words = m_narrow.mid(address, count);
    m_live.apply(address, &words);
    return words;
}

QVector<quint32> RegisterBank::read32(int address, int count)
{
    QMutexLocker locker(&m_mutex);
    return m_wide.mid(address - firstWide, count);
}

void RegisterBank::write16(int address, const QVector<quint16> &values)
{
    QMutexLocker locker(&m_mutex);
    for (int i = 0; i < values.size(); ++i)
        m_narrow[address + i] = values[i];
}

void RegisterBank::write32(int address, const QVector<quint32> &values)
{
    QMutexLocker locker(&m_mutex);
    for (int i = 0; i < values.size(); ++i)
        m_wide[address - firstWide + i] = values[i];
}
