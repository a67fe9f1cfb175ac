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
    for (int i = 100; i < 110; ++i)
        m_narrow[i] = static_cast<quint16>(i);
    m_wide[0] = 123456789;
    m_wide[1] = 0x41480000; // 12.5
    m_wide[2] = 0xFFFFFFFF;
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
    return m_narrow.mid(address, count);
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
