#include "valuecodec.h"

#include "jsonscalararray.h"
#include "jsonwriter.h"

#include <QByteArrayList>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

namespace {
using Type = ValueCodec::Type;
using Order = ValueCodec::Order;
using Element = JsonScalarArray::Element;

const QByteArrayList typeNames = {"int16", "uint16", "int32",   "uint32", "float32",
                                  "int64", "uint64", "float64", "ascii"};
const QByteArrayList orderNames = {"ABCD", "CDAB", "BADC", "DCBA"};
const QString valuesError = QStringLiteral("Registers values error!");
// More decimal digits than any 64-bit magnitude has.
constexpr int maxIntegerDigits = 20;
constexpr int maxExponent = 100000;

bool swapsWords(Order order)
{
    return order == Order::CDAB || order == Order::DCBA;
}

bool swapsBytes(Order order)
{
    return order == Order::BADC || order == Order::DCBA;
}

quint16 byteSwapped(quint16 word)
{
    return static_cast<quint16>((word << 8) | (word >> 8));
}

// The value's bits from its registers (width of them, from first on).
quint64 gather(const QVector<quint16> &registers, int first, int width, Order order)
{
    quint64 bits = 0;
    for (int i = 0; i < width; ++i) {
        const int index = first + (swapsWords(order) ? width - 1 - i : i);
        const quint16 word = registers.at(index);
        bits = (bits << 16) | (swapsBytes(order) ? byteSwapped(word) : word);
    }
    return bits;
}

// The registers of a value of width registers with these bits (the low 16 * width).
void place(quint64 bits, int width, Order order, QVector<quint16> *registers)
{
    QVector<quint16> words(width);
    for (int i = 0; i < width; ++i) {
        const auto word = static_cast<quint16>(bits >> (16 * (width - 1 - i)));
        words[swapsWords(order) ? width - 1 - i : i] = swapsBytes(order) ? byteSwapped(word) : word;
    }
    *registers += words;
}

template<typename Float, typename Bits> Float floatFromBits(Bits bits)
{
    Float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

template<typename Bits, typename Float> Bits bitsFromFloat(Float value)
{
    Bits bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

template<typename Float> QByteArray floatText(Float value)
{
    if (std::isnan(value))
        return "\"NaN\"";
    if (std::isinf(value))
        return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
    char text[64];
    const auto written = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(written.ptr - text));
}

QByteArray quoted(const QByteArray &text)
{
    return '"' + text + '"';
}

QByteArray valueText(quint64 bits, Type type)
{
    switch (type) {
    case Type::Int16:
        return QByteArray::number(static_cast<qint16>(bits));
    case Type::UInt16:
        return QByteArray::number(static_cast<quint16>(bits));
    case Type::Int32:
        return QByteArray::number(static_cast<qint32>(bits));
    case Type::UInt32:
        return QByteArray::number(static_cast<quint32>(bits));
    case Type::Float32:
        return floatText(floatFromBits<float>(static_cast<quint32>(bits)));
    case Type::Int64:
        return quoted(QByteArray::number(static_cast<qint64>(bits)));
    case Type::UInt64:
        return quoted(QByteArray::number(bits));
    case Type::Float64:
        return floatText(floatFromBits<double>(bits));
    case Type::Ascii:
        break;
    }
    return QByteArray();
}

QByteArray asciiText(const QVector<quint16> &registers, Order order)
{
    QByteArray bytes;
    for (const quint16 word : registers) {
        const quint16 inOrder = swapsBytes(order) ? byteSwapped(word) : word;
        bytes.append(static_cast<char>(inOrder >> 8));
        bytes.append(static_cast<char>(inOrder));
    }
    while (bytes.endsWith('\0'))
        bytes.chop(1);
    return quoted(JsonWriter::escaped(QString::fromLatin1(bytes.constData(), bytes.size())));
}

QString outOfRange(const Element &element)
{
    const QString value =
        element.kind == Element::Kind::Number ? QString::fromLatin1(element.number) : element.string;
    return QStringLiteral("Value out of range: ") + value;
}

// What a number or string element says, as text; a string with characters beyond Latin-1
// can never read as a number.
QByteArray textOf(const Element &element)
{
    return element.kind == Element::Kind::Number ? element.number : element.string.toLatin1();
}

enum class Exactness
{
    Integer,
    NotInteger,
    TooLarge
};

// The exact integer a JSON number's text names, whatever form it is written in (12,
// 1.2e1, 120e-1), as sign and magnitude; no double ever holds it.
Exactness exactInteger(const QByteArray &number, bool *negative, quint64 *magnitude)
{
    *negative = number.startsWith('-');
    QByteArray digits;
    int exponent = 0; // the power of ten the digits are multiplied by
    bool inFraction = false;
    int at = *negative ? 1 : 0;
    for (; at < number.size() && number.at(at) != 'e' && number.at(at) != 'E'; ++at) {
        if (number.at(at) == '.') {
            inFraction = true;
            continue;
        }
        digits.append(number.at(at));
        if (inFraction)
            --exponent;
    }
    if (at < number.size()) {
        bool ok = false;
        const int given = number.mid(at + 1).toInt(&ok);
        // An exponent beyond int says no more than a very large one does.
        exponent += ok ? qBound(-maxExponent, given, maxExponent)
                       : (number.at(at + 1) == '-' ? -maxExponent : maxExponent);
    }
    int firstSignificant = 0;
    while (firstSignificant < digits.size() && digits.at(firstSignificant) == '0')
        ++firstSignificant;
    digits = digits.mid(firstSignificant);
    *magnitude = 0;
    if (digits.isEmpty())
        return Exactness::Integer;
    if (exponent < 0) {
        const QByteArray fraction = digits.right(-exponent);
        if (-exponent > digits.size() || fraction.count('0') != fraction.size())
            return Exactness::NotInteger;
        digits.chop(-exponent);
    } else if (digits.size() + exponent > maxIntegerDigits) {
        return Exactness::TooLarge;
    } else {
        digits.append(QByteArray(exponent, '0'));
    }
    const auto parsed = std::from_chars(digits.constData(), digits.constData() + digits.size(), *magnitude);
    return parsed.ec == std::errc() ? Exactness::Integer : Exactness::TooLarge;
}

// The range of an integer type as the largest negative and positive magnitudes.
void integerRange(Type type, quint64 *maxNegative, quint64 *maxPositive)
{
    const int bits = 16 * ValueCodec::registersPerValue(type);
    const bool isSigned = type == Type::Int16 || type == Type::Int32 || type == Type::Int64;
    const quint64 all = bits == 64 ? std::numeric_limits<quint64>::max() : (quint64(1) << bits) - 1;
    *maxNegative = isSigned ? all / 2 + 1 : 0;
    *maxPositive = isSigned ? all / 2 : all;
}

template<typename Float> bool floatFromText(const QByteArray &text, Float *value)
{
    if (text == "NaN")
        *value = std::numeric_limits<Float>::quiet_NaN();
    else if (text == "Infinity" || text == "-Infinity")
        *value = text.startsWith('-') ? -std::numeric_limits<Float>::infinity()
                                      : std::numeric_limits<Float>::infinity();
    else
        return std::from_chars(text.constData(), text.constData() + text.size(), *value).ec == std::errc();
    return true;
}

enum class Verdict
{
    Fits,
    Unreadable,
    OutOfRange
};

Verdict floatBits(const Element &element, Type type, quint64 *bits)
{
    const QByteArray text = textOf(element);
    const bool special =
        element.kind == Element::Kind::String && (text == "NaN" || text == "Infinity" || text == "-Infinity");
    if (!special && !JsonScalarArray::isNumber(text))
        return Verdict::Unreadable;
    if (type == Type::Float32) {
        float value = 0;
        if (!floatFromText(text, &value))
            return Verdict::OutOfRange;
        *bits = bitsFromFloat<quint32>(value);
    } else {
        double value = 0;
        if (!floatFromText(text, &value))
            return Verdict::OutOfRange;
        *bits = bitsFromFloat<quint64>(value);
    }
    return Verdict::Fits;
}

Verdict integerBits(const Element &element, Type type, quint64 *bits)
{
    const QByteArray text = textOf(element);
    if (!JsonScalarArray::isNumber(text))
        return Verdict::Unreadable;
    bool negative = false;
    quint64 magnitude = 0;
    if (exactInteger(text, &negative, &magnitude) != Exactness::Integer)
        return Verdict::OutOfRange;
    quint64 maxNegative = 0;
    quint64 maxPositive = 0;
    integerRange(type, &maxNegative, &maxPositive);
    if (magnitude > (negative ? maxNegative : maxPositive))
        return Verdict::OutOfRange;
    *bits = negative ? ~magnitude + 1 : magnitude;
    return Verdict::Fits;
}

Verdict valueBits(const Element &element, Type type, quint64 *bits)
{
    if (type == Type::Float32 || type == Type::Float64)
        return floatBits(element, type, bits);
    return integerBits(element, type, bits);
}

bool refuse(const QString &text, QString *error)
{
    *error = text;
    return false;
}

bool encodeText(const Element &element, Order order, QVector<quint16> *registers, QString *error)
{
    if (element.kind != Element::Kind::String || element.string.isEmpty())
        return refuse(valuesError, error);
    QByteArray bytes;
    for (const QChar c : element.string) {
        if (c.unicode() > 0xFF)
            return refuse(outOfRange(element), error);
        bytes.append(static_cast<char>(c.unicode()));
    }
    if (bytes.size() % 2)
        bytes.append('\0');
    for (int i = 0; i < bytes.size(); i += 2) {
        const auto word = static_cast<quint16>((static_cast<uchar>(bytes.at(i)) << 8) |
                                               static_cast<uchar>(bytes.at(i + 1)));
        registers->append(swapsBytes(order) ? byteSwapped(word) : word);
    }
    return true;
}

} // namespace

bool ValueCodec::typeFromName(const QByteArray &name, Type *type)
{
    const int index = typeNames.indexOf(name);
    if (index >= 0)
        *type = static_cast<Type>(index);
    return index >= 0;
}

bool ValueCodec::orderFromName(const QByteArray &name, Order *order)
{
    const int index = orderNames.indexOf(name);
    if (index >= 0)
        *order = static_cast<Order>(index);
    return index >= 0;
}

int ValueCodec::registersPerValue(Type type)
{
    switch (type) {
    case Type::Int32:
    case Type::UInt32:
    case Type::Float32:
        return 2;
    case Type::Int64:
    case Type::UInt64:
    case Type::Float64:
        return 4;
    default:
        return 1;
    }
}

QByteArray ValueCodec::decode(const QVector<quint16> &registers, Type type, Order order)
{
    if (type == Type::Ascii)
        return '[' + asciiText(registers, order) + ']';
    const int width = registersPerValue(type);
    QByteArrayList values;
    for (int first = 0; first + width <= registers.size(); first += width)
        values.append(valueText(gather(registers, first, width, order), type));
    return '[' + values.join(',') + ']';
}

QByteArray ValueCodec::decodeBits(const QVector<quint8> &bits)
{
    QByteArrayList values;
    for (const quint8 bit : bits)
        values.append(bit ? "1" : "0");
    return '[' + values.join(',') + ']';
}

bool ValueCodec::encode(const QByteArray &values, Type type, Order order, QVector<quint16> *registers,
                        QString *error)
{
    registers->clear();
    QVector<Element> elements;
    if (!JsonScalarArray::parse(values, &elements) || elements.isEmpty())
        return refuse(valuesError, error);
    if (type == Type::Ascii) {
        if (elements.size() != 1)
            return refuse(valuesError, error);
        return encodeText(elements.first(), order, registers, error);
    }
    const int width = registersPerValue(type);
    QVector<quint16> made;
    for (const Element &element : elements) {
        quint64 bits = 0;
        const Verdict verdict =
            element.kind == Element::Kind::Boolean ? Verdict::Unreadable : valueBits(element, type, &bits);
        if (verdict == Verdict::Unreadable)
            return refuse(valuesError, error);
        if (verdict == Verdict::OutOfRange)
            return refuse(outOfRange(element), error);
        place(bits, width, order, &made);
    }
    *registers = made;
    return true;
}

bool ValueCodec::encodeBits(const QByteArray &values, QVector<quint8> *bits, QString *error)
{
    bits->clear();
    QVector<Element> elements;
    if (!JsonScalarArray::parse(values, &elements) || elements.isEmpty())
        return refuse(valuesError, error);
    QVector<quint8> made;
    for (const Element &element : elements) {
        if (element.kind == Element::Kind::String)
            return refuse(valuesError, error);
        bool negative = false;
        quint64 magnitude = element.boolean ? 1 : 0;
        if (element.kind == Element::Kind::Number &&
            (exactInteger(element.number, &negative, &magnitude) != Exactness::Integer || magnitude > 1 ||
             (negative && magnitude)))
            return refuse(outOfRange(element), error);
        made.append(static_cast<quint8>(magnitude));
    }
    *bits = made;
    return true;
}
