#ifndef MQTTPUBLISHER_H
#define MQTTPUBLISHER_H

#include "mqttcommands.h"
#include "mqttsettings.h"

#include <QByteArray>
#include <QObject>

class MqttClient;
struct PollResult;

// Feeds a broker with what Vexo reads: every polled read as one retained JSON message under
// <prefix>/<device>/<definition>, the state of Vexo itself retained under <prefix>/status
// ("online", or "offline" from a clean end or the broker's will), and getBrokerStatus's view
// of the connection. Made only when [mqtt] is on.
// Threads: made, started and stopped on the main thread; the rest from any thread.
class MqttPublisher : public QObject
{
    Q_OBJECT
public:
    explicit MqttPublisher(const MqttSettings &settings, QObject *parent = nullptr);

    void start();
    // Says "offline" and ends the connection; waits a moment for the broker at most.
    void stop();
    // With allowWrites: runs the command topic's writes through call (see MqttCommands).
    void acceptCommands(const MqttCommands::AjaxCall &call);
    // Queues the read's message and returns: the poller never waits for the broker.
    void publishRead(const PollResult &read);
    // The read as its message carries it: the definition, when and what was read, the
    // values as Vexo decoded them, or the error.
    static QByteArray readMessage(const PollResult &read);

    MqttClient *client() const { return m_client; }
    const MqttSettings &settings() const { return m_settings; }

    // getBrokerStatus's reply for a publisher, or for none: {"configured":false}.
    static QByteArray statusReply(const MqttPublisher *publisher);

private:
    const MqttSettings m_settings;
    MqttClient *m_client;
    MqttCommands *m_commands = nullptr;
};

#endif // MQTTPUBLISHER_H
