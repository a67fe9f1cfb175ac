#include "selfcontainedtextdocument.h"

#include "htmlnesting.h"

#include <QTextBlock>
#include <QTextCursor>
#include <QUrl>
#include <QVariant>
#include <QVector>

namespace {
// Deep enough for any report layout; layout time stays in milliseconds.
const int maxElementDepth = 64;
const int maxTableDepth = 8;

bool isInlineData(const QString &url)
{
    return url.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}
} // namespace

SelfContainedTextDocument::SelfContainedTextDocument(QObject *parent)
    : QTextDocument(parent)
{}

void SelfContainedTextDocument::setUntrustedHtml(const QString &html)
{
    if (!HtmlNesting::withinLimits(html, maxElementDepth, maxTableDepth)) {
        qWarning("SelfContainedTextDocument: HTML nests too deeply, its source is laid out as plain text");
        setPlainText(html);
        return;
    }
    setHtml(html);
    forgetOutsideImages();
}

QVariant SelfContainedTextDocument::loadResource(int type, const QUrl &name)
{
    if (isInlineData(name.toString()))
        return QTextDocument::loadResource(type, name);
    return QVariant();
}

// An image whose resource cannot be loaded is read straight from its path when drawn, past
// loadResource(); so such images lose their name and show as a missing image instead.
void SelfContainedTextDocument::forgetOutsideImages()
{
    QVector<QTextFragment> outsideImages;
    for (QTextBlock block = begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextImageFormat format = it.fragment().charFormat().toImageFormat();
            if (format.isValid() && !isInlineData(format.name()))
                outsideImages.append(it.fragment());
        }
    }
    // Changed only after the walk: a new format may merge or split the fragments walked.
    for (const QTextFragment &fragment : outsideImages) {
        QTextImageFormat format = fragment.charFormat().toImageFormat();
        format.setName(QString());
        QTextCursor cursor(this);
        cursor.setPosition(fragment.position());
        cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        cursor.setCharFormat(format);
    }
}
