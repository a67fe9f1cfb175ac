#include "registercodec.h"

#include <QString>

#include <cmath>
#include <cstring>

namespace {
constexpr double twoTo32 = 4294967296.0;
constexpr double shownFixedInGeneralForm = 100000000.0;

float floatFromBits(quint32 bits)
{
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

quint32 bitsFromFloat(float value)
{
    quint32 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

quint32 swapHalves(quint32 value)
{
    return (value << 16) | (value >> 16);
}

quint32 lowFirst(const QVector<quint16> &w, int i)
{
    return w[2 * i] | (quint32(w[2 * i + 1]) << 16);
}
quint32 highFirst(const QVector<quint16> &w, int i)
{
    return (quint32(w[2 * i]) << 16) | w[2 * i + 1];
}

// Word k of the 32-bit registers as they lie in memory: the low half of each comes first.
quint16 wordOfRegisters(const QVector<quint32> &r, int k)
{
    return static_cast<quint16>(r[k / 2] >> (k % 2 == 0 ? 0 : 16));
}

void storeLowFirst(QVector<quint16> *w, int i, quint32 value)
{
    (*w)[2 * i] = static_cast<quint16>(value);
    (*w)[2 * i + 1] = static_cast<quint16>(value >> 16);
}

void storeHighFirst(QVector<quint16> *w, int i, quint32 value)
{
    (*w)[2 * i] = static_cast<quint16>(value >> 16);
    (*w)[2 * i + 1] = static_cast<quint16>(value);
}

// An integer cut toward zero, wrapped into 32 bits as two's complement does.
quint32 wrappedInteger(double number)
{
    if (!std::isfinite(number))
        return 0;
    double wrapped = std::fmod(std::trunc(number), twoTo32);
    if (wrapped < 0)
        wrapped += twoTo32;
    return static_cast<quint32>(wrapped);
}

float floatOf(const ScriptEvaluator::Element &element)
{
    bool ok = false;
    const float value = element.text.toFloat(&ok);
    return ok ? value : 0.0f;
}

QByteArray decodeValue(const RegisterLayout &l, const QVector<quint16> &w, const QVector<quint32> &r, int i)
{
    const QByteArray &type = l.regType;
    const bool words = l.regSize == 16;
    if (type == "float4321" && words)
        return RegisterCodec::formatGeneral(floatFromBits(highFirst(w, i)), l.floatPrec);
    if (type == "float1234" && !words)
        return RegisterCodec::formatGeneral(floatFromBits(swapHalves(r[i])), l.floatPrec);
    if (type == "float1234" && words)
        return RegisterCodec::formatFixed(floatFromBits(lowFirst(w, i)), l.floatPrec);
    if (type == "float4321" && !words)
        return RegisterCodec::formatFixed(floatFromBits(r[i]), l.floatPrec);
    if (type == "long" && words)
        return QByteArray::number(highFirst(w, i));
    if (type == "int" && l.valSize == 16)
        return QByteArray::number(static_cast<qint16>(w[i]));
    const bool wide = l.valSize == 32 && (type == "int" || type == "uint");
    if (wide) {
        const quint32 value = words ? lowFirst(w, i) : r[i];
        return type == "int" ? QByteArray::number(static_cast<qint32>(value)) : QByteArray::number(value);
    }
    return QByteArray::number(words ? w[i] : wordOfRegisters(r, i));
}

void encodeValue(const RegisterLayout &l, const ScriptEvaluator::Element &e, QVector<quint16> *w,
                 QVector<quint32> *r, int i)
{
    const QByteArray &type = l.regType;
    const bool words = l.regSize == 16;
    if (type == "float4321" || type == "float1234") {
        const quint32 bits = bitsFromFloat(floatOf(e));
        if (words)
            type == "float4321" ? storeHighFirst(w, i, bits) : storeLowFirst(w, i, bits);
        else
            (*r)[i] = type == "float4321" ? bits : swapHalves(bits);
        return;
    }
    const quint32 integer = wrappedInteger(e.number);
    if (type == "long") {
        // Mirrors the reading side: the first register holds the high half.
        words ? storeHighFirst(w, i, integer) : void((*r)[i] = integer);
        return;
    }
    if (l.valSize == 32 && (type == "int" || type == "uint")) {
        words ? storeLowFirst(w, i, integer) : void((*r)[i] = integer);
        return;
    }
    // Everything else is one 16-bit value per register, also in a 32-bit register.
    words ? void((*w)[i] = static_cast<quint16>(integer)) : void((*r)[i] = integer & 0xFFFFu);
}
} // namespace

bool RegisterLayout::twoWordsPerValue() const
{
    return regSize == 16 &&
           (valSize == 32 || regType == "float1234" || regType == "float4321" || regType == "long");
}

int RegisterLayout::registerCount() const
{
    return twoWordsPerValue() ? 2 * valuesCnt : valuesCnt;
}

QByteArray RegisterCodec::decode(const RegisterLayout &layout, const QVector<quint16> &words,
                                 const QVector<quint32> &registers)
{
    QByteArray reply = "[";
    for (int i = 0; i < layout.valuesCnt; ++i) {
        if (i > 0)
            reply += ',';
        reply += decodeValue(layout, words, registers, i);
    }
    return reply + ']';
}

void RegisterCodec::encode(const RegisterLayout &layout, const QVector<ScriptEvaluator::Element> &elements,
                           QVector<quint16> *words, QVector<quint32> *registers)
{
    if (layout.regSize == 16)
        words->fill(0, layout.registerCount());
    else
        registers->fill(0, layout.registerCount());
    const int count = qMin(layout.valuesCnt, elements.size());
    for (int i = 0; i < count; ++i)
        encodeValue(layout, elements[i], words, registers, i);
}

QByteArray RegisterCodec::formatFixed(double value, int decimals)
{
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    return QByteArray::number(value, 'f', decimals);
}

QByteArray RegisterCodec::formatGeneral(double value, int decimals)
{
    if (value == shownFixedInGeneralForm)
        return formatFixed(value, decimals);
    if (std::isnan(value))
        return "nan";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    return QByteArray::number(value, 'g', 6);
}
