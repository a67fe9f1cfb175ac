#include "jsonwriter.h"

#include <cmath>

namespace {
const char hexDigits[] = "0123456789abcdef";

QByteArray escapedChar(QChar c)
{
    switch (c.unicode()) {
    case '"':
        return "\\\"";
    case '\\':
        return "\\\\";
    case '/':
        return "\\/";
    case '\b':
        return "\\b";
    case '\f':
        return "\\f";
    case '\n':
        return "\\n";
    case '\r':
        return "\\r";
    case '\t':
        return "\\t";
    default:
        break;
    }
    const ushort code = c.unicode();
    return QByteArray("\\u00") + hexDigits[code >> 4] + hexDigits[code & 0xf];
}

bool needsEscape(QChar c, JsonWriter::Slash slash)
{
    return c.unicode() < 0x20 || c == QLatin1Char('"') || c == QLatin1Char('\\') ||
           (slash == JsonWriter::Slash::Escaped && c == QLatin1Char('/'));
}
} // namespace

JsonWriter::JsonWriter(Slash slash)
    : m_slash(slash)
{}

QByteArray JsonWriter::escaped(const QString &text, Slash slash)
{
    QByteArray out;
    out.reserve(text.size());
    int plainFrom = 0;
    for (int i = 0; i < text.size(); ++i) {
        if (!needsEscape(text.at(i), slash))
            continue;
        // Runs between escapes go out whole, so surrogate pairs stay together.
        out += text.mid(plainFrom, i - plainFrom).toUtf8() + escapedChar(text.at(i));
        plainFrom = i + 1;
    }
    out += text.mid(plainFrom).toUtf8();
    return out;
}

void JsonWriter::separate()
{
    if (m_afterName) {
        m_afterName = false;
        return;
    }
    if (m_filled.isEmpty())
        return;
    if (m_filled.last())
        m_json += ',';
    m_filled.last() = true;
}

JsonWriter &JsonWriter::open(char bracket)
{
    separate();
    m_json += bracket;
    m_filled.append(false);
    return *this;
}

JsonWriter &JsonWriter::close(char bracket)
{
    if (!m_filled.isEmpty())
        m_filled.removeLast();
    m_json += bracket;
    return *this;
}

JsonWriter &JsonWriter::beginObject()
{
    return open('{');
}

JsonWriter &JsonWriter::endObject()
{
    return close('}');
}

JsonWriter &JsonWriter::beginArray()
{
    return open('[');
}

JsonWriter &JsonWriter::endArray()
{
    return close(']');
}

JsonWriter &JsonWriter::name(const QString &name)
{
    separate();
    m_json += '"' + escaped(name, m_slash) + "\":";
    m_afterName = true;
    return *this;
}

JsonWriter &JsonWriter::string(const QString &text)
{
    separate();
    m_json += '"' + escaped(text, m_slash) + '"';
    return *this;
}

JsonWriter &JsonWriter::number(qint64 value)
{
    return literal(QByteArray::number(value));
}

JsonWriter &JsonWriter::rounded(double value, int decimals)
{
    // JSON has no text for NaN or the infinities.
    if (!std::isfinite(value))
        value = 0;
    const double scale = std::pow(10.0, decimals);
    constexpr int significantDigits = 15;
    return literal(QByteArray::number(std::round(value * scale) / scale, 'g', significantDigits));
}

QByteArray JsonWriter::member(const QString &name, const QString &text)
{
    return JsonWriter().beginObject().name(name).string(text).endObject().json();
}

JsonWriter &JsonWriter::literal(const QByteArray &json)
{
    separate();
    m_json += json;
    return *this;
}
