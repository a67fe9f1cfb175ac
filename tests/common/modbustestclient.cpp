#include "modbustestclient.h"

#include "qmodbus0.h"

#include <modbus.h>

ModbusTestClient::ModbusTestClient(int port)
    : m_ctx(modbus_new_tcp("127.0.0.1", port))
{
    modbus_connect(m_ctx);
}

ModbusTestClient::~ModbusTestClient()
{
    modbus_close(m_ctx);
    modbus_free(m_ctx);
}

QVector<quint16> ModbusTestClient::read16(int address, int count)
{
    QVector<quint16> values(count);
    if (modbus_read_registers(m_ctx, address, count, values.data()) != count)
        return {};
    return values;
}

QVector<quint32> ModbusTestClient::read32(int address, int count)
{
    QVector<quint32> values(count);
    if (QModBus0::modbus_read_registers_32(m_ctx, address, count, values.data()) != count)
        return {};
    return values;
}

bool ModbusTestClient::write16(int address, const QVector<quint16> &values)
{
    return modbus_write_registers(m_ctx, address, values.size(), values.constData()) == values.size();
}

bool ModbusTestClient::write32(int address, const QVector<quint32> &values)
{
    return QModBus0::modbus_write_registers_32(m_ctx, address, values.size(), values.constData()) ==
           values.size();
}
