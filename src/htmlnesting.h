#ifndef HTMLNESTING_H
#define HTMLNESTING_H

#include <QString>

// Tells whether an HTML text nests its elements and tables no deeper than given limits,
// counting the way a lenient parser closes elements (a new <li> ends the open one). Text
// layout takes time that grows with the square of the element depth and doubles with
// each nested table, so a short text could otherwise hold a thread for hours.
// Threads: keeps no state; called on the connection threads.
class HtmlNesting
{
public:
    static bool withinLimits(const QString &html, int maxElementDepth, int maxTableDepth);

private:
    enum TagKind
    {
        Opening,
        Closing,
        Other
    };

    explicit HtmlNesting(const QString &html);
    bool nextTag();
    void skipPast(const QString &marker);
    void skipAttributes();

    const QString &m_html;
    int m_pos = 0;
    TagKind m_kind = Other;
    QString m_name;
    bool m_selfClosing = false;
};

#endif // HTMLNESTING_H
