#include "scriptevaluator.h"

#include <QElapsedTimer>
#include <QtTest>

class TestScriptEvaluator : public QObject
{
    Q_OBJECT
private slots:
    void convertsPrimitiveElements()
    {
        const auto result = ScriptEvaluator::evaluateArray("[1, \"2.5\", true, {}, -3.75]");
        QVERIFY(result.valid);
        QVERIFY(result.isArray);
        QCOMPARE(result.length, 5);
        QCOMPARE(result.elements.size(), 5);
        QCOMPARE(result.elements[0].kind, ScriptEvaluator::Element::Number);
        QCOMPARE(result.elements[0].number, 1.0);
        QCOMPARE(result.elements[1].kind, ScriptEvaluator::Element::String);
        QCOMPARE(result.elements[1].number, 2.5);
        QCOMPARE(result.elements[1].text, QString("2.5"));
        QCOMPARE(result.elements[2].number, 1.0);
        QCOMPARE(result.elements[3].kind, ScriptEvaluator::Element::Other);
        QVERIFY(qIsNaN(result.elements[3].number));
        QCOMPARE(result.elements[4].number, -3.75);
    }

    void refusesNonArraysAndErrors()
    {
        QVERIFY(!ScriptEvaluator::evaluateArray("42").isArray);
        QVERIFY(!ScriptEvaluator::evaluateArray("{\"a\":1}").isArray);
        QVERIFY(!ScriptEvaluator::evaluateArray("[1,").valid);
        QVERIFY(!ScriptEvaluator::evaluateArray("throw 1").valid);
    }

    void limitsElementsToTheRequestedCount()
    {
        const auto result = ScriptEvaluator::evaluateArray("var a = []; a.length = 4000000000; a", 3);
        QVERIFY(result.valid);
        QCOMPARE(result.length, Q_INT64_C(4000000000));
        QCOMPARE(result.elements.size(), 3);
    }

    void interruptsRunawayScripts()
    {
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!ScriptEvaluator::evaluateArray("while (true) {}", 10, 200).valid);
        const auto proxied = ScriptEvaluator::evaluateArray(
            "new Proxy([], {get: function(t, k) { while (true) {} }})", 10, 200);
        QVERIFY(!(proxied.valid && proxied.isArray && !proxied.elements.isEmpty()));
        QVERIFY(!ScriptEvaluator::evaluateArray(
                     "var a = [1]; Object.defineProperty(a, 0, {get: function() { while (true) {} }}); a", 10,
                     200)
                     .valid);
        QVERIFY(timer.elapsed() < 5000);
        // The engine is usable again afterwards.
        QCOMPARE(ScriptEvaluator::evaluateArray("[7]").elements.value(0).number, 7.0);
    }

    void refusesOversizedAndDeeplyNestedTexts()
    {
        const QString deep = QString(65, '[') + QString(65, ']');
        QVERIFY(!ScriptEvaluator::evaluateArray(deep).valid);
        const QString allowed = QString(64, '[') + QString(64, ']');
        QVERIFY(ScriptEvaluator::evaluateArray(allowed).valid);
        QVERIFY(!ScriptEvaluator::evaluateArray(QString(200000, '(') + "1").valid);
        QString huge = "[" + QString(ScriptEvaluator::maxTextLength, ' ') + "]";
        QVERIFY(!ScriptEvaluator::evaluateArray(huge).valid);
    }
};

QTEST_GUILESS_MAIN(TestScriptEvaluator)
#include "tst_scriptevaluator.moc"
