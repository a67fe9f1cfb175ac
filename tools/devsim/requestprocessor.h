#ifndef REQUESTPROCESSOR_H
#define REQUESTPROCESSOR_H

#include <QByteArray>

class RegisterBank;

// Answers one request PDU (function code and data) with the response PDU: reading and
// writing holding registers (16-bit, or 32-bit in the wide block) and the report of slave
// id. Unknown functions and bad ranges get exception answers.
class RequestProcessor
{
public:
    RequestProcessor(RegisterBank *bank, const QByteArray &report);

    // With shortAnswer the device claims one register fewer than asked (a read answers
    // with one register less, a write echoes a smaller quantity).
    QByteArray process(const QByteArray &request, bool shortAnswer);

private:
    QByteArray readRegisters(const QByteArray &request, bool shortAnswer);
    QByteArray writeRegisters(const QByteArray &request, bool shortAnswer);
    QByteArray reportSlaveId() const;

    RegisterBank *m_bank;
    QByteArray m_report;
};

#endif // REQUESTPROCESSOR_H
