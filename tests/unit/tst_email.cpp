#include "emailform.h"
#include "toolprocess.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

// The message as delivered, rate limits and the tool's errors are tried end to end with the
// real curl in tests/blackbox/test_email.py; here the form's reading, limits and cleaning, and
// the tool's time limit, which would take the full 30 s there.
namespace {
const QStringList names = {"name", "surname", "email", "company", "phone", "module", "message"};
const QStringList jan = {"Jan", "Kowalski", "jan@example.test", "ACME", "123 456", "meter", "Hello\\nworld"};

EmailForm formOf(const QStringList &values)
{
    QStringList parts;
    for (int i = 0; i < values.size(); ++i)
        parts << QString("\"%1\":\"%2\"").arg(names.value(i, "extra"), values.at(i));
    return EmailForm(QUrl::toPercentEncoding("{" + parts.join(",") + "}"));
}
} // namespace

class TestEmailForm : public QObject
{
    Q_OBJECT
private slots:
    void controlCharactersCannotAddHeaderLines()
    {
        // The message keeps its own lines, however they arrive.
        QStringList values = jan;
        values[0] = "Jan\r\nX-Injected";
        values[3] = "AC\tME\x01";
        values[6] = "a\nb\r\nc\rd\\ne";
        const QByteArray message = formOf(values).message("0.3.16");
        QVERIFY(message.startsWith("Subject: JanX-Injected Kowalski sent a message.\r\n"));
        QVERIFY(message.contains("\r\nClient name   JanX-Injected\r\n"));
        QVERIFY(message.contains("\r\nClient company   ACME\r\n"));
        QVERIFY(message.endsWith("\r\nClient message   \r\na\r\nb\r\nc\r\nd\r\ne\r\n"));
    }

    void enforcesEachFieldsLimit()
    {
        const QList<int> limits = {20, 30, 30, 50, 25, 20, 2000};
        for (int field = 0; field < limits.size(); ++field) {
            QStringList values = jan;
            values[field] = QString(limits.at(field), QLatin1Char('x'));
            QVERIFY2(formOf(values).fitsLimits(), qPrintable(names.at(field)));
            values[field] += QLatin1Char('x');
            QVERIFY2(!formOf(values).fitsLimits(), qPrintable(names.at(field)));
        }
        // The limit counts the message as sent, before its backslash-n pairs become line breaks.
        QStringList values = jan;
        values[6] = QString(1998, QLatin1Char('x')) + "\\n";
        QVERIFY(formOf(values).fitsLimits());
        values[6] += "y";
        QVERIFY(!formOf(values).fitsLimits());
    }

    void readsFieldsByPosition()
    {
        // Colons cut a value, commas start a new field, braces and quotes vanish; fields
        // beyond the parts sent are empty.
        const EmailForm form(QUrl::toPercentEncoding(R"({"a":"Ann","b":"Lee, c","c":"x:y","d":"{Co}"})"));
        const QByteArray message = form.message("9.9");
        QVERIFY(message.startsWith("Subject: Ann Lee sent a message.\r\n"));
        for (const char *line : {"Client surname   Lee", "Client email   ", "Client company   x",
                                 "Client phone   Co", "Client Vexo active module   "})
            QVERIFY2(message.contains(QByteArray("\r\n") + line + "\r\n"), line);
        QVERIFY(message.endsWith("\r\nClient message   \r\n\r\n"));
        QVERIFY(form.fitsLimits());
    }

    void stopsAToolAtItsTimeLimit()
    {
        QTemporaryDir dir;
        const QString pidFile = dir.filePath("pid");
        QElapsedTimer timer;
        timer.start();
        const ToolProcess::Result result = ToolProcess::run(
            "/bin/sh", {"-c", "echo $$ > \"$0\"; echo started >&2; exec sleep 30", pidFile}, 300);
        QCOMPARE(result.outcome, ToolProcess::TimedOut);
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(result.errorOutput, QByteArray("started\n"));
        QFile pid(pidFile);
        QVERIFY(pid.open(QIODevice::ReadOnly));
        QVERIFY2(!QFile::exists("/proc/" + pid.readAll().trimmed()), "the tool was left running");
    }
};

QTEST_GUILESS_MAIN(TestEmailForm)
#include "tst_email.moc"
