#include "devicefinder.h"

DeviceFinder::DeviceFinder(QObject *parent) : QObject(parent) {}
QByteArray DeviceFinder::getSearchedDevices() { return "[]"; }
