#ifndef MQTTCOMMANDS_H
#define MQTTCOMMANDS_H

#include "getarray.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>

class MqttClient;
class QJsonObject;

// Writes asked for on the broker's command topic, made only with [mqtt] allowWrites=true.
// A command is writeTable's parameters as one JSON object, with an optional "id":
//   {"id":"r1","table":"holding","addr":10,"values":[1,2],"type":"int16","order":"ABCD","fc":16,"slave":1}
// It runs through the writeTable function's own row, so it passes the same checks and waits
// for the same device lock as a write from the browser; its reply goes to
// <commandTopic>/result with the id in front: {"id":"r1","ok":"Values successfully sent.",...}.
// A retained command is never run: it would write again at every connection.
// Threads: made and stopped on the main thread; commands arrive on the client's thread and
// run one after the other on a thread of their own.
class MqttCommands : public QObject
{
    Q_OBJECT
public:
    using AjaxCall = std::function<QByteArray(const QByteArray &func, t_GetArray &params)>;

    static constexpr int maxPayloadBytes = 16 * 1024;
    // Commands waiting for the device at most; more are answered at once, not queued.
    static constexpr int maxWaiting = 16;

    MqttCommands(MqttClient *client, const QString &commandTopic, AjaxCall call, QObject *parent = nullptr);
    ~MqttCommands() override;

    // Lets the command under way finish, drops the waiting ones.
    void stop();

    // writeTable's parameters from a command, and the command's id as JSON ("" without one);
    // the error text when the command cannot be one.
    static QString parse(const QByteArray &payload, t_GetArray *params, QByteArray *id);

private:
    void receive(const QString &topic, const QByteArray &payload, bool retained);
    void execute(const QByteArray &payload);
    void answer(const QByteArray &id, const QByteArray &reply);

    MqttClient *m_client;
    const QString m_topic;
    const AjaxCall m_call;
    QThread m_thread;
    QObject *m_runner; // lives on m_thread: the commands are run in its event queue
    std::atomic<int> m_waiting{0};
};

#endif // MQTTCOMMANDS_H
