#include "email.h"

#include "commandinterpreter.h"
#include "emailform.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QThread>

namespace {
const char *const messageFile = "emailMessage.txt";
const char *const errorFile = "emailError.txt";
const qint64 minSecondsBetweenSends = 900;
const int maxSendsPerRun = 3;
const int dropPauseMs = 1500;
const int toolTimeLimitMs = 30000;
const int toolStopWaitMs = 1000;

QString configFileBesideExecutable()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/config.ini");
}

// The tool's error output, as Latin-1 up to its first NUL byte.
QString latin1UpToNul(const QByteArray &bytes)
{
    const int nul = bytes.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? bytes : bytes.left(nul));
}

bool reportsFailure(const QString &errorOutput)
{
    // "'curl'": the interpreter could not find the tool; "curl:": the tool itself failed.
    return errorOutput.contains(QLatin1String("'curl'")) || errorOutput.contains(QLatin1String("curl:"));
}

void writeMessageFile(const QByteArray &message)
{
    // Unwritable: the tool sends whatever the file holds, as it always has.
    QFile file(QString::fromLatin1(messageFile));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(message);
}
} // namespace

Email::Email(QObject *parent)
    : Email(configFileBesideExecutable(), parent)
{}

Email::Email(const QString &configPath, QObject *parent)
    : QObject(parent)
    , m_configPath(configPath)
{}

QByteArray Email::sendEmail(t_GetArray &params)
{
    QMutexLocker locker(&m_sendLock);
    const QDateTime now = QDateTime::currentDateTime();
    const qint64 seconds = secondsSinceLastSend(now);
    if (seconds >= 1 && seconds < minSecondsBetweenSends)
        return R"({"status":"time","timeleft":")" + QByteArray::number(minSecondsBetweenSends - seconds) +
               "\"}";
    if (m_sent >= maxSendsPerRun) {
        // Answered as sent, so the page does not insist.
        QThread::msleep(dropPauseMs);
        return R"({"status":"ok!"})";
    }
    if (!params.contains("json"))
        return R"({"error":"Parameter error!"})";

    const EmailForm form(params.value("json"));
    if (!form.fitsLimits())
        return R"({"error":"err2!"})";
    writeMessageFile(form.message(QStringLiteral(VEXO_VERSION)));

    const QString errorOutput = runMailTool();
    if (reportsFailure(errorOutput)) {
        writeEmailError(errorOutput);
        return R"({"status":"err!"})";
    }
    rememberSend(now);
    return R"({"status":"ok!"})";
}

qint64 Email::secondsSinceLastSend(const QDateTime &now) const
{
    const QDateTime last = QSettings().value("time").toDateTime();
    return last.isValid() ? last.secsTo(now) : 0;
}

void Email::rememberSend(const QDateTime &now)
{
    ++m_sent;
    QSettings settings;
    settings.setValue("time", now);
    settings.setValue("how_many_email_send", m_sent);
}

QString Email::commandLine() const
{
    QSettings config(m_configPath, QSettings::IniFormat);
    config.beginGroup("email");
    const QString server = config.value("server").toString();
    const QString from = config.value("from").toString();
    const QString password = config.value("password").toString();
    const QString to = config.value("to").toString();
    const QStringList items = {
        QStringLiteral("curl"),        QStringLiteral("--ssl-reqd"),
        QStringLiteral("-k"),          QStringLiteral("--insecure"),
        QStringLiteral("--url"),       QStringLiteral("smtps://") + server + QStringLiteral(":465"),
        QStringLiteral("--mail-from"), from,
        QStringLiteral("--mail-rcpt"), to,
        QStringLiteral("--user"),      from + QLatin1Char(':') + password,
        QStringLiteral("-T"),          QString::fromLatin1(messageFile)};
    return items.join(QLatin1Char(' '));
}

QString Email::runMailTool()
{
    m_arguments = CommandInterpreter::arguments(commandLine());
    QProcess tool;
    tool.start(CommandInterpreter::program(), m_arguments);
    tool.waitForFinished(toolTimeLimitMs);
    const QString errorOutput = latin1UpToNul(tool.readAllStandardError());
    if (tool.state() != QProcess::NotRunning) {
        tool.kill();
        tool.waitForFinished(toolStopWaitMs);
    }
    return errorOutput;
}

void Email::writeEmailError(const QString &error)
{
    QFile file(QString::fromLatin1(errorFile));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(error.toLatin1());
}
