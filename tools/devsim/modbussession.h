#ifndef MODBUSSESSION_H
#define MODBUSSESSION_H

#include <QByteArray>

typedef struct _modbus modbus_t;
class FaultControl;
class RequestProcessor;

// Serves the requests that arrive on one libmodbus context (a TCP client or the serial
// line) until it closes: receive, answer through the processor, then frame the answer,
// misbehaving as the fault control says.
class ModbusSession
{
public:
    ModbusSession(modbus_t *ctx, bool rtu, RequestProcessor *processor, FaultControl *faults,
                  bool logRequests);
    void run();

private:
    void answer(const QByteArray &request, int length);
    bool send(const QByteArray &frame);

    modbus_t *m_ctx;
    bool m_rtu;
    RequestProcessor *m_processor;
    FaultControl *m_faults;
    bool m_logRequests;
};

#endif // MODBUSSESSION_H
