#include "mqttcommands.h"

#include "jsonwriter.h"
#include "mqttclient.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {
// writeTable's parameters besides the values; numbers may come as JSON numbers or texts.
const char *const scalarMembers[] = {"table", "addr", "type", "order", "fc", "slave"};
// From here on a JSON number read as a double may not be the integer that was written.
constexpr double firstInexactInteger = 9007199254740992.0; // 2^53

// A number in its shortest text that reads back as the same double.
QByteArray numberText(double value)
{
    return QString::number(value, 'g', QLocale::FloatingPointShortest).toLatin1();
}

bool scalarText(const QJsonValue &value, QByteArray *text)
{
    if (value.isString())
        *text = value.toString().toUtf8();
    else if (value.isDouble())
        *text = numberText(value.toDouble());
    else
        return false;
    return true;
}

// A 64-bit integer written as a JSON number has already been rounded by the parser.
bool roundedInteger(const QJsonArray &values, const QByteArray &type)
{
    if (type != "int64" && type != "uint64")
        return false;
    for (const QJsonValue &value : values) {
        if (value.isDouble() && std::fabs(value.toDouble()) >= firstInexactInteger)
            return true;
    }
    return false;
}
} // namespace

MqttCommands::MqttCommands(MqttClient *client, const QString &commandTopic, AjaxCall call, QObject *parent)
    : QObject(parent)
    , m_client(client)
    , m_topic(commandTopic)
    , m_call(std::move(call))
    , m_runner(new QObject)
{
    m_runner->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_runner, &QObject::deleteLater);
    // Direct: receive() only counts and hands the command on.
    connect(client, &MqttClient::messageReceived, this, &MqttCommands::receive, Qt::DirectConnection);
    m_thread.start();
}

MqttCommands::~MqttCommands()
{
    stop();
}

void MqttCommands::stop()
{
    m_thread.quit();
    m_thread.wait();
}

QString MqttCommands::parse(const QByteArray &payload, t_GetArray *params, QByteArray *id)
{
    const QJsonDocument document = QJsonDocument::fromJson(payload);
    if (!document.isObject())
        return QStringLiteral("A command is one JSON object");
    const QJsonObject command = document.object();
    // The id first: whatever is wrong with the rest, the answer says which command it was.
    const QJsonValue idValue = command.value(QLatin1String("id"));
    if (idValue.isString())
        *id = '"' + JsonWriter::escaped(idValue.toString()) + '"';
    else if (idValue.isDouble())
        *id = numberText(idValue.toDouble());
    else if (!idValue.isUndefined())
        return QStringLiteral("The id is a text or a number");
    for (auto it = command.begin(); it != command.end(); ++it) {
        const QByteArray name = it.key().toUtf8();
        if (name == "id" || name == "values")
            continue;
        if (std::find(std::begin(scalarMembers), std::end(scalarMembers), name) == std::end(scalarMembers))
            return QStringLiteral("Unknown member \"%1\"").arg(it.key());
        QByteArray text;
        if (!scalarText(it.value(), &text))
            return QStringLiteral("Input parameters error!");
        params->insert(name, text);
    }
    if (!command.value(QLatin1String("values")).isArray())
        return QStringLiteral("Registers values error!");
    const QJsonArray values = command.value(QLatin1String("values")).toArray();
    if (roundedInteger(values, params->value("type")))
        return QStringLiteral("64-bit integers from 2^53 on must be sent as decimal strings");
    params->insert("values", QJsonDocument(values).toJson(QJsonDocument::Compact));
    return QString();
}

void MqttCommands::receive(const QString &topic, const QByteArray &payload, bool retained)
{
    if (topic != m_topic)
        return;
    if (retained) {
        qWarning().noquote() << "MQTT: a retained command on" << topic << "is not run";
        return;
    }
    if (payload.size() > maxPayloadBytes) {
        answer(QByteArray(),
               JsonWriter::errorReply(QStringLiteral("A command is at most %1 bytes").arg(maxPayloadBytes)));
        return;
    }
    if (++m_waiting > maxWaiting) {
        --m_waiting;
        answer(QByteArray(), JsonWriter::errorReply(QStringLiteral("Too many commands wait for the device")));
        return;
    }
    QMetaObject::invokeMethod(
        m_runner,
        [this, payload] {
            execute(payload);
            --m_waiting;
        },
        Qt::QueuedConnection);
}

void MqttCommands::execute(const QByteArray &payload)
{
    t_GetArray params;
    QByteArray id;
    const QString refused = parse(payload, &params, &id);
    QByteArray reply = refused.isEmpty() ? m_call("writeTable", params) : JsonWriter::errorReply(refused);
    // As a browser's call: nothing means the device lock stayed taken.
    if (reply.isEmpty())
        reply = JsonWriter::errorReply(QStringLiteral("The device stayed busy for 10 s"));
    qInfo().noquote() << "MQTT: write from" << m_topic << payload << "->" << reply;
    answer(id, reply);
}

void MqttCommands::answer(const QByteArray &id, const QByteArray &reply)
{
    // Every reply is one JSON object: the id goes in as its first member.
    QByteArray message = reply;
    if (!id.isEmpty())
        message = "{\"id\":" + id + (reply.size() > 2 ? "," : "") + reply.mid(1);
    m_client->publish(m_topic + QStringLiteral("/result"), message, false);
}
