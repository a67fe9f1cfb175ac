#include "modulesmngr.h"

ModulesMngr::ModulesMngr(const QString &, QObject *parent) : QObject(parent) {}
QByteArray ModulesMngr::getListOfInstalledModules() const { return {}; }
