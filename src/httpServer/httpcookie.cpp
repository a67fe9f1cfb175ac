#include "httpcookie.h"

HttpCookie::HttpCookie(const QByteArray &name, const QByteArray &value, int maxAge, const QByteArray &path,
                       const QByteArray &comment, const QByteArray &domain, bool secure)
    : m_name(name)
    , m_value(value)
    , m_comment(comment)
    , m_domain(domain)
    , m_maxAge(maxAge)
    , m_path(path)
    , m_secure(secure)
    , m_version(1)
{}

QByteArray HttpCookie::headerText() const
{
    QByteArray text = m_name + '=' + m_value;
    if (!m_comment.isEmpty())
        text += "; Comment=" + m_comment;
    if (!m_domain.isEmpty())
        text += "; Domain=" + m_domain;
    if (m_maxAge != 0)
        text += "; Max-Age=" + QByteArray::number(m_maxAge);
    if (!m_path.isEmpty())
        text += "; Path=" + m_path;
    if (m_secure)
        text += "; Secure";
    text += "; Version=" + QByteArray::number(m_version);
    return text;
}

QList<QByteArray> HttpCookie::splitCookieList(const QByteArray &source)
{
    QList<QByteArray> pieces;
    QByteArray piece;
    bool quoted = false;
    const auto finishPiece = [&] {
        piece = piece.trimmed();
        if (!piece.isEmpty())
            pieces.append(piece);
        piece.clear();
    };
    for (const char c : source) {
        if (c == '"')
            quoted = !quoted;
        else if (c == ';' && !quoted)
            finishPiece();
        else
            piece.append(c);
    }
    finishPiece();
    return pieces;
}
