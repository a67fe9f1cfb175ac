#include "email.h"

#include "emailform.h"
#include "toolprocess.h"
#include "usersettings.h"

#include <QCoreApplication>
#include <QFile>
#include <QSettings>
#include <QThread>

namespace {
const char *const mailTool = "curl";
const char *const messageFile = "emailMessage.txt";
const char *const errorFile = "emailError.txt";
const qint64 minSecondsBetweenSends = 900;
const int maxSendsPerRun = 3;
const int dropPauseMs = 1500;
const int toolTimeLimitMs = 30000;

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
    // A send within the same second counts too: the one before may have just finished.
    const qint64 seconds = secondsSinceLastSend(now);
    if (seconds >= 0 && seconds < minSecondsBetweenSends)
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
    const QDateTime last = UserSettings::lastEmailSent.value(QSettings()).toDateTime();
    return last.isValid() ? last.secsTo(now) : -1;
}

void Email::rememberSend(const QDateTime &now)
{
    ++m_sent;
    QSettings settings;
    UserSettings::lastEmailSent.setValue(settings, now);
    UserSettings::emailsSentCount.setValue(settings, m_sent);
}

QStringList Email::mailToolArguments() const
{
    QSettings config(m_configPath, QSettings::IniFormat);
    config.beginGroup("email");
    const QString server = config.value("server").toString();
    const QString from = config.value("from").toString();
    const QString password = config.value("password").toString();
    const QString to = config.value("to").toString();
    return {QStringLiteral("--ssl-reqd"),
            QStringLiteral("-k"),
            QStringLiteral("--insecure"),
            QStringLiteral("--url"),
            QStringLiteral("smtps://") + server + QStringLiteral(":465"),
            QStringLiteral("--mail-from"),
            from,
            QStringLiteral("--mail-rcpt"),
            to,
            QStringLiteral("--user"),
            from + QLatin1Char(':') + password,
            QStringLiteral("-T"),
            QString::fromLatin1(messageFile)};
}

QString Email::runMailTool()
{
    // Through the command interpreter on Windows only: elsewhere no shell sees a configured value.
    m_arguments = mailToolArguments();
    const ToolProcess::Result result =
        ToolProcess::run(QString::fromLatin1(mailTool), m_arguments, toolTimeLimitMs);
    switch (result.outcome) {
    case ToolProcess::FailedToStart:
        // Reported as the command interpreter reports a tool it cannot find.
        return QStringLiteral("'curl' cannot be started: ") + result.failure;
    case ToolProcess::TimedOut:
        return QStringLiteral("curl: timed out after %1 ms and was stopped\n").arg(toolTimeLimitMs) +
               latin1UpToNul(result.errorOutput);
    case ToolProcess::Finished:
        break;
    }
    return latin1UpToNul(result.errorOutput);
}

void Email::writeEmailError(const QString &error)
{
    QFile file(QString::fromLatin1(errorFile));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(error.toLatin1());
}
