#include "mqttpublisher.h"

#include "jsonwriter.h"
#include "mqttclient.h"
#include "pollingreplies.h"
#include "pollresult.h"

namespace {
QString problemName(MqttClient::Problem problem)
{
    switch (problem) {
    case MqttClient::Problem::None:
        break;
    case MqttClient::Problem::Unreachable:
        return QStringLiteral("unreachable");
    case MqttClient::Problem::Refused:
        return QStringLiteral("refused");
    case MqttClient::Problem::Tls:
        return QStringLiteral("tls");
    case MqttClient::Problem::Settings:
        return QStringLiteral("settings");
    }
    return QString();
}
} // namespace

MqttPublisher::MqttPublisher(const MqttSettings &settings, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_client(new MqttClient(settings.client, this))
{}

void MqttPublisher::start()
{
    m_client->start();
}

void MqttPublisher::stop()
{
    // The write under way still gets its answer out.
    if (m_commands)
        m_commands->stop();
    m_client->stop();
}

void MqttPublisher::acceptCommands(const MqttCommands::AjaxCall &call)
{
    if (m_settings.allowWrites && !m_commands)
        m_commands = new MqttCommands(m_client, m_settings.commandTopic, call, this);
}

void MqttPublisher::publishRead(const PollResult &read)
{
    m_client->publish(m_settings.readTopic(read.slave, read.name), readMessage(read), true);
}

QByteArray MqttPublisher::readMessage(const PollResult &read)
{
    JsonWriter json;
    json.beginObject()
        .name(QStringLiteral("id"))
        .number(read.id)
        .name(QStringLiteral("name"))
        .string(read.name);
    json.name(QStringLiteral("seq"))
        .number(qint64(read.seq))
        .name(QStringLiteral("time"))
        .string(read.timeText());
    json.name(QStringLiteral("slave")).number(read.slave).name(QStringLiteral("table")).string(read.table);
    json.name(QStringLiteral("fc")).number(read.fc).name(QStringLiteral("addr")).number(read.addr);
    json.name(QStringLiteral("count")).number(read.count);
    PollingReplies::writeOutcome(json, read);
    return json.endObject().json();
}

QByteArray MqttPublisher::statusReply(const MqttPublisher *publisher)
{
    JsonWriter json;
    json.beginObject().name(QStringLiteral("configured")).boolean(publisher != nullptr);
    if (publisher) {
        const MqttClient::Status status = publisher->m_client->status();
        json.name(QStringLiteral("connected")).boolean(status.connected);
        json.name(QStringLiteral("broker")).string(publisher->m_client->broker());
        json.name(QStringLiteral("tls")).boolean(publisher->m_settings.client.tls);
        json.name(QStringLiteral("topicPrefix")).string(publisher->m_settings.topicPrefix);
        json.name(QStringLiteral("problem")).string(problemName(status.problem));
        json.name(QStringLiteral("lastError")).string(status.lastError);
        json.name(QStringLiteral("queued")).number(status.queued);
        json.name(QStringLiteral("dropped")).number(status.dropped);
        json.name(QStringLiteral("published")).number(status.published);
        json.name(QStringLiteral("attempts")).number(status.attempts);
        json.name(QStringLiteral("nextAttemptMs")).number(status.nextAttemptMs);
        json.name(QStringLiteral("writes")).boolean(publisher->m_settings.allowWrites);
    }
    return json.endObject().json();
}
