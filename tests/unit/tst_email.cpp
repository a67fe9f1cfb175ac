#include "email.h"
#include "emailform.h"
#include "testenv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {
const char *const user = "sender@vexo.test";
const char *const password = "abc123def4";
const char *const recipient = "support@vexo.test";
const QByteArray sent = R"({"status":"ok!"})";
const QByteArray failed = R"({"status":"err!"})";
const QByteArray tooLong = R"({"error":"err2!"})";

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// The form as the page sends it: JSON-like text, percent-encoded once more.
QByteArray formValue(const QStringList &values)
{
    const QStringList names = {"name", "surname", "email", "company", "phone", "module", "message"};
    QStringList parts;
    for (int i = 0; i < values.size(); ++i)
        parts << QString("\"%1\":\"%2\"").arg(names.value(i, "extra"), values.at(i));
    return QUrl::toPercentEncoding("{" + parts.join(",") + "}");
}

QByteArray send(Email &email, const QStringList &values)
{
    t_GetArray params{{"json", formValue(values)}};
    return email.sendEmail(params);
}

const QStringList jan = {"Jan", "Kowalski", "jan@example.test", "ACME", "123 456", "meter", "Hello\\nworld"};

// A local SMTPS mailbox on port 465 of a loopback address of its own.
class Mailbox
{
public:
    Mailbox()
    {
        const QString script = vexoSourceDir() + "/tests/blackbox/smtpsserver.py";
        m_process.start("/usr/bin/python3",
                        {script, "--dir", m_dir.path(), "--user", user, "--password", password});
        if (m_process.waitForReadyRead(15000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("listening on "))
                m_host = QString::fromLatin1(line.mid(13));
        }
    }
    ~Mailbox()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    QString host() const { return m_host; }
    QString failure() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }
    int count() const { return QDir(m_dir.path()).entryList({"*.eml"}).size(); }
    QByteArray message(int n) const { return readFile(m_dir.filePath(QString("%1.eml").arg(n))); }
    QJsonObject envelope(int n) const
    {
        return QJsonDocument::fromJson(readFile(m_dir.filePath(QString("%1.json").arg(n)))).object();
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_host;
};

#define REQUIRE_MAILBOX(box)                                                                                 \
    if ((box).host().isEmpty())                                                                              \
    QSKIP(qPrintable("no SMTPS mailbox on port 465 (needs root and python3-aiosmtpd): " + (box).failure()))
} // namespace

class TestEmail : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_home;
    QTemporaryDir m_work;

    QString writeConfig(const QString &server, const QString &pass = password)
    {
        const QString path = m_work.filePath("config.ini");
        QFile::remove(path);
        QSettings config(path, QSettings::IniFormat);
        config.beginGroup("email");
        config.setValue("server", server);
        config.setValue("from", user);
        config.setValue("password", pass);
        config.setValue("to", recipient);
        return path;
    }
    QString unreachableServer()
    {
        // Nothing listens on port 465 of this address.
        return "127.0.0.1";
    }

