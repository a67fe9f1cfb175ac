// Decodes arbitrary register contents in every layout the engine accepts, as a device's
// answer would arrive. Every reply must be a well-formed array of exactly the asked number
// of values, and integer values must encode back to the very registers they came from.
#include "registercodec.h"

#include "fuzzsupport.h"

#include <QList>

#include <cstdint>

namespace {
const QByteArray types[] = {"int", "uint", "long", "float1234", "float4321", "Int", "double", ""};

void fail(const char *what)
{
    fuzzFailure("register decoding", what);
}

// The layouts the engine lets through: widths 16 or 32 (not a 16-bit value in a 32-bit
// register), 0 to 20 decimals, 1 to 200 values, any type text.
RegisterLayout layoutFrom(const uint8_t *data)
{
    RegisterLayout layout;
    layout.regType = types[data[0] % (sizeof types / sizeof types[0])];
    layout.regSize = data[1] & 1 ? 32 : 16;
    layout.valSize = layout.regSize == 32 || data[1] & 2 ? 32 : 16;
    layout.floatPrec = data[2] % 21;
    layout.valuesCnt = 1 + data[3] % 200;
    return layout;
}

bool isFixed(const QByteArray &value, int decimals)
{
    if (value == "nan" || value == "inf" || value == "-inf")
        return true;
    const int point = value.indexOf('.');
    if (value.contains('e'))
        return false;
    return decimals == 0 ? point < 0 : point >= 0 && value.size() - point - 1 == decimals;
}

void checkNumber(const QByteArray &value)
{
    if (value == "nan" || value == "inf" || value == "-inf")
        return;
    bool ok = false;
    value.toDouble(&ok);
    if (!ok)
        fail("a value is not a number");
}

bool integerType(const RegisterLayout &l)
{
    if (l.regSize == 16)
        return l.regType == "int" || l.regType == "uint" || l.regType == "long";
    return l.valSize == 32 && (l.regType == "int" || l.regType == "uint");
}

void checkRoundTrip(const RegisterLayout &layout, const QList<QByteArray> &values,
                    const QVector<quint16> &words, const QVector<quint32> &registers)
{
    QVector<ScriptEvaluator::Element> elements;
    for (const QByteArray &value : values) {
        ScriptEvaluator::Element element;
        element.kind = ScriptEvaluator::Element::Number;
        element.number = value.toDouble();
        element.text = QString::fromLatin1(value);
        elements.append(element);
    }
    QVector<quint16> encodedWords;
    QVector<quint32> encodedRegisters;
    RegisterCodec::encode(layout, elements, &encodedWords, &encodedRegisters);
    if (layout.regSize == 16 ? encodedWords != words : encodedRegisters != registers)
        fail("integer values do not encode back to their registers");
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const RegisterLayout layout = layoutFrom(data);
    const int count = layout.registerCount();
    const int bytesPerRegister = layout.regSize / 8;
    QVector<quint16> words;
    QVector<quint32> registers;
    // The device's answer, most significant byte first; missing bytes read as zero.
    for (int k = 0; k < count; ++k) {
        quint32 value = 0;
        for (int b = 0; b < bytesPerRegister; ++b) {
            const size_t at = 4 + size_t(k) * bytesPerRegister + b;
            value = (value << 8) | (at < size ? data[at] : 0);
        }
        if (layout.regSize == 16)
            words.append(quint16(value));
        else
            registers.append(value);
    }

    const QByteArray reply = RegisterCodec::decode(layout, words, registers);
    if (!reply.startsWith('[') || !reply.endsWith(']'))
        fail("reply is not an array");
    const QList<QByteArray> values = reply.mid(1, reply.size() - 2).split(',');
    if (values.size() != layout.valuesCnt)
        fail("reply does not hold one value per requested value");
    const bool fixedRow = (layout.regType == "float1234" && layout.regSize == 16) ||
                          (layout.regType == "float4321" && layout.regSize == 32);
    for (const QByteArray &value : values) {
        checkNumber(value);
        if (fixedRow && !isFixed(value, layout.floatPrec))
            fail("fixed float without exactly the asked decimals");
    }
    if (integerType(layout))
        checkRoundTrip(layout, values, words, registers);
    return 0;
}
