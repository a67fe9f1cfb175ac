#include "registercodec.h"

#include <QtTest>

#include <limits>

// Number forms and register layouts that the device tests do not reach one by one.
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
