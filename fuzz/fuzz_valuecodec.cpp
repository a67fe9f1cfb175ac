// Feeds the value codec what a device or a page may send: the first byte picks the value
// type, the second the byte order, the rest is read both as register contents and as the
// values text of a write. Every decoded reply must parse as a JSON array, every value
// read must encode back to the very registers it came from (NaN aside: it has many bit
// patterns and one name), and whatever a write accepts must read back and encode again
// to the same registers.
#include "valuecodec.h"

#include "fuzzsupport.h"

#include <QJsonDocument>

#include <cstdint>

namespace {
void fail(const char *what)
{
    fuzzFailure("value codec", what);
}

QByteArray asciiBytes(const QVector<quint16> &registers, ValueCodec::Order order)
{
    const bool swapped = order == ValueCodec::Order::BADC || order == ValueCodec::Order::DCBA;
    QByteArray bytes;
    for (const quint16 word : registers) {
        bytes.append(static_cast<char>(swapped ? word : word >> 8));
        bytes.append(static_cast<char>(swapped ? word >> 8 : word));
    }
    return bytes;
}

// The registers a read of these registers must write back: all of them for numbers, for
// text what is left after its trailing NULs, padded to whole registers.
QVector<quint16> expectedBack(const QVector<quint16> &registers, ValueCodec::Type type,
                              ValueCodec::Order order)
{
    if (type != ValueCodec::Type::Ascii)
        return registers.mid(0, registers.size() - registers.size() % ValueCodec::registersPerValue(type));
    QByteArray bytes = asciiBytes(registers, order);
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return registers.mid(0, (bytes.size() + 1) / 2);
}

void checkRead(const QVector<quint16> &registers, ValueCodec::Type type, ValueCodec::Order order)
{
    const QByteArray values = ValueCodec::decode(registers, type, order);
    QJsonParseError error;
    if (!QJsonDocument::fromJson(values, &error).isArray())
        fail("a read is not a JSON array");
    const QVector<quint16> expected = expectedBack(registers, type, order);
    if (values.contains("NaN") || expected.isEmpty())
        return;
    QVector<quint16> encoded;
    QString refusal;
    if (!ValueCodec::encode(values, type, order, &encoded, &refusal))
        fail("a value read is refused as a write");
    if (encoded != expected)
        fail("a value read does not write back the registers it came from");
}

void checkWrite(const QByteArray &text, ValueCodec::Type type, ValueCodec::Order order)
{
    QVector<quint16> registers;
    QString refusal;
    if (!ValueCodec::encode(text, type, order, &registers, &refusal)) {
        if (!refusal.startsWith("Registers values error!") && !refusal.startsWith("Value out of range: "))
            fail("a write is refused without a reply text");
        return;
    }
    if (registers.isEmpty())
        fail("an accepted write has no registers");
    checkRead(registers, type, order);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const auto type = static_cast<ValueCodec::Type>(data[0] % (int(ValueCodec::Type::Ascii) + 1));
    const auto order = static_cast<ValueCodec::Order>(data[1] % 4);
    const QByteArray rest(reinterpret_cast<const char *>(data + 2), int(size - 2));
    QVector<quint16> registers;
    for (int i = 0; i + 1 < rest.size() && registers.size() < 125; i += 2)
        registers.append(static_cast<quint16>((uchar(rest.at(i)) << 8) | uchar(rest.at(i + 1))));
    checkRead(registers, type, order);
    checkWrite(rest, type, order);
    return 0;
}
