#include "emailform.h"

#include <QRegularExpression>
#include <QUrl>

namespace {
enum Field
{
    Name,
    Surname,
    Address,
    Company,
    Phone,
    Module,
    Text
};
const int maxLengths[EmailForm::fieldCount] = {20, 30, 30, 50, 25, 20, 2000};

// The piece after the first colon and before any further one; empty without a colon.
QString valueOf(const QString &part)
{
    const QStringList pieces = part.split(QLatin1Char(':'));
    return pieces.size() > 1 ? pieces.at(1) : QString();
}
} // namespace

EmailForm::EmailForm(const QByteArray &value)
{
    QString text = QUrl::fromPercentEncoding(value);
    text.remove(QLatin1Char('{')).remove(QLatin1Char('}')).remove(QLatin1Char('"'));
    const QStringList parts = text.split(QLatin1Char(','));
    for (int i = 0; i < fieldCount; ++i)
        m_fields.append(i < parts.size() ? valueOf(parts.at(i)) : QString());
}

bool EmailForm::fitsLimits() const
{
    for (int i = 0; i < fieldCount; ++i) {
        if (m_fields.at(i).size() > maxLengths[i])
            return false;
    }
    return true;
}

QString EmailForm::field(int index) const
{
    // A short field ends up in a header line: a line break in it would add headers.
    QString text = m_fields.at(index);
    text.remove(QRegularExpression(QStringLiteral("[\\x00-\\x1f]")));
    return text;
}

QString EmailForm::messageText() const
{
    // The page writes line breaks as the two characters backslash and n (the limits above
    // count them as sent); they and any break that arrives as it is become CR LF.
    QString text = m_fields.at(Text);
    text.replace(QLatin1String("\\n"), QLatin1String("\n"));
    text.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text.replace(QLatin1String("\n"), QLatin1String("\r\n"));
}

QByteArray EmailForm::message(const QString &version) const
{
    const QStringList lines = {
        QStringLiteral("Subject: ") + field(Name) + QLatin1Char(' ') + field(Surname) +
            QStringLiteral(" sent a message."),
        QStringLiteral("MIME-Version: 1.0"),
        QStringLiteral("Content-Transfer-Encoding: 8bit"),
        QStringLiteral("Content-Type: text/plain;charset=utf-8"),
        QStringLiteral("Client name   ") + field(Name),
        QStringLiteral("Client surname   ") + field(Surname),
        QStringLiteral("Client email   ") + field(Address),
        QStringLiteral("Client company   ") + field(Company),
        QStringLiteral("Client phone   ") + field(Phone),
        QStringLiteral("Client Vexo version   ") + version,
        QStringLiteral("Client Vexo active module   ") + field(Module),
        QStringLiteral("Client message   "),
        messageText(),
    };
    QByteArray text;
    for (const QString &line : lines)
        text += line.toUtf8() + "\r\n";
    return text;
}
