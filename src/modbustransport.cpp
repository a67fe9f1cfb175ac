#include "modbustransport.h"

#include "modbustimeouts.h"
#include "qmodbus0.h"

using namespace QModBus0;

void ModbusLink::release()
{
    if (!modbusCtx)
        return;
    modbus_close(modbusCtx);
    modbus_free(modbusCtx);
    modbusCtx = nullptr;
}

void ModbusLink::setResponseTimeout(int ms)
{
    const struct timeval timeout = ModbusTimeouts::toTimeval(ms);
    modbus_set_timeout_begin(modbusCtx, &timeout);
}
