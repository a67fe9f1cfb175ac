#ifndef SELFCONTAINEDTEXTDOCUMENT_H
#define SELFCONTAINEDTEXTDOCUMENT_H

#include <QTextDocument>

// A text document for HTML that came from the network: it draws and loads nothing from
// outside the text itself. An image or style sheet named by path would otherwise be read
// from this machine's disk. HTML that nests too deeply is laid out as plain text.
// Threads: made and used on one connection thread, while SystemFun's PDF lock is held.
class SelfContainedTextDocument : public QTextDocument
{
    Q_OBJECT
public:
    explicit SelfContainedTextDocument(QObject *parent = nullptr);
    void setUntrustedHtml(const QString &html);

protected:
    QVariant loadResource(int type, const QUrl &name) override;

private:
    void forgetOutsideImages();
};

#endif // SELFCONTAINEDTEXTDOCUMENT_H
