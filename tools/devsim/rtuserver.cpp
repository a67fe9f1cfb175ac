#include "rtuserver.h"

#include "modbussession.h"
#include "options.h"

#include <modbus.h>

#include <cerrno>
#include <cstring>

RtuServer::RtuServer(RequestProcessor *processor, FaultControl *faults, bool logRequests)
    : m_processor(processor)
    , m_faults(faults)
    , m_logRequests(logRequests)
{}

RtuServer::~RtuServer()
{
    if (m_thread.joinable())
        m_thread.detach();
}

bool RtuServer::start(const DevsimOptions &options, QString *message)
{
    modbus_t *ctx = modbus_new_rtu(options.rtuDevice.toLocal8Bit().constData(), options.baud, options.parity,
                                   8, options.stopBits);
    if (!ctx || modbus_set_slave(ctx, options.slave) == -1 || modbus_connect(ctx) == -1) {
        *message = QStringLiteral("Cannot open %1: %2").arg(options.rtuDevice, modbus_strerror(errno));
        if (ctx)
            modbus_free(ctx);
        return false;
    }
    m_thread = std::thread([this, ctx] {
        ModbusSession(ctx, true, m_processor, m_faults, m_logRequests).run();
        modbus_close(ctx);
        modbus_free(ctx);
    });
    return true;
}
