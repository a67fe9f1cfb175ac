#ifndef MQTTSETTINGS_H
#define MQTTSETTINGS_H

#include "mqttclient.h"

#include <QString>

// The [mqtt] group of config.ini: whether and how Vexo feeds a broker. A value that makes no
// sense is logged and replaced by its default; a broker without a host is no broker.
// Threads: read on the main thread at start; the copies are only read afterwards.
struct MqttSettings
{
    bool enabled = false;
    MqttClient::Options client; // statusTopic and subscription derived from the keys below
    QString topicPrefix;
    QString device;       // one topic level; empty: each slave is <computerName>-<slave>
    QString computerName; // as a topic level
    // Writes from the broker: only with allowWrites=true and a command topic.
    bool allowWrites = false;
    QString commandTopic;

    static constexpr int defaultMaxQueued = 10000;
    static constexpr int largestMaxQueued = 1000000;

    static MqttSettings read(const QString &configPath);
    // Where a read of a slave goes: <prefix>/<device>/<definition>.
    QString readTopic(int slave, const QString &definition) const;
    // Text made one topic level: no level separators, wildcards, blanks or control characters.
    static QString topicLevel(const QString &text);
};

#endif // MQTTSETTINGS_H