private slots:
    void initTestCase()
    {
        // The settings store and the message files stay inside the test's own folders.
        qputenv("XDG_CONFIG_HOME", m_home.path().toUtf8());
        QCoreApplication::setOrganizationName("Torva");
        QCoreApplication::setApplicationName("Vexo");
        QVERIFY(QDir::setCurrent(m_work.path()));
    }

    void init()
    {
        QSettings().clear();
        QFile::remove("emailMessage.txt");
        QFile::remove("emailError.txt");
    }

    void deliversTheMessageWithItsExactLines()
    {
        Mailbox mailbox;
        REQUIRE_MAILBOX(mailbox);
        Email email(writeConfig(mailbox.host()), nullptr);
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        QCOMPARE(send(email, jan), sent);

        const QByteArray expected = "Subject: Jan Kowalski sent a message.\r\n"
                                    "MIME-Version: 1.0\r\n"
                                    "Content-Transfer-Encoding: 8bit\r\n"
                                    "Content-Type: text/plain;charset=utf-8\r\n"
                                    "Client name   Jan\r\n"
                                    "Client surname   Kowalski\r\n"
                                    "Client email   jan@example.test\r\n"
                                    "Client company   ACME\r\n"
                                    "Client phone   123 456\r\n"
                                    "Client Vexo version   0.3.16\r\n"
                                    "Client Vexo active module   meter\r\n"
                                    "Client message   \r\n"
                                    "Hello world\r\n";
        QCOMPARE(readFile("emailMessage.txt"), expected);
        QCOMPARE(mailbox.count(), 1);
        QCOMPARE(mailbox.message(1), expected);
        QCOMPARE(mailbox.envelope(1).value("from").toString(), QString(user));
        QCOMPARE(mailbox.envelope(1).value("to").toVariant().toStringList(), QStringList(recipient));
        QVERIFY(mailbox.envelope(1).value("authenticated").toBool());

        QSettings store;
        QVERIFY(store.value("time").toDateTime() >= before);
        QCOMPARE(store.value("how_many_email_send").toInt(), 1);
        QVERIFY(!QFileInfo::exists("emailError.txt"));
    }

    void reportsARefusedLoginAndAMissingTool()
    {
        Mailbox mailbox;
        REQUIRE_MAILBOX(mailbox);
        Email email(writeConfig(mailbox.host(), "wrongpass1"), nullptr);
        QCOMPARE(send(email, jan), failed);
        QVERIFY2(readFile("emailError.txt").contains("curl: (67)"), readFile("emailError.txt").constData());
        QCOMPARE(mailbox.count(), 0);
        QVERIFY(!QSettings().contains("time"));

        // Without the tool on the search path the interpreter's complaint names it.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", m_work.path().toUtf8());
        const QByteArray reply = send(email, jan);
        qputenv("PATH", path);
        QCOMPARE(reply, failed);
        QVERIFY(readFile("emailError.txt").contains("curl"));
        QVERIFY(!QSettings().contains("time"));
    }

    void limitsMailsByTimeAndCount()
    {
        Mailbox mailbox;
        REQUIRE_MAILBOX(mailbox);
        Email email(writeConfig(mailbox.host()), nullptr);
        QSettings store;

        store.setValue("time", QDateTime::currentDateTime().addSecs(-10));
        store.sync();
        const QByteArray early = send(email, jan);
        QVERIFY2(early == R"({"status":"time","timeleft":"890"})" ||
                     early == R"({"status":"time","timeleft":"889"})",
                 early.constData());
        QVERIFY(!QFileInfo::exists("emailMessage.txt"));

        store.setValue("time", QDateTime::currentDateTime().addSecs(-900));
        store.sync();
        QCOMPARE(send(email, jan), sent);
        for (int i = 2; i <= 3; ++i) {
            store.remove("time");
            store.sync();
            QCOMPARE(send(email, jan), sent);
        }
        QCOMPARE(mailbox.count(), 3);
        QCOMPARE(store.value("how_many_email_send").toInt(), 3);

        // The fourth of a run is answered as sent, after a pause, and goes nowhere.
        store.remove("time");
        store.sync();
        QFile::remove("emailMessage.txt");
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(send(email, jan), sent);
        QVERIFY(timer.elapsed() >= 1400);
        QVERIFY(!QFileInfo::exists("emailMessage.txt"));
        QCOMPARE(mailbox.count(), 3);
        QVERIFY(!store.contains("time"));
    }

    void enforcesFieldLimits()
    {
        // Nothing listens there: a form within its limits gets as far as the tool.
        Email email(writeConfig(unreachableServer()), nullptr);
        t_GetArray none;
        QCOMPARE(email.sendEmail(none), QByteArray(R"({"error":"Parameter error!"})"));

        const QList<int> limits = {20, 30, 30, 50, 25, 20, 2000};
        for (int field = 0; field < limits.size(); ++field) {
            QStringList values = jan;
            values[field] = QString(limits.at(field), QLatin1Char('x'));
            QCOMPARE(send(email, values), failed);
            values[field] = QString(limits.at(field) + 1, QLatin1Char('x'));
            QFile::remove("emailMessage.txt");
            QCOMPARE(send(email, values), tooLong);
            QVERIFY(!QFileInfo::exists("emailMessage.txt"));
        }
        // The limit counts the message as sent, before its backslash-n pairs become blanks.
        QStringList values = jan;
        values[6] = QString(1998, QLatin1Char('x')) + "\\n";
        QCOMPARE(send(email, values), failed);
        values[6] += "y";
        QCOMPARE(send(email, values), tooLong);
    }

    void readsFieldsByPosition()
    {
        // Colons cut a value, commas start a new field, braces and quotes vanish.
        const EmailForm form(QUrl::toPercentEncoding(R"({"a":"Ann","b":"Lee, c","c":"x:y","d":"{Co}"})"));
        const QByteArray message = form.message("9.9");
        QVERIFY(message.startsWith("Subject: Ann Lee sent a message.\r\n"));
        QVERIFY(message.contains("\r\nClient surname   Lee\r\n"));
        QVERIFY(message.contains("\r\nClient email   \r\n")); // the part " c" has no colon
        QVERIFY(message.contains("\r\nClient company   x\r\n"));
        QVERIFY(message.contains("\r\nClient phone   Co\r\n"));
        QVERIFY(message.contains("\r\nClient Vexo version   9.9\r\n"));
        QVERIFY(message.endsWith("\r\nClient message   \r\n\r\n"));
        QVERIFY(form.fitsLimits());
    }
};

QTEST_GUILESS_MAIN(TestEmail)
#include "tst_email.moc"
