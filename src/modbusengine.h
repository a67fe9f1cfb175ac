#ifndef MODBUSENGINE_H
#define MODBUSENGINE_H

#include "getarray.h"

#include <QObject>

// The one Modbus master connection (RTU or TCP). Not thread-safe: callers serialise
// every operation with the Modbus lock of the request handler.
class ModbusEngine : public QObject
{
public:
    explicit ModbusEngine(QObject *parent = nullptr);
    ~ModbusEngine() override;

    QByteArray getPortSettings();
    QByteArray connectModbus(t_GetArray &params);
    QByteArray disconnectModbus();
    QByteArray readRegisters(t_GetArray &params, unsigned attempt);
    QByteArray writeRegisters(t_GetArray &params, unsigned attempt);
    QByteArray identifySlave(unsigned attempt);

    static int baudRateFromIndex(int index);
};

#endif // MODBUSENGINE_H
