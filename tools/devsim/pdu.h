#ifndef PDU_H
#define PDU_H

#include <QByteArray>

// Reading and building the function code and data of Modbus requests and answers.
namespace Pdu {
constexpr char readCoils = 0x01;
constexpr char readDiscreteInputs = 0x02;
constexpr char readHoldingRegisters = 0x03;
constexpr char readInputRegisters = 0x04;
constexpr char writeSingleCoil = 0x05;
constexpr char writeSingleRegister = 0x06;
constexpr char writeMultipleCoils = 0x0F;
constexpr char writeMultipleRegisters = 0x10;
constexpr char reportSlaveId = 0x11;

constexpr char illegalFunction = 0x01;
constexpr char illegalAddress = 0x02;
constexpr char illegalValue = 0x03;

int byteAt(const QByteArray &data, int at);
int wordAt(const QByteArray &data, int at);
void appendWord(QByteArray *data, quint32 value);
QByteArray exception(char function, char code);
// The answer to a single write or a multiple write: function, address, a word.
QByteArray echo(char function, int address, int word);
} // namespace Pdu

#endif // PDU_H
