// Decodes arbitrary register contents in every layout the engine accepts, as a device's answer
// would arrive. Every reply must be an array of exactly the asked number of numbers, fixed floats
// must carry exactly the asked decimals, and integers must encode back to their very registers.
#include "registercodec.h"

#include "fuzzsupport.h"

#include <QList>

#include <cstdint>

namespace {
bool isSpecial(const QByteArray &value)
{
    return value == "nan" || value == "inf" || value == "-inf";
}

bool hasDecimals(const QByteArray &value, int decimals)
{
    const int point = value.indexOf('.');
    return isSpecial(value) ||
           (!value.contains('e') &&
            (decimals == 0 ? point < 0 : value.size() - point - 1 == decimals && point >= 0));
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray types[] = {"int", "uint", "long", "float1234", "float4321", "Int", "double", ""};
    if (size < 4)
        return 0;
    // The layouts the engine lets through: widths 16 or 32 (not a 16-bit value in a 32-bit
    // register), 0 to 20 decimals, 1 to 200 values, any type text.
    RegisterLayout layout;
    layout.regType = types[data[0] % 8];
    layout.regSize = data[1] & 1 ? 32 : 16;
    layout.valSize = layout.regSize == 32 || data[1] & 2 ? 32 : 16;
    layout.floatPrec = data[2] % 21;
    layout.valuesCnt = 1 + data[3] % 200;
    // The device's answer, most significant byte first; missing bytes read as zero.
    QVector<quint16> words;
    QVector<quint32> registers;
    for (int k = 0, width = layout.regSize / 8; k < layout.registerCount(); ++k) {
        quint32 value = 0;
        for (size_t at = 4 + size_t(k) * width; at < 4 + size_t(k + 1) * width; ++at)
            value = (value << 8) | (at < size ? data[at] : 0);
        layout.regSize == 16 ? words.append(quint16(value)) : registers.append(value);
    }

    const QByteArray reply = RegisterCodec::decode(layout, words, registers);
    if (!reply.startsWith('[') || !reply.endsWith(']'))
        fuzzFailure("reply is not an array");
    const QList<QByteArray> values = reply.mid(1, reply.size() - 2).split(',');
    if (values.size() != layout.valuesCnt)
        fuzzFailure("reply does not hold one value per requested value");
    const bool fixed = (layout.regType == "float1234" && layout.regSize == 16) ||
                       (layout.regType == "float4321" && layout.regSize == 32);
    QVector<ScriptEvaluator::Element> elements;
    for (const QByteArray &value : values) {
        bool number = false;
        value.toDouble(&number);
        if (!number && !isSpecial(value))
            fuzzFailure("a value is not a number");
        if (fixed && !hasDecimals(value, layout.floatPrec))
            fuzzFailure("fixed float without exactly the asked decimals");
        ScriptEvaluator::Element element;
        element.kind = ScriptEvaluator::Element::Number;
        element.number = value.toDouble();
        element.text = QString::fromLatin1(value);
        elements.append(element);
    }
    const bool integers = (layout.regType == "int" || layout.regType == "uint") &&
                          (layout.regSize == 16 || layout.valSize == 32);
    if (!integers && !(layout.regType == "long" && layout.regSize == 16))
        return 0;
    QVector<quint16> encodedWords;
    QVector<quint32> encodedRegisters;
    RegisterCodec::encode(layout, elements, &encodedWords, &encodedRegisters);
    if (layout.regSize == 16 ? encodedWords != words : encodedRegisters != registers)
        fuzzFailure("integer values do not encode back to their registers");
    return 0;
}
