#ifndef MODBUSTESTCLIENT_H
#define MODBUSTESTCLIENT_H

#include <QVector>

typedef struct _modbus modbus_t;

// A plain libmodbus master on loopback TCP, for looking at a simulated device's registers
// without going through the engine.
class ModbusTestClient
{
public:
    explicit ModbusTestClient(int port);
    ~ModbusTestClient();
    QVector<quint16> read16(int address, int count);
    QVector<quint32> read32(int address, int count);
    bool write16(int address, const QVector<quint16> &values);
    bool write32(int address, const QVector<quint32> &values);

private:
    modbus_t *m_ctx;
};

#endif // MODBUSTESTCLIENT_H
