#include "jsonwriter.h"
#include "modbusengine.h"
#include "registercodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <limits>

using Words = QVector<quint16>;
using Regs = QVector<quint32>;

// Number forms, the register layouts of readRegisters and writeRegisters, and reply texts.
class TestModbusCodec : public QObject
{
    Q_OBJECT
private slots:
    void writesFloatsInTheGeneralForm()
    {
        QCOMPARE(RegisterCodec::formatGeneral(0.0001, 2), QByteArray("0.0001"));
        QCOMPARE(RegisterCodec::formatGeneral(0.00001, 2), QByteArray("1e-05"));
        QCOMPARE(RegisterCodec::formatGeneral(123456, 2), QByteArray("123456"));
        QCOMPARE(RegisterCodec::formatGeneral(-1234567, 2), QByteArray("-1.23457e+06"));
        QCOMPARE(RegisterCodec::formatGeneral(2.5, 2), QByteArray("2.5"));
        QCOMPARE(RegisterCodec::formatGeneral(1e8, 3), QByteArray("100000000.000"));
        QCOMPARE(RegisterCodec::formatGeneral(1e9, 3), QByteArray("1e+09"));
        QCOMPARE(RegisterCodec::formatGeneral(std::numeric_limits<double>::quiet_NaN(), 2),
                 QByteArray("nan"));
        QCOMPARE(RegisterCodec::formatGeneral(-std::numeric_limits<double>::quiet_NaN(), 2),
                 QByteArray("nan"));
        QCOMPARE(RegisterCodec::formatGeneral(-std::numeric_limits<double>::infinity(), 2),
                 QByteArray("-inf"));
        QCOMPARE(RegisterCodec::formatFixed(1e21, 0), QByteArray("1000000000000000000000"));
        QCOMPARE(RegisterCodec::formatFixed(-0.125, 20), QByteArray("-0.12500000000000000000"));
        QCOMPARE(RegisterCodec::formatFixed(std::numeric_limits<double>::infinity(), 2), QByteArray("inf"));
    }

    void writesRepliesInOrderWithTextsEscaped()
    {
        const struct
        {
            QString text;
            QByteArray plain;
            QByteArray slashEscaped;
        } rows[] = {
            {"", "", ""},
            {"say \"hi\"", "say \\\"hi\\\"", "say \\\"hi\\\""},
            {"a\\b/c", "a\\\\b/c", "a\\\\b\\/c"},
            {"\b\f\n\r\t", "\\b\\f\\n\\r\\t", "\\b\\f\\n\\r\\t"},
            {QString(QChar(0)) + "\x01\x1f\x7f", "\\u0000\\u0001\\u001f\x7f", "\\u0000\\u0001\\u001f\x7f"},
            {QString::fromUtf8("Zähler Ω \xf0\x9f\x98\x80"), "Z\xc3\xa4hler \xce\xa9 \xf0\x9f\x98\x80",
             "Z\xc3\xa4hler \xce\xa9 \xf0\x9f\x98\x80"},
        };
        for (const auto &row : rows) {
            QCOMPARE(JsonWriter::escaped(row.text), row.plain);
            QCOMPARE(JsonWriter::escaped(row.text, JsonWriter::Slash::Escaped), row.slashEscaped);
            const QByteArray json = JsonWriter().beginArray().string(row.text).endArray().json();
            QCOMPARE(QJsonDocument::fromJson(json).array().at(0).toString(), row.text);
        }

        JsonWriter json;
        json.beginObject().name("z").number(-1).name("a/").beginArray().endArray();
        json.name("o").beginObject().endObject().name("l").beginArray().literal("true").string("x");
        json.beginObject().name("n").number(0).endObject().endArray().endObject();
        QCOMPARE(json.json(), QByteArray(R"({"z":-1,"a/":[],"o":{},"l":[true,"x",{"n":0}]})"));
    }

