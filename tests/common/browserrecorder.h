#ifndef BROWSERRECORDER_H
#define BROWSERRECORDER_H

#include <QList>
#include <QObject>
#include <QUrl>

// Stands in for the user's browser while it lives: QDesktopServices hands http URLs to it.
class BrowserRecorder : public QObject
{
    Q_OBJECT
public:
    BrowserRecorder();
    ~BrowserRecorder() override;

    QList<QUrl> urls;

public slots:
    void open(const QUrl &url);
};

#endif // BROWSERRECORDER_H
