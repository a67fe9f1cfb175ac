#ifndef READDEFINITION_H
#define READDEFINITION_H

#include "getarray.h"
#include "tablerequest.h"

#include <QJsonObject>
#include <QString>

class JsonWriter;

// A read that Vexo polls by itself: a table, a slave, a range, a value type and an interval.
// Whatever its source (the page, the stored file), it passes readTable's checks and its own.
struct ReadDefinition
{
    static constexpr int maxNameLength = 40;
    static constexpr qint64 minIntervalMs = 100;
    static constexpr qint64 maxIntervalMs = 24 * 60 * 60 * 1000;

    int id = 0; // 0 until stored
    QString name;
    QByteArray table;
    int slave = 0;
    int addr = 0;
    int count = 0;
    QByteArray type;
    QByteArray order;
    int intervalMs = 0;
    bool enabled = true;
    bool log = false;

    // From saveDefinition's parameters (or the stored file's, as texts): the error text that
    // refuses them, or an empty text.
    static QString fromParams(const t_GetArray &params, ReadDefinition *definition);
    static bool fromJson(const QJsonObject &object, ReadDefinition *definition);
    QJsonObject toJson() const;
    // As the replies list it, members in their documented order.
    void write(JsonWriter &json) const;
    // The readTable request it makes.
    TableRequest request() const;
    bool sameRead(const ReadDefinition &other) const;

private:
    t_GetArray tableParams() const;
};

#endif // READDEFINITION_H
