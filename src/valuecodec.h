#ifndef VALUECODEC_H
#define VALUECODEC_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Turns the registers of a read into the JSON values a page shows, and the JSON values a
// page sends into registers to write, for every value type and byte order, exactly:
// integers keep every digit (64-bit ones travel as decimal strings), floats print as the
// shortest text that reads back to the same float32 or float64, and a value that does not
// fit its type is refused, never rounded into another one.
class ValueCodec
{
public:
    enum class Type
    {
        Int16,
        UInt16,
        Int32,
        UInt32,
        Float32,
        Int64,
        UInt64,
        Float64,
        Ascii // two characters per register
    };
    // Where a value's bytes lie in its registers; A is the most significant byte and the
    // letters name the bytes in the order they travel.
    enum class Order
    {
        ABCD,
        CDAB,
        BADC,
        DCBA
    };

    // From the names "int16" ... "ascii" and "ABCD" ... "DCBA"; false for any other.
    static bool typeFromName(const QByteArray &name, Type *type);
    static bool orderFromName(const QByteArray &name, Order *order);
    // 1, 2 or 4; ascii values take one register per two characters and count 1 here.
    static int registersPerValue(Type type);

    // The JSON array of the values in these registers, e.g. [12.5,"NaN"] or ["-1","2"]
    // for int64; registers left over after the last whole value are not shown. ascii
    // makes one string of all registers, trailing NUL bytes dropped.
    static QByteArray decode(const QVector<quint16> &registers, Type type, Order order);
    static QByteArray decodeBits(const QVector<quint8> &bits);

    // From the JSON array a page sends: numbers, or decimal strings ("NaN", "Infinity",
    // "-Infinity" for floats); for ascii one string, padded with NUL to whole registers.
    // Every value is checked before any register is made; on a mistake returns false
    // with the reply text in error: "Registers values error!" for an array that cannot be
    // read, "Value out of range: <value>" for a value that does not fit (a fraction for an
    // integer type, a float beyond the type's range or so small it would become zero).
    static bool encode(const QByteArray &values, Type type, Order order, QVector<quint16> *registers,
                       QString *error);
    // For bits: 0, 1, true or false.
    static bool encodeBits(const QByteArray &values, QVector<quint8> *bits, QString *error);
};

#endif // VALUECODEC_H
