#include "inputregisters.h"

namespace {
// Register patterns worked out by hand from the values' big-endian bytes A B C D ...
// (ABCD keeps them, CDAB swaps the words, BADC the bytes in each word, DCBA both).
const quint16 typedValues[] = {
    0xFFFF,                                         // 0: int16 -1
    0x9C40,                                         // 1: uint16 40000
    0xCFC7,                                         // 2: int16 -12345
    0xC7CF,                                         // 3: int16 -12345, BADC
    0xF8A4, 0x32EB,                                 // 4-5: int32 -123456789
    0xEE6B, 0x2800,                                 // 6-7: uint32 4000000000
    0x42F6, 0xE979,                                 // 8-9: float32 123.456
    0xE979, 0x42F6,                                 // 10-11: float32 123.456, CDAB
    0xF642, 0x79E9,                                 // 12-13: float32 123.456, BADC
    0x79E9, 0xF642,                                 // 14-15: float32 123.456, DCBA
    0xEEDD, 0xEF0B, 0x8216, 0x7EEB,                 // 16-19: int64 -1234567890123456789
    0xAB54, 0xA98C, 0xEB1F, 0x0AD2,                 // 20-23: uint64 12345678901234567890
    0x4009, 0x21FB, 0x5444, 0x2D18,                 // 24-27: float64 3.141592653589793
    0x2D18, 0x5444, 0x21FB, 0x4009,                 // 28-31: the same, CDAB
    0x0940, 0xFB21, 0x4454, 0x182D,                 // 32-35: the same, BADC
    0x182D, 0x4454, 0xFB21, 0x0940,                 // 36-39: the same, DCBA
    0x5665, 0x786F, 0x2064, 0x6576, 0x7369, 0x6D00, // 40-45: ascii "Vexo devsim"
    0x6556, 0x6F78, 0x6420, 0x7665, 0x6973, 0x006D, // 46-51: the same, BADC
};
} // namespace

InputRegisters::InputRegisters()
    : m_words(size, 0)
{
    for (int i = 0; i < int(sizeof typedValues / sizeof typedValues[0]); ++i)
        m_words[i] = typedValues[i];
}

bool InputRegisters::contains(int address, int count) const
{
    return address >= 0 && count >= 1 && address + count <= size;
}

QVector<quint16> InputRegisters::read(int address, int count) const
{
    return m_words.mid(address, count);
}
