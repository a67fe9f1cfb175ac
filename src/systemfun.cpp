#include "systemfun.h"

SystemFun::SystemFun(QObject *parent) : QObject(parent) {}
QByteArray SystemFun::getGeneralInfo() const { return {}; }
QByteArray SystemFun::createAndRetPdf(const QString &) const { return {}; }
QStringList SystemFun::getFirmwareUpdaterArgs() const { return {}; }
