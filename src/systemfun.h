#ifndef SYSTEMFUN_H
#define SYSTEMFUN_H

#include <QMap>
#include <QMutex>
#include <QObject>
#include <QStringList>

// General information, HTML-to-PDF rendering and the firmware updater's arguments.
// Threads: every operation may run on any connection thread; renderings take turns.
class SystemFun : public QObject
{
    Q_OBJECT
public:
    explicit SystemFun(QObject *parent = nullptr);

    QByteArray getGeneralInfo() const;
    QByteArray createAndRetPdf(const QString &html) const;
    QStringList getFirmwareUpdaterArgs() const;

private:
    static void loadFontsOnThisThread();
    int baudCodeOf(int baudRate) const;

    // Serial baud rate -> the firmware updater's code for it.
    QMap<int, int> baudCodes;
    // Text layout and the PDF engine share font data between threads; one rendering at a
    // time keeps them apart, and renderings are rare.
    mutable QMutex m_pdfLock;
};

#endif // SYSTEMFUN_H
