#include "readdefinition.h"

#include "jsonwriter.h"

namespace {
const QString inputError = QStringLiteral("Input parameters error!");

// An optional 0 or 1; false for anything else.
bool flagParam(const t_GetArray &params, const char *name, bool *flag)
{
    if (!params.contains(name))
        return true;
    const QByteArray value = params.value(name);
    if (value != "0" && value != "1")
        return false;
    *flag = value == "1";
    return true;
}

bool idParam(const t_GetArray &params, int *id)
{
    if (!params.contains("id"))
        return true;
    bool isNumber = false;
    const int value = params.value("id").toInt(&isNumber);
    if (!isNumber || value < 1)
        return false;
    *id = value;
    return true;
}
} // namespace

QString ReadDefinition::fromParams(const t_GetArray &params, ReadDefinition *definition)
{
    if (!params.contains("slave"))
        return inputError;
    TableRequest request;
    const QString refused = TableRequest::parseRead(params, &request);
    if (!refused.isEmpty())
        return refused;
    ReadDefinition read;
    read.name = QString::fromUtf8(params.value("name"));
    if (read.name.trimmed().isEmpty() || read.name.size() > maxNameLength)
        return QStringLiteral("Invalid name!");
    bool isNumber = false;
    const qint64 interval = params.value("intervalMs").toLongLong(&isNumber);
    if (!isNumber || interval < minIntervalMs || interval > maxIntervalMs)
        return QStringLiteral("Invalid interval!");
    if (!flagParam(params, "enabled", &read.enabled) || !flagParam(params, "log", &read.log) ||
        !idParam(params, &read.id))
        return inputError;
    read.intervalMs = int(interval);
    read.table = params.value("table");
    read.slave = request.slave;
    read.addr = request.addr;
    read.count = request.count;
    // A bit table has no value type: it keeps the defaults.
    read.type = request.isBitTable() ? QByteArray("int16") : params.value("type", "int16");
    read.order = request.isBitTable() ? QByteArray("ABCD") : params.value("order", "ABCD");
    *definition = read;
    return QString();
}

bool ReadDefinition::fromJson(const QJsonObject &object, ReadDefinition *definition)
{
    t_GetArray params;
    for (const char *name : {"name", "table", "type", "order"})
        params.insert(name, object.value(QLatin1String(name)).toString().toUtf8());
    for (const char *name : {"id", "slave", "addr", "count", "intervalMs"})
        params.insert(name, QByteArray::number(object.value(QLatin1String(name)).toDouble(-1), 'f', 0));
    for (const char *name : {"enabled", "log"})
        params.insert(name, object.value(QLatin1String(name)).toBool() ? "1" : "0");
    return fromParams(params, definition).isEmpty() && definition->id > 0;
}

QJsonObject ReadDefinition::toJson() const
{
    return {{QStringLiteral("id"), id},
            {QStringLiteral("name"), name},
            {QStringLiteral("table"), QString::fromLatin1(table)},
            {QStringLiteral("slave"), slave},
            {QStringLiteral("addr"), addr},
            {QStringLiteral("count"), count},
            {QStringLiteral("type"), QString::fromLatin1(type)},
            {QStringLiteral("order"), QString::fromLatin1(order)},
            {QStringLiteral("intervalMs"), intervalMs},
            {QStringLiteral("enabled"), enabled},
            {QStringLiteral("log"), log}};
}

void ReadDefinition::write(JsonWriter &json) const
{
    json.beginObject().name(QStringLiteral("id")).number(id);
    json.name(QStringLiteral("name")).string(name);
    json.name(QStringLiteral("table")).string(QString::fromLatin1(table));
    json.name(QStringLiteral("slave")).number(slave);
    json.name(QStringLiteral("addr")).number(addr);
    json.name(QStringLiteral("count")).number(count);
    json.name(QStringLiteral("type")).string(QString::fromLatin1(type));
    json.name(QStringLiteral("order")).string(QString::fromLatin1(order));
    json.name(QStringLiteral("intervalMs")).number(intervalMs);
    json.name(QStringLiteral("enabled")).literal(enabled ? "true" : "false");
    json.name(QStringLiteral("log")).literal(log ? "true" : "false");
    json.endObject();
}

t_GetArray ReadDefinition::tableParams() const
{
    return {{"table", table},
            {"slave", QByteArray::number(slave)},
            {"addr", QByteArray::number(addr)},
            {"count", QByteArray::number(count)},
            {"type", type},
            {"order", order}};
}

TableRequest ReadDefinition::request() const
{
    TableRequest request;
    TableRequest::parseRead(tableParams(), &request);
    return request;
}

bool ReadDefinition::sameRead(const ReadDefinition &other) const
{
    return tableParams() == other.tableParams();
}
