#include "pollingreplies.h"

#include "jsonwriter.h"
#include "poller.h"

namespace {

void writeResult(JsonWriter &json, const PollResult &result)
{
    json.beginObject().name(QStringLiteral("id")).number(result.id);
    json.name(QStringLiteral("seq")).number(qint64(result.seq));
    json.name(QStringLiteral("time")).string(result.timeText());
    PollingReplies::writeOutcome(json, result);
    json.endObject();
}
} // namespace

namespace PollingReplies {

void writeOutcome(JsonWriter &json, const PollResult &result)
{
    json.name(QStringLiteral("regs")).beginArray();
    for (const quint16 item : result.regs)
        json.number(item);
    json.endArray().name(QStringLiteral("values")).literal(result.values);
    json.name(QStringLiteral("ms")).milliseconds(result.ms);
    json.name(QStringLiteral("error")).string(result.error);
}

QByteArray definitions(Poller &poller)
{
    JsonWriter json;
    json.beginObject().name(QStringLiteral("polling")).boolean(poller.definitions().polling());
    json.name(QStringLiteral("definitions")).beginArray();
    for (const ReadDefinition &definition : poller.definitions().definitions())
        definition.write(json);
    json.endArray().endObject();
    return json.json();
}

QByteArray saveDefinition(Poller &poller, const t_GetArray &params)
{
    ReadDefinition definition;
    QString refused = ReadDefinition::fromParams(params, &definition);
    if (refused.isEmpty())
        refused = poller.definitions().save(&definition);
    if (!refused.isEmpty())
        return JsonWriter::errorReply(refused);
    poller.definitionsChanged();
    JsonWriter json;
    json.beginObject().name(QStringLiteral("ok")).string(QStringLiteral("Saved."));
    json.name(QStringLiteral("id")).number(definition.id).endObject();
    return json.json();
}

QByteArray deleteDefinition(Poller &poller, const t_GetArray &params)
{
    bool isNumber = false;
    const int id = params.value("id").toInt(&isNumber);
    if (!isNumber)
        return JsonWriter::errorReply(QStringLiteral("Input parameters error!"));
    const QString refused = poller.definitions().remove(id);
    if (!refused.isEmpty())
        return JsonWriter::errorReply(refused);
    poller.definitionsChanged();
    return JsonWriter::okReply(QStringLiteral("Deleted."));
}

QByteArray setPolling(Poller &poller, const t_GetArray &params)
{
    const QByteArray on = params.value("on");
    if (on != "0" && on != "1")
        return JsonWriter::errorReply(QStringLiteral("Input parameters error!"));
    const QString refused = poller.definitions().setPolling(on == "1");
    if (!refused.isEmpty())
        return JsonWriter::errorReply(refused);
    poller.definitionsChanged();
    return JsonWriter::okReply(on == "1" ? QStringLiteral("Polling started.")
                                         : QStringLiteral("Polling stopped."));
}

QByteArray results(Poller &poller)
{
    JsonWriter json;
    json.beginObject().name(QStringLiteral("polling")).boolean(poller.definitions().polling());
    json.name(QStringLiteral("results")).beginArray();
    for (const PollResult &result : poller.results())
        writeResult(json, result);
    json.endArray().endObject();
    return json.json();
}

QByteArray logInfo(Poller &poller)
{
    JsonWriter json;
    json.beginObject().name(QStringLiteral("bytes")).number(poller.valueLog().bytes());
    json.name(QStringLiteral("maxBytes")).number(poller.valueLog().maxBytes()).endObject();
    return json.json();
}

QByteArray clearLog(Poller &poller)
{
    poller.valueLog().clear();
    return JsonWriter::okReply(QStringLiteral("Log cleared."));
}

} // namespace PollingReplies
