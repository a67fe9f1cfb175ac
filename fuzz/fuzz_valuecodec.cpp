// Feeds the value codec what a device or a page may send: the first byte picks the value type,
// the second the byte order, the rest is read both as register contents and as the values text
// of a write. Every read must be a JSON array and encode back to the very registers it came
// from (NaN aside: many bit patterns, one name); whatever a write accepts must read back and
// encode again to the same registers.
#include "valuecodec.h"

#include "fuzzsupport.h"

#include <QJsonDocument>

#include <cstdint>

namespace {
// The registers a read of these registers must write back: all of them for numbers, for text
// what is left after its trailing NULs, padded to whole registers.
QVector<quint16> expectedBack(const QVector<quint16> &registers, ValueCodec::Type type,
                              ValueCodec::Order order)
{
    if (type != ValueCodec::Type::Ascii)
        return registers.mid(0, registers.size() - registers.size() % ValueCodec::registersPerValue(type));
    const bool swapped = order == ValueCodec::Order::BADC || order == ValueCodec::Order::DCBA;
    QByteArray bytes;
    for (const quint16 word : registers)
        bytes.append(char(swapped ? word : word >> 8)).append(char(swapped ? word >> 8 : word));
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return registers.mid(0, (bytes.size() + 1) / 2);
}

void checkRead(const QVector<quint16> &registers, ValueCodec::Type type, ValueCodec::Order order)
{
    const QByteArray values = ValueCodec::decode(registers, type, order);
    if (!QJsonDocument::fromJson(values).isArray())
        fuzzFailure("a read is not a JSON array");
    const QVector<quint16> expected = expectedBack(registers, type, order);
    if (values.contains("NaN") || expected.isEmpty())
        return;
    QVector<quint16> encoded;
    QString refusal;
    if (!ValueCodec::encode(values, type, order, &encoded, &refusal))
        fuzzFailure("a value read is refused as a write");
    if (encoded != expected)
        fuzzFailure("a value read does not write back the registers it came from");
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
        registers.append(quint16((uchar(rest.at(i)) << 8) | uchar(rest.at(i + 1))));
    checkRead(registers, type, order);

    QVector<quint16> written;
    QString refusal;
    if (!ValueCodec::encode(rest, type, order, &written, &refusal)) {
        if (!refusal.startsWith("Registers values error!") && !refusal.startsWith("Value out of range: "))
            fuzzFailure("a write is refused without a reply text");
    } else if (written.isEmpty()) {
        fuzzFailure("an accepted write has no registers");
    } else {
        checkRead(written, type, order);
    }
    return 0;
}
