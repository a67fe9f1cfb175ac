#include "htmlnesting.h"

#include <QtTest>

namespace {
QString repeated(const QString &piece, int times)
{
    QString text;
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

bool fits(const QString &html)
{
    return HtmlNesting::withinLimits(html, 64, 8);
}
} // namespace

class TestHtmlNesting : public QObject
{
    Q_OBJECT
private slots:
    void countsOpenElementsAndTables()
    {
        QVERIFY(fits(repeated("<div>", 64)));
        QVERIFY(!fits(repeated("<div>", 65)));
        QVERIFY(!fits(repeated("<UL><li>", 33)));
        QVERIFY(fits(repeated("<table><tr><td>", 8) + "x" + repeated("</td></tr></table>", 8)));
        QVERIFY(!fits(repeated("<table><tr><td>", 9)));
        // Closed elements leave the count, also when a closing tag skips open ones.
        QVERIFY(fits(repeated("<div><span><b>x</div>", 1000)));
        QVERIFY(fits(repeated("<table><tr><td>x</table>", 1000)));
        QVERIFY(!fits(repeated("<div>", 60) + repeated("<b></i>", 5)));
    }

    void closesElementsTheWayALenientParserDoes()
    {
        QVERIFY(fits("<table>" + repeated("<tr><td>a<td>b<th>c", 500) + "</table>"));
        QVERIFY(fits("<ul>" + repeated("<li>item", 500) + "</ul>"));
        QVERIFY(fits(repeated("<p>para", 500)));
        QVERIFY(fits("<dl>" + repeated("<dt>t<dd>d", 500) + "</dl>"));
        QVERIFY(fits(repeated("<p>text<div>block</div>", 500)));
        QVERIFY(fits(repeated("<br><img src=x><hr/><x-y/>", 500)));
    }

    void commentsHideTagsButQuotesDoNot()
    {
        QVERIFY(fits("<!-- " + repeated("<div>", 500) + " -->"));
        QVERIFY(!fits("<p title='>" + repeated("<div>", 100)));
        QVERIFY(!fits("<p title=\"a>b\">" + repeated("<div>", 100)));
    }

    void longTextsEndEarly()
    {
        QVERIFY(!fits(repeated("<div>", 2000000)));
        QVERIFY(!fits(repeated("<div>", 100) + repeated("</x>", 1000000)));
        QVERIFY(fits(repeated("<b>x</b>", 200000)));
    }
};

QTEST_GUILESS_MAIN(TestHtmlNesting)
#include "tst_systemfun_html.moc"
