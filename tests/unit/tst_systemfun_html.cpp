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
} // namespace

class TestHtmlNesting : public QObject
{
    Q_OBJECT
private slots:
    void withinLimits_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<bool>("fits");
        // At most 64 open elements and 8 open tables.
        QTest::newRow("64 open") << repeated("<div>", 64) << true;
        QTest::newRow("65 open") << repeated("<div>", 65) << false;
        QTest::newRow("lists") << repeated("<UL><li>", 33) << false;
        QTest::newRow("8 tables") << repeated("<table><tr><td>", 8) + "x" + repeated("</td></tr></table>", 8)
                                  << true;
        QTest::newRow("9 tables") << repeated("<table><tr><td>", 9) << false;
        // Closed elements leave the count, also when a closing tag skips open ones.
        QTest::newRow("skipping close") << repeated("<div><span><b>x</div>", 1000) << true;
        QTest::newRow("table closed") << repeated("<table><tr><td>x</table>", 1000) << true;
        QTest::newRow("stray close") << repeated("<div>", 60) + repeated("<b></i>", 5) << false;
        // Elements close the way a lenient parser closes them.
        QTest::newRow("cells") << "<table>" + repeated("<tr><td>a<td>b<th>c", 500) + "</table>" << true;
        QTest::newRow("items") << "<ul>" + repeated("<li>item", 500) + "</ul>" << true;
        QTest::newRow("paragraphs") << repeated("<p>para", 500) << true;
        QTest::newRow("terms") << "<dl>" + repeated("<dt>t<dd>d", 500) + "</dl>" << true;
        QTest::newRow("block in p") << repeated("<p>text<div>block</div>", 500) << true;
        QTest::newRow("void") << repeated("<br><img src=x><hr/><x-y/>", 500) << true;
        // Comments hide tags, quotes do not.
        QTest::newRow("comment") << "<!-- " + repeated("<div>", 500) + " -->" << true;
        QTest::newRow("single quote") << "<p title='>" + repeated("<div>", 100) << false;
        QTest::newRow("double quote") << "<p title=\"a>b\">" + repeated("<div>", 100) << false;
        // Long texts end early.
        QTest::newRow("long open") << repeated("<div>", 2000000) << false;
        QTest::newRow("long close") << repeated("<div>", 100) + repeated("</x>", 1000000) << false;
        QTest::newRow("long flat") << repeated("<b>x</b>", 200000) << true;
    }

    void withinLimits()
    {
        QFETCH(QString, html);
        QFETCH(bool, fits);
        QCOMPARE(HtmlNesting::withinLimits(html, 64, 8), fits);
    }
};

QTEST_GUILESS_MAIN(TestHtmlNesting)
#include "tst_systemfun_html.moc"
