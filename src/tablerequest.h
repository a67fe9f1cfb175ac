#ifndef TABLEREQUEST_H
#define TABLEREQUEST_H

#include "getarray.h"
#include "valuecodec.h"

#include <QString>
#include <QVector>

// One read or write of a Modbus data table as the page asks for it (readTable, writeTable,
// a read definition), checked whole before anything goes to the device: the table, the
// value type and byte order, the range within the 16-bit address space and the protocol's
// limits per transaction, the slave, and for a write every value.
class TableRequest
{
public:
    enum class Table
    {
        Coils,
        Discrete,
        Input,
        Holding
    };

    // The function codes of the tables.
    static constexpr int readCoils = 1;
    static constexpr int readDiscreteInputs = 2;
    static constexpr int readHoldingRegisters = 3;
    static constexpr int readInputRegisters = 4;
    static constexpr int writeSingleCoil = 5;
    static constexpr int writeSingleRegister = 6;
    static constexpr int writeMultipleCoils = 15;
    static constexpr int writeMultipleRegisters = 16;

    // Items one transaction carries at most.
    static constexpr int maxReadBits = 2000;
    static constexpr int maxReadRegisters = 125;
    static constexpr int maxWriteBits = 1968;
    static constexpr int maxWriteRegisters = 123;
    static constexpr int storedSlave = -1;

    Table table = Table::Holding;
    int addr = 0;
    // A read's bits, values, or for ascii registers, as the page counts them.
    int count = 0;
    // Bits or registers on the wire.
    int items = 0;
    ValueCodec::Type type = ValueCodec::Type::Int16;
    ValueCodec::Order order = ValueCodec::Order::ABCD;
    // 0-247, or storedSlave: the connection's.
    int slave = storedSlave;
    // A write's function code and what it carries.
    int fc = 0;
    QVector<quint8> bits;
    QVector<quint16> registers;

    // Each fills the request from the parameters and returns the error text that refuses
    // them, or an empty text.
    static QString parseRead(const t_GetArray &params, TableRequest *request);
    static QString parseWrite(const t_GetArray &params, TableRequest *request);

    static bool tableFromName(const QByteArray &name, Table *table);
    bool isBitTable() const { return table == Table::Coils || table == Table::Discrete; }
    // The function code of a read of this table.
    int readFunction() const;

private:
    QString parseLayout(const t_GetArray &params);
    QString checkRange(qint64 wireItems, int maxBits, int maxRegisters);
    QString parseWriteFunction(const t_GetArray &params);
};

#endif // TABLEREQUEST_H
