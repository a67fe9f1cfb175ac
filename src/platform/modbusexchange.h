#ifndef MODBUSEXCHANGE_H
#define MODBUSEXCHANGE_H

#include "trafficrecorder.h"

#include <QByteArray>

#include <functional>

typedef struct _modbus modbus_t;

// One request and its answer on a libmodbus context, every byte of both seen: the layer's
// functions build the request PDU and judge the answer's data; the exchange frames, sends,
// receives, checks what every answer must satisfy (header, slave, function code, exception
// form), times it and records the whole transaction.
class ModbusExchange
{
public:
    // pdu holds the function code and its data; the request goes to the context's slave.
    // addr and count describe the request for the record.
    ModbusExchange(modbus_t *ctx, const QByteArray &pdu, int addr, int count);

    // check gets the answer's PDU (function code and data, known to answer this function)
    // and returns the function's result, or -1 with errno set. Returns that result, or -1
    // with errno set (a silent slave as QModBus0::timedOutErrno).
    int run(const std::function<int(const QByteArray &pdu)> &check);

private:
    int transact(const std::function<int(const QByteArray &pdu)> &check);
    int receive(const std::function<int(const QByteArray &pdu)> &check);
    int judge(const QByteArray &frame, const std::function<int(const QByteArray &pdu)> &check);
    QByteArray requestFrame() const;
    int answerLength(const uint8_t *frame) const;
    void finish(int result);

    modbus_t *m_ctx;
    QByteArray m_raw; // slave, function code, data: what the library frames
    bool m_rtu;
    int m_header;
    int m_checksum;
    TrafficRecord m_record;
};

#endif // MODBUSEXCHANGE_H
