#include "valuecodec.h"

#include <QtTest>

using Registers = QVector<quint16>;

namespace {
const QString valuesError = QStringLiteral("Registers values error!");

ValueCodec::Type typeNamed(const QByteArray &name)
{
    ValueCodec::Type type = ValueCodec::Type::Int16;
    if (!ValueCodec::typeFromName(name, &type))
        qFatal("unknown type %s", name.constData());
    return type;
}

ValueCodec::Order orderNamed(const QByteArray &name)
{
    ValueCodec::Order order = ValueCodec::Order::ABCD;
    if (!ValueCodec::orderFromName(name, &order))
        qFatal("unknown order %s", name.constData());
    return order;
}
} // namespace

// Register patterns below are worked out by hand from the value's IEEE 754 or two's
// complement bytes, not by the code under test.
class TestValueCodec : public QObject
{
    Q_OBJECT
private slots:
    void decodesRegistersAndReadsItsOwnTextBack_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<bool>("roundTrips");
        const auto row = [](const char *name, const char *type, const char *order, const Registers &registers,
                            const char *values, bool roundTrips = true) {
            QTest::newRow(name) << QByteArray(type) << QByteArray(order) << registers << QByteArray(values)
                                << roundTrips;
        };
        row("int16 min max", "int16", "ABCD", {0x8000, 0x7FFF, 0xFFFF}, "[-32768,32767,-1]");
        row("int16 BADC", "int16", "BADC", {0x3412, 0x7FFF}, "[4660,-129]");
        row("int16 CDAB is ABCD", "int16", "CDAB", {0x1234}, "[4660]");
        row("uint16 max", "uint16", "DCBA", {0xFFFF, 0x0100}, "[65535,1]");
        row("int32 min max", "int32", "ABCD", {0x8000, 0x0000, 0x7FFF, 0xFFFF}, "[-2147483648,2147483647]");
        row("int32 CDAB", "int32", "CDAB", {0x0000, 0x8000}, "[-2147483648]");
        row("uint32 max, leftover register", "uint32", "ABCD", {0xFFFF, 0xFFFF, 0x0001}, "[4294967295]",
            false);
        row("float32 0.1 ABCD", "float32", "ABCD", {0x3DCC, 0xCCCD}, "[0.1]");
        row("float32 0.1 CDAB", "float32", "CDAB", {0xCCCD, 0x3DCC}, "[0.1]");
        row("float32 0.1 BADC", "float32", "BADC", {0xCC3D, 0xCDCC}, "[0.1]");
        row("float32 0.1 DCBA", "float32", "DCBA", {0xCDCC, 0xCC3D}, "[0.1]");
        row("float32 -0", "float32", "ABCD", {0x8000, 0x0000}, "[-0]");
        row("float32 denormals", "float32", "ABCD", {0x0000, 0x0001, 0x007F, 0xFFFF},
            "[1e-45,1.1754942e-38]");
        row("float32 max", "float32", "ABCD", {0x7F7F, 0xFFFF, 0xFF7F, 0xFFFF},
            "[3.4028235e+38,-3.4028235e+38]");
        row("float32 NaN and infinities", "float32", "ABCD", {0x7FC0, 0x0000, 0x7F80, 0x0000, 0xFF80, 0x0000},
            "[\"NaN\",\"Infinity\",\"-Infinity\"]");
        row("int64 min", "int64", "ABCD", {0x8000, 0, 0, 0}, "[\"-9223372036854775808\"]");
        row("int64 max", "int64", "ABCD", {0x7FFF, 0xFFFF, 0xFFFF, 0xFFFF}, "[\"9223372036854775807\"]");
        row("int64 2^53+1 ABCD", "int64", "ABCD", {0x0020, 0, 0, 0x0001}, "[\"9007199254740993\"]");
        row("int64 2^53+1 CDAB", "int64", "CDAB", {0x0001, 0, 0, 0x0020}, "[\"9007199254740993\"]");
        row("int64 2^53+1 BADC", "int64", "BADC", {0x2000, 0, 0, 0x0100}, "[\"9007199254740993\"]");
        row("int64 2^53+1 DCBA", "int64", "DCBA", {0x0100, 0, 0, 0x2000}, "[\"9007199254740993\"]");
        row("uint64 max", "uint64", "ABCD", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}, "[\"18446744073709551615\"]");
        row("float64 0.1", "float64", "ABCD", {0x3FB9, 0x9999, 0x9999, 0x999A}, "[0.1]");
        row("float64 pi DCBA", "float64", "DCBA", {0x182D, 0x4454, 0xFB21, 0x0940}, "[3.141592653589793]");
        row("float64 denormal, -0", "float64", "ABCD", {0, 0, 0, 1, 0x8000, 0, 0, 0}, "[5e-324,-0]");
        row("float64 max, NaN", "float64", "ABCD", {0x7FEF, 0xFFFF, 0xFFFF, 0xFFFF, 0x7FF8, 0, 0, 0},
            "[1.7976931348623157e+308,\"NaN\"]");
        row("ascii odd length", "ascii", "ABCD", {0x6162, 0x6300}, "[\"abc\"]");
        row("ascii BADC", "ascii", "BADC", {0x6261, 0x0063}, "[\"abc\"]");
        row("ascii DCBA keeps register order", "ascii", "DCBA", {0x6261, 0x6463}, "[\"abcd\"]");
        row("ascii trailing NULs", "ascii", "ABCD", {0x4100, 0x0000}, "[\"A\"]", false);
        row("ascii control and inner NUL", "ascii", "ABCD", {0x0141, 0x0042, 0x22E9},
            "[\"\\u0001A\\u0000B\\\"\xC3\xA9\"]");
    }

    void decodesRegistersAndReadsItsOwnTextBack()
    {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, order);
        QFETCH(Registers, registers);
        QFETCH(QByteArray, values);
        QFETCH(bool, roundTrips);
        QCOMPARE(ValueCodec::decode(registers, typeNamed(type), orderNamed(order)), values);
        if (!roundTrips)
            return;
        Registers encoded;
        QString error;
        QVERIFY2(ValueCodec::encode(values, typeNamed(type), orderNamed(order), &encoded, &error),
                 qPrintable(error));
        QCOMPARE(encoded, registers);
    }

    void encodesExactlyOrRefuses_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("order");
        QTest::addColumn<QByteArray>("values");
        QTest::addColumn<Registers>("registers");
        QTest::addColumn<QString>("error");
        const auto row = [](const char *name, const char *type, const char *order, const char *values,
                            const Registers &registers, const QString &error = QString()) {
            QTest::newRow(name) << QByteArray(type) << QByteArray(order) << QByteArray(values) << registers
                                << error;
        };
        const auto refused = [&row](const char *name, const char *type, const char *values,
                                    const QString &error) { row(name, type, "ABCD", values, {}, error); };
        const auto outOfRange = [](const char *value) {
            return QStringLiteral("Value out of range: ") + value;
        };
        row("int16 from strings and forms", "int16", "ABCD", " [ \"-5\" , 1.5e1, 120e-1, -0, 0.0e9 ] ",
            {0xFFFB, 15, 12, 0, 0});
        refused("int16 above max", "int16", "[32767,32768]", outOfRange("32768"));
        refused("int16 fraction", "int16", "[12.5]", outOfRange("12.5"));
        refused("int16 tiny exponent", "int16", "[1e-99999999999]", outOfRange("1e-99999999999"));
        refused("int16 huge exponent", "int16", "[1e99999999999]", outOfRange("1e99999999999"));
        refused("int16 below min", "int16", "[-32769]", outOfRange("-32769"));
        refused("uint16 negative", "uint16", "[-1]", outOfRange("-1"));
        refused("uint16 above max", "uint16", "[65536]", outOfRange("65536"));
        refused("int32 above max", "int32", "[2147483648]", outOfRange("2147483648"));
        row("uint32 max", "uint32", "BADC", "[4294967295]", {0xFFFF, 0xFFFF});
        refused("uint32 above max", "uint32", "[\"4294967296\"]", outOfRange("4294967296"));
        row("int64 2^53+1 as a number", "int64", "ABCD", "[9007199254740993]", {0x0020, 0, 0, 1});
        refused("int64 above max", "int64", "[\"9223372036854775808\"]", outOfRange("9223372036854775808"));
        row("uint64 max", "uint64", "CDAB", "[\"18446744073709551615\"]", {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
        refused("uint64 above max", "uint64", "[\"18446744073709551616\"]",
                outOfRange("18446744073709551616"));
        refused("uint64 negative", "uint64", "[\"-1\"]", outOfRange("-1"));
        row("float32 rounds to nearest", "float32", "ABCD", "[0.1, 16777217]",
            {0x3DCC, 0xCCCD, 0x4B80, 0x0000});
        row("float32 specials", "float32", "CDAB", "[\"NaN\",\"-Infinity\"]",
            {0x0000, 0x7FC0, 0x0000, 0xFF80});
        refused("float32 overflow", "float32", "[3.5e38]", outOfRange("3.5e38"));
        refused("float32 underflow", "float32", "[1e-50]", outOfRange("1e-50"));
        refused("float NaN as a number text", "float32", "[\"nan\"]", valuesError);
        row("float64 denormal", "float64", "BADC", "[\"4.9e-324\"]", {0, 0, 0, 0x0100});
        refused("float64 overflow", "float64", "[1e309]", outOfRange("1e309"));
        row("ascii Latin-1", "ascii", "ABCD", "[\"\\u00e9\"]", {0xE900});
        refused("ascii beyond Latin-1", "ascii", "[\"a\xE2\x82\xAC\"]", outOfRange("a\u20AC"));
        refused("ascii two strings", "ascii", "[\"a\",\"b\"]", valuesError);
        refused("ascii number", "ascii", "[1]", valuesError);
        refused("ascii empty", "ascii", "[\"\"]", valuesError);
        refused("boolean for a register", "int16", "[true]", valuesError);
        refused("text for a number", "int16", "[\"0x10\"]", valuesError);
        refused("empty", "int16", "[]", valuesError);
        refused("not an array", "int16", "1", valuesError);
        refused("null", "int16", "[null]", valuesError);
        refused("nested", "int16", "[[1]]", valuesError);
        refused("trailing comma", "int16", "[1,]", valuesError);
        refused("trailing text", "int16", "[1] 2", valuesError);
        refused("leading zero", "int16", "[01]", valuesError);
        refused("bad escape", "ascii", "[\"\\x41\"]", valuesError);
        refused("raw control character", "ascii", "[\"a\tb\"]", valuesError);
        refused("unterminated", "ascii", "[\"abc", valuesError);
    }

    void encodesExactlyOrRefuses()
    {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, order);
        QFETCH(QByteArray, values);
        QFETCH(Registers, registers);
        QFETCH(QString, error);
        Registers encoded;
        QString refusal;
        QCOMPARE(ValueCodec::encode(values, typeNamed(type), orderNamed(order), &encoded, &refusal),
                 error.isEmpty());
        QCOMPARE(refusal, error);
        QCOMPARE(encoded, registers);
    }

    void codesBitsAndNames()
    {
        QVector<quint8> bits;
        QString error;
        QVERIFY(ValueCodec::encodeBits("[0,1,true,false,1.0e0]", &bits, &error));
        QCOMPARE(bits, (QVector<quint8>{0, 1, 1, 0, 1}));
        QCOMPARE(ValueCodec::decodeBits(bits), QByteArray("[0,1,1,0,1]"));
        QVERIFY(!ValueCodec::encodeBits("[2]", &bits, &error));
        QCOMPARE(error, QString("Value out of range: 2"));
        QVERIFY(!ValueCodec::encodeBits("[-1]", &bits, &error));
        QCOMPARE(error, QString("Value out of range: -1"));
        QVERIFY(!ValueCodec::encodeBits("[\"1\"]", &bits, &error));
        QCOMPARE(error, valuesError);

        // Names are exact; the tables above use every one of them.
        ValueCodec::Type type;
        ValueCodec::Order order;
        QVERIFY(!ValueCodec::typeFromName("INT16", &type));
        QVERIFY(!ValueCodec::orderFromName("abcd", &order));
    }
};

QTEST_GUILESS_MAIN(TestValueCodec)
#include "tst_valuecodec.moc"
