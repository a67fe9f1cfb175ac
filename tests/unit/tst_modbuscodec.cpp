#include "jsonwriter.h"
#include "registercodec.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <limits>

// Number forms, register layouts and reply texts that the device tests do not reach one by one.
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

    void encodesOnlyTheRegistersOfTheRequest()
    {
        RegisterLayout layout;
        layout.regType = "uint";
        layout.valuesCnt = 2;
        QVector<ScriptEvaluator::Element> elements(2);
        elements[0].number = 1e300; // beyond every integer width: wraps like the rest
        elements[1].number = std::numeric_limits<double>::quiet_NaN();
        QVector<quint16> words;
        QVector<quint32> registers;
        RegisterCodec::encode(layout, elements, &words, &registers);
        QCOMPARE(words.size(), 2);
        QCOMPARE(words[1], quint16(0));
        QVERIFY(registers.isEmpty());
        layout.regSize = 32;
        layout.valSize = 32;
        elements[0].number = -1;
        RegisterCodec::encode(layout, elements, &words, &registers);
        QCOMPARE(registers, QVector<quint32>({0xFFFFFFFF, 0}));
    }
};

QTEST_GUILESS_MAIN(TestModbusCodec)
#include "tst_modbuscodec.moc"
