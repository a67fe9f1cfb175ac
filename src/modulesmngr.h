#ifndef MODULESMNGR_H
#define MODULESMNGR_H

#include <QObject>

// Lists the interface modules installed below the document root's "modules" folder.
class ModulesMngr : public QObject
{
public:
    ModulesMngr(const QString &docRoot, QObject *parent = nullptr);
    QByteArray getListOfInstalledModules() const;
};

#endif // MODULESMNGR_H
