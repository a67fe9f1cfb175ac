#include "jsonscalararray.h"

#include <cctype>

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// Reads one JSON text from a position on; every reader returns false on a mistake.
class Reader
{
public:
    explicit Reader(const QByteArray &json)
        : m_json(json)
    {}

    bool atEnd() const { return m_at >= m_json.size(); }
    char peek() const { return atEnd() ? '\0' : m_json.at(m_at); }

    void skipBlanks()
    {
        while (!atEnd() && (peek() == ' ' || peek() == '\t' || peek() == '\n' || peek() == '\r'))
            ++m_at;
    }

    bool take(char c)
    {
        if (peek() != c)
            return false;
        ++m_at;
        return true;
    }

    bool takeWord(const char *word)
    {
        const QByteArray expected(word);
        if (m_json.mid(m_at, expected.size()) != expected)
            return false;
        m_at += expected.size();
        return true;
    }

    // -?(0|[1-9][0-9]*)(\.[0-9]+)?([eE][+-]?[0-9]+)?
    bool number(QByteArray *text)
    {
        const int start = m_at;
        take('-');
        if (!take('0') && !digits())
            return false;
        if (take('.') && !digits())
            return false;
        if (take('e') || take('E')) {
            if (!take('+'))
                take('-');
            if (!digits())
                return false;
        }
        *text = m_json.mid(start, m_at - start);
        return true;
    }

    bool string(QString *text)
    {
        if (!take('"'))
            return false;
        QByteArray plain; // UTF-8 run between escapes
        for (;;) {
            if (atEnd())
                return false;
            const char c = m_json.at(m_at++);
            if (c == '"')
                break;
            if (static_cast<unsigned char>(c) < 0x20)
                return false;
            if (c != '\\') {
                plain.append(c);
                continue;
            }
            *text += QString::fromUtf8(plain.constData(), plain.size());
            plain.clear();
            if (!escape(text))
                return false;
        }
        *text += QString::fromUtf8(plain.constData(), plain.size());
        return true;
    }

private:
    bool digits()
    {
        const int start = m_at;
        while (isDigit(peek()))
            ++m_at;
        return m_at > start;
    }

    bool escape(QString *text)
    {
        const char c = atEnd() ? '\0' : m_json.at(m_at++);
        const int simple = QByteArray("\"\\/bfnrt").indexOf(c);
        if (c != '\0' && simple >= 0) {
            text->append(QStringLiteral("\"\\/\b\f\n\r\t").at(simple));
            return true;
        }
        if (c != 'u' || m_json.size() - m_at < 4)
            return false;
        const QByteArray hex = m_json.mid(m_at, 4);
        for (const char h : hex) {
            if (!std::isxdigit(static_cast<unsigned char>(h)))
                return false;
        }
        m_at += 4;
        text->append(QChar(hex.toUShort(nullptr, 16)));
        return true;
    }

    const QByteArray &m_json;
    int m_at = 0;
};

bool element(Reader &reader, JsonScalarArray::Element *element)
{
    using Kind = JsonScalarArray::Element::Kind;
    const char c = reader.peek();
    if (c == '"') {
        element->kind = Kind::String;
        return reader.string(&element->string);
    }
    if (c == 't' || c == 'f') {
        element->kind = Kind::Boolean;
        element->boolean = c == 't';
        return reader.takeWord(c == 't' ? "true" : "false");
    }
    element->kind = Kind::Number;
    return reader.number(&element->number);
}

} // namespace

bool JsonScalarArray::parse(const QByteArray &json, QVector<Element> *elements)
{
    elements->clear();
    Reader reader(json);
    reader.skipBlanks();
    if (!reader.take('['))
        return false;
    reader.skipBlanks();
    if (!reader.take(']')) {
        do {
            reader.skipBlanks();
            Element next;
            if (!element(reader, &next))
                return false;
            elements->append(next);
            reader.skipBlanks();
        } while (reader.take(','));
        if (!reader.take(']'))
            return false;
    }
    reader.skipBlanks();
    return reader.atEnd();
}

bool JsonScalarArray::isNumber(const QByteArray &text)
{
    Reader reader(text);
    QByteArray number;
    return reader.number(&number) && reader.atEnd();
}