    void decodesTheLegacyLayouts()
    {
        const struct
        {
            QByteArray type;
            int regSize, valSize, prec;
            Words words;
            Regs registers;
            QByteArray values;
            int transferred;
        } rows[] = {
            {"int", 16, 16, 2, {0xFFFF, 1234}, {}, "[-1,1234]", 2},
            {"uint", 16, 16, 2, {0xFFFF, 1235}, {}, "[65535,1235]", 2},
            {"Int", 16, 16, 2, {0xFFFF, 1236}, {}, "[65535,1236]", 2}, // unknown types show the plain word
            {"int", 16, 32, 2, {0xFFFE, 0xFFFF}, {}, "[-2]", 2},
            {"uint", 16, 32, 2, {0xFFFE, 0xFFFF}, {}, "[4294967294]", 2},
            // Two-register types take two registers whatever valSize says; "long" is high half first.
            {"long", 16, 16, 2, {0x0001, 0x0000}, {}, "[65536]", 2},
            {"float4321",
             16,
             32,
             2,
             {0x4148, 0, 0x4CBE, 0xBC20, 0x3421, 0x0FB0, 0x7FC0, 0, 0x7F80, 0, 0xFF80, 0, 0x4996, 0xB438,
              0x47F1, 0x205A},
             {},
             "[12.5,100000000.00,1.5e-07,nan,inf,-inf,1.23457e+06,123457]",
             16},
            {"float4321", 16, 16, 5, {0x4148, 0, 0x4CBE, 0xBC20}, {}, "[12.5,100000000.00000]", 4},
            {"float1234", 16, 32, 2, {0, 0x4148, 0, 0x4070, 0, 0xBF00}, {}, "[12.50,3.75,-0.50]", 6},
            {"float1234", 16, 32, 0, {0, 0x4070}, {}, "[4]", 2},
            {"float1234", 32, 32, 2, {}, {0x00004148}, "[12.5]", 1},
            {"float4321", 32, 32, 2, {}, {0x41480000}, "[12.50]", 1},
            {"int", 32, 32, 2, {}, {0xFFFFFFFB}, "[-5]", 1},
            {"uint", 32, 32, 2, {}, {0xFFFFFFFD}, "[4294967293]", 1},
            // No 32-bit register row for "long": the 16-bit halves of the first register show.
            {"long", 32, 32, 2, {}, {0x00020001, 0x4CBEBC20}, "[1,2]", 2},
        };
        for (const auto &row : rows) {
            const RegisterLayout layout{row.type, row.regSize, row.valSize, row.prec,
                                        int(row.values.count(',')) + 1};
            QCOMPARE(layout.registerCount(), row.transferred);
            QCOMPARE(RegisterCodec::decode(layout, row.words, row.registers), row.values);
        }
    }

    void encodesTheLegacyLayouts()
    {
        // Integers are cut toward zero and wrap; what is not a number becomes 0.
        const struct
        {
            QByteArray type;
            int regSize, valSize;
            QStringList values;
            Words words;
            Regs registers;
        } rows[] = {
            {"int",
             16,
             16,
             {"-1", "70000", "2.9", "-2.9", "1e300", "x"},
             {0xFFFF, 4464, 2, 0xFFFE, 0, 0},
             {}},
            {"uint", 16, 32, {"4294967295", "65536"}, {0xFFFF, 0xFFFF, 0, 1}, {}},
            {"int", 16, 32, {"-2"}, {0xFFFE, 0xFFFF}, {}},
            {"float4321", 16, 16, {"12.5", "-0.5"}, {0x4148, 0, 0xBF00, 0}, {}},
            {"float1234", 16, 32, {"12.5", "x"}, {0, 0x4148, 0, 0}, {}},
            {"long", 16, 32, {"65538"}, {1, 2}, {}},
            {"float1234", 32, 32, {"12.5"}, {}, {0x00004148}},
            {"float4321", 32, 32, {"12.5", "-0.5"}, {}, {0x41480000, 0xBF000000}},
            {"int", 32, 32, {"-2", "4294967295"}, {}, {0xFFFFFFFE, 0xFFFFFFFF}},
            {"long", 32, 32, {"-1"}, {}, {0xFFFFFFFF}},
            {"x", 32, 32, {"70000", "-1"}, {}, {4464, 0xFFFF}}, // any other type: one 16-bit value each
        };
        for (const auto &row : rows) {
            const RegisterLayout layout{row.type, row.regSize, row.valSize, 2, int(row.values.size())};
            QVector<ScriptEvaluator::Element> elements;
            for (const QString &text : row.values) {
                bool ok = false;
                const double number = text.toDouble(&ok);
                elements.append({ScriptEvaluator::Element::Number,
                                 ok ? number : std::numeric_limits<double>::quiet_NaN(), text});
            }
            Words words;
            Regs registers;
            RegisterCodec::encode(layout, elements, &words, &registers);
            QCOMPARE(words, row.words);
            QCOMPARE(registers, row.registers);
        }
    }

    void mapsBaudRatesToIndexes()
    {
        // Indexes stay; the two numbers past the list and the rates themselves name their entry.
        const QList<QPair<int, int>> rows = {{0, 0},    {12, 12},      {13, 11}, {14, 12},
                                             {9600, 3}, {1000000, 12}, {15, -1}, {9601, -1}};
        for (const auto &row : rows)
            QCOMPARE(ModbusEngine::baudIndexOf(row.first), row.second);
    }
};

QTEST_GUILESS_MAIN(TestModbusCodec)
#include "tst_modbuscodec.moc"
