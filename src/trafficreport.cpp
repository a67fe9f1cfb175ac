#include "trafficreport.h"

#include "jsonwriter.h"
#include "qmodbus0.h"
#include "trafficrecorder.h"

namespace {

void writeRecord(JsonWriter &json, const TrafficRecord &record)
{
    json.beginObject().name(QStringLiteral("seq")).number(qint64(record.seq));
    json.name(QStringLiteral("time")).string(record.timeText());
    json.name(QStringLiteral("fc")).number(record.fc);
    json.name(QStringLiteral("addr")).number(record.addr);
    json.name(QStringLiteral("count")).number(record.count);
    json.name(QStringLiteral("req")).string(QString::fromLatin1(record.request.toHex(' ')));
    json.name(QStringLiteral("resp")).string(QString::fromLatin1(record.response.toHex(' ')));
    json.name(QStringLiteral("ms")).milliseconds(record.ms);
    json.name(QStringLiteral("error")).string(record.error);
    json.endObject();
}
} // namespace

namespace TrafficReport {

QByteArray traffic(const t_GetArray &params)
{
    quint64 since = 0;
    if (params.contains("since")) {
        bool isNumber = false;
        since = params.value("since").toULongLong(&isNumber);
        if (!isNumber)
            return "{\"error\":\"Input parameters error!\"}";
    }
    const TrafficPage page = QModBus0::trafficRecorder().since(since);
    JsonWriter json;
    json.beginObject().name(QStringLiteral("next")).number(qint64(page.next));
    json.name(QStringLiteral("items")).beginArray();
    for (const TrafficRecord &record : page.items)
        writeRecord(json, record);
    json.endArray().endObject();
    return json.json();
}

QByteArray counters()
{
    const TrafficCounters counters = QModBus0::trafficRecorder().counters();
    JsonWriter json;
    json.beginObject().name(QStringLiteral("requests")).number(qint64(counters.requests));
    json.name(QStringLiteral("answers")).number(qint64(counters.answers));
    json.name(QStringLiteral("timeouts")).number(qint64(counters.timeouts));
    json.name(QStringLiteral("exceptions")).number(qint64(counters.exceptions));
    json.name(QStringLiteral("crcErrors")).number(qint64(counters.crcErrors));
    json.name(QStringLiteral("lastMs")).milliseconds(counters.lastMs);
    json.name(QStringLiteral("avgMs")).milliseconds(counters.avgMs);
    json.endObject();
    return json.json();
}

QByteArray resetCounters()
{
    QModBus0::trafficRecorder().resetCounters();
    return "{\"ok\":\"Counters reset.\"}";
}

} // namespace TrafficReport
