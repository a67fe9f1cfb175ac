#ifndef SYSTEMFUN_H
#define SYSTEMFUN_H

#include <QObject>
#include <QStringList>

// General information, HTML-to-PDF rendering and the firmware updater's arguments.
class SystemFun : public QObject
{
public:
    explicit SystemFun(QObject *parent = nullptr);

    QByteArray getGeneralInfo() const;
    QByteArray createAndRetPdf(const QString &html) const;
    QStringList getFirmwareUpdaterArgs() const;
};

#endif // SYSTEMFUN_H
