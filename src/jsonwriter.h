#ifndef JSONWRITER_H
#define JSONWRITER_H

#include <QByteArray>
#include <QString>
#include <QVector>

// Writes one compact JSON text (no blanks, no line breaks) in the order its parts are
// given: replies have a designed member order, which QJsonObject would sort away. Texts
// are escaped as JSON requires and kept in UTF-8, so whatever they hold the reply parses.
// Threads: one writer per reply, on the thread that builds the reply.
class JsonWriter
{
public:
    // Some replies have always written "/" as "\/"; both read back the same.
    enum class Slash
    {
        Plain,
        Escaped
    };

    explicit JsonWriter(Slash slash = Slash::Plain);

    JsonWriter &beginObject();
    JsonWriter &endObject();
    JsonWriter &beginArray();
    JsonWriter &endArray();
    // Names the member whose value is written next.
    JsonWriter &name(const QString &name);
    JsonWriter &string(const QString &text);
    JsonWriter &number(qint64 value);
    // The value rounded to decimals places, in its shortest text: 0.84, 1, 12.345.
    JsonWriter &rounded(double value, int decimals);
    // A time in milliseconds, to the microsecond.
    JsonWriter &milliseconds(double ms) { return rounded(ms, 3); }
    JsonWriter &boolean(bool value) { return literal(value ? "true" : "false"); }
    // A value that is JSON already, such as true or a number's text.
    JsonWriter &literal(const QByteArray &json);

    QByteArray json() const { return m_json; }

    // {"error":"<text>"} and {"ok":"<text>"}: every plain error and ok reply.
    static QByteArray errorReply(const QString &text) { return member(QStringLiteral("error"), text); }
    static QByteArray okReply(const QString &text) { return member(QStringLiteral("ok"), text); }

    // The text as it goes between the double quotes of a JSON string.
    static QByteArray escaped(const QString &text, Slash slash = Slash::Plain);

private:
    static QByteArray member(const QString &name, const QString &text);
    void separate();
    JsonWriter &open(char bracket);
    JsonWriter &close(char bracket);

    QByteArray m_json;
    // One entry per open object or array: whether anything was written into it yet.
    QVector<bool> m_filled;
    bool m_afterName = false;
    Slash m_slash;
};

#endif // JSONWRITER_H
