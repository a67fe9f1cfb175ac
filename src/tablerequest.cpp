#include "tablerequest.h"

#include <limits>

namespace {
constexpr qint64 maxAddress = 65535;
constexpr qint64 maxSlave = 247;

const QString inputError = QStringLiteral("Input parameters error!");
const QString tooMany = QStringLiteral("Too many registers");

// A decimal integer parameter within [min, max]; false when absent, not a number or outside.
bool integerParam(const t_GetArray &params, const char *name, qint64 min, qint64 max, int *value)
{
    if (!params.contains(name))
        return false;
    bool isNumber = false;
    const qint64 number = params.value(name).toLongLong(&isNumber);
    if (!isNumber || number < min || number > max)
        return false;
    *value = int(number);
    return true;
}

bool slaveParam(const t_GetArray &params, int *slave)
{
    return !params.contains("slave") || integerParam(params, "slave", 0, maxSlave, slave);
}
} // namespace

bool TableRequest::tableFromName(const QByteArray &name, Table *table)
{
    static const struct
    {
        const char *name;
        Table table;
    } tables[] = {{"coils", Table::Coils},
                  {"discrete", Table::Discrete},
                  {"input", Table::Input},
                  {"holding", Table::Holding}};
    for (const auto &entry : tables) {
        if (name == entry.name) {
            *table = entry.table;
            return true;
        }
    }
    return false;
}

int TableRequest::readFunction() const
{
    switch (table) {
    case Table::Coils:
        return readCoils;
    case Table::Discrete:
        return readDiscreteInputs;
    case Table::Input:
        return readInputRegisters;
    case Table::Holding:
        break;
    }
    return readHoldingRegisters;
}

QString TableRequest::parseLayout(const t_GetArray &params)
{
    if (!tableFromName(params.value("table"), &table))
        return QStringLiteral("Unknown table!");
    if (isBitTable())
        return QString();
    if (params.contains("type") && !ValueCodec::typeFromName(params.value("type"), &type))
        return QStringLiteral("Unknown value type!");
    if (params.contains("order") && !ValueCodec::orderFromName(params.value("order"), &order))
        return QStringLiteral("Unknown byte order!");
    return QString();
}

QString TableRequest::checkRange(qint64 wireItems, int maxBits, int maxRegisters)
{
    if (wireItems > (isBitTable() ? maxBits : maxRegisters))
        return tooMany;
    if (addr + wireItems - 1 > maxAddress)
        return inputError;
    items = int(wireItems);
    return QString();
}

QString TableRequest::parseRead(const t_GetArray &params, TableRequest *request)
{
    const QString layoutError = request->parseLayout(params);
    if (!layoutError.isEmpty())
        return layoutError;
    if (!integerParam(params, "addr", 0, maxAddress, &request->addr) ||
        !integerParam(params, "count", 1, std::numeric_limits<int>::max(), &request->count) ||
        !slaveParam(params, &request->slave))
        return inputError;
    // In 64 bits: a count near the int limit times four registers must not wrap.
    const bool oneItemEach = request->isBitTable() || request->type == ValueCodec::Type::Ascii;
    const qint64 wireItems =
        qint64(request->count) * (oneItemEach ? 1 : ValueCodec::registersPerValue(request->type));
    return request->checkRange(wireItems, maxReadBits, maxReadRegisters);
}

QString TableRequest::parseWrite(const t_GetArray &params, TableRequest *request)
{
    const QString layoutError = request->parseLayout(params);
    if (!layoutError.isEmpty())
        return layoutError;
    if (request->table != Table::Coils && request->table != Table::Holding)
        return QStringLiteral("Unknown table!");
    if (!integerParam(params, "addr", 0, maxAddress, &request->addr) || !params.contains("values") ||
        !slaveParam(params, &request->slave))
        return inputError;
    QString valuesError;
    const bool encoded = request->table == Table::Coils
                             ? ValueCodec::encodeBits(params.value("values"), &request->bits, &valuesError)
                             : ValueCodec::encode(params.value("values"), request->type, request->order,
                                                  &request->registers, &valuesError);
    if (!encoded)
        return valuesError;
    const int wireItems = request->table == Table::Coils ? request->bits.size() : request->registers.size();
    const QString rangeError = request->checkRange(wireItems, maxWriteBits, maxWriteRegisters);
    if (!rangeError.isEmpty())
        return rangeError;
    return request->parseWriteFunction(params);
}

QString TableRequest::parseWriteFunction(const t_GetArray &params)
{
    const bool coils = table == Table::Coils;
    const int single = coils ? writeSingleCoil : writeSingleRegister;
    const int multiple = coils ? writeMultipleCoils : writeMultipleRegisters;
    if (!params.contains("fc")) {
        fc = items == 1 ? single : multiple;
        return QString();
    }
    if (!integerParam(params, "fc", single, multiple, &fc) || (fc != single && fc != multiple) ||
        (fc == single && items != 1))
        return inputError;
    return QString();
}
