#include "htmlnesting.h"

#include <QStringList>

namespace {
bool isVoidElement(const QString &name)
{
    static const QStringList voids = {"area",  "base", "br",   "col",   "embed",  "hr",    "img",
                                      "input", "link", "meta", "param", "source", "track", "wbr"};
    return voids.contains(name);
}

// The open elements that a new element of this name ends first.
QStringList implicitlyClosedBy(const QString &name)
{
    if (name == QLatin1String("li"))
        return {"li", "p"};
    if (name == QLatin1String("dt") || name == QLatin1String("dd"))
        return {"dt", "dd", "p"};
    if (name == QLatin1String("td") || name == QLatin1String("th"))
        return {"td", "th", "p"};
    if (name == QLatin1String("tr"))
        return {"td", "th", "tr", "p"};
    if (name == QLatin1String("option"))
        return {"option"};
    static const QStringList blocks = {"p",  "div", "table", "ul", "ol", "dl", "pre",   "blockquote",
                                       "h1", "h2",  "h3",    "h4", "h5", "h6", "center"};
    if (blocks.contains(name))
        return {"p"};
    return {};
}
} // namespace

HtmlNesting::HtmlNesting(const QString &html)
    : m_html(html)
{}

bool HtmlNesting::withinLimits(const QString &html, int maxElementDepth, int maxTableDepth)
{
    QStringList open;
    int tables = 0;
    HtmlNesting scanner(html);
    while (scanner.nextTag()) {
        const QString &name = scanner.m_name;
        if (scanner.m_kind == Closing) {
            const int at = open.lastIndexOf(name);
            while (at >= 0 && open.size() > at)
                tables -= open.takeLast() == QLatin1String("table");
            continue;
        }
        if (scanner.m_kind != Opening || isVoidElement(name) || scanner.m_selfClosing)
            continue;
        const QStringList closed = implicitlyClosedBy(name);
        while (!open.isEmpty() && closed.contains(open.last()))
            open.removeLast();
        open.append(name);
        tables += name == QLatin1String("table");
        // Stopping here also keeps this scan linear in the length of the text.
        if (open.size() > maxElementDepth || tables > maxTableDepth)
            return false;
    }
    return true;
}

// Moves past the next tag; false at the end of the text.
bool HtmlNesting::nextTag()
{
    m_pos = m_html.indexOf(QLatin1Char('<'), m_pos);
    if (m_pos < 0)
        return false;
    ++m_pos;
    m_kind = Other;
    m_name.clear();
    if (m_html.mid(m_pos, 3) == QLatin1String("!--")) {
        skipPast(QStringLiteral("-->"));
        return true;
    }
    const bool closing = m_pos < m_html.size() && m_html.at(m_pos) == QLatin1Char('/');
    if (closing)
        ++m_pos;
    const int nameStart = m_pos;
    while (m_pos < m_html.size() && m_html.at(m_pos).isLetterOrNumber())
        ++m_pos;
    m_name = m_html.mid(nameStart, m_pos - nameStart).toLower();
    if (!m_name.isEmpty() && m_html.at(nameStart).isLetter())
        m_kind = closing ? Closing : Opening;
    skipAttributes();
    return true;
}

void HtmlNesting::skipPast(const QString &marker)
{
    const int at = m_html.indexOf(marker, m_pos, Qt::CaseInsensitive);
    m_pos = at < 0 ? int(m_html.size()) : int(at + marker.size());
}

// A tag ends at the first '>', quoted or not: reading too many tags only errs on the safe
// side, while a stray quote must not hide the rest of the text.
void HtmlNesting::skipAttributes()
{
    const int end = m_html.indexOf(QLatin1Char('>'), m_pos);
    m_pos = end < 0 ? int(m_html.size()) : end + 1;
    m_selfClosing = end > 0 && m_html.at(end - 1) == QLatin1Char('/');
}
