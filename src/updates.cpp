#include "updates.h"

Updates::Updates(QSettings *, QObject *parent) : QObject(parent) {}
QByteArray Updates::check4Updates(t_GetArray &) { return {}; }
QByteArray Updates::startUpdating(t_GetArray &) { return {}; }
QByteArray Updates::getUpdateStatus() { return {}; }
