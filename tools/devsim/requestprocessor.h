#ifndef REQUESTPROCESSOR_H
#define REQUESTPROCESSOR_H

#include "bitrequests.h"

#include <QByteArray>
#include <QVector>

struct DeviceTables;

// Answers one request PDU (function code and data) with the response PDU: the bit tables
// (through BitRequests), input registers, holding registers (16-bit, or 32-bit in the wide
// block) and the report of slave id. Unknown functions, bad quantities and addresses off a
// table get exception answers.
class RequestProcessor
{
public:
    RequestProcessor(DeviceTables *tables, const QByteArray &report);

    // With shortAnswer the device claims one item fewer than asked (a read answers with
    // one register or data byte less, a multiple write echoes a smaller quantity, a single
    // write a value one smaller).
    QByteArray process(const QByteArray &request, bool shortAnswer);

private:
    QByteArray readRegisters(const QByteArray &request, bool shortAnswer);
    QByteArray readInputs(const QByteArray &request, bool shortAnswer);
    QByteArray writeRegister(const QByteArray &request, bool shortAnswer);
    QByteArray writeRegisters(const QByteArray &request, bool shortAnswer);
    QByteArray slaveIdReport() const;
    static QByteArray wordsAnswer(char function, const QVector<quint16> &words);

    DeviceTables *m_tables;
    BitRequests m_bits;
    QByteArray m_report;
};

#endif // REQUESTPROCESSOR_H
