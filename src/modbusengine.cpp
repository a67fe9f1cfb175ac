#include "modbusengine.h"

ModbusEngine::ModbusEngine(QObject *parent) : QObject(parent) {}
ModbusEngine::~ModbusEngine() = default;
QByteArray ModbusEngine::getPortSettings() { return {}; }
QByteArray ModbusEngine::connectModbus(t_GetArray &) { return {}; }
QByteArray ModbusEngine::disconnectModbus() { return {}; }
QByteArray ModbusEngine::readRegisters(t_GetArray &, unsigned) { return {}; }
QByteArray ModbusEngine::writeRegisters(t_GetArray &, unsigned) { return {}; }
QByteArray ModbusEngine::identifySlave(unsigned) { return {}; }
int ModbusEngine::baudRateFromIndex(int) { return -1; }
