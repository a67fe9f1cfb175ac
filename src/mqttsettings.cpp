#include "mqttsettings.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStringList>
#include <QSysInfo>

namespace {
const char defaultPrefix[] = "vexo";
constexpr int plainPort = 1883;
constexpr int tlsPort = 8883;

void complain(const char *key, const QString &value, const QString &taken)
{
    qWarning().noquote() << "MQTT: [mqtt]" << key << "=" << value << "cannot be used; taking" << taken;
}

// A value with a comma comes back from the INI reader as a list: it is one text here.
QString text(const QSettings &settings, const char *key)
{
    const QVariant value = settings.value(QLatin1String(key));
    return value.toStringList().join(QLatin1Char(',')).trimmed();
}

bool flag(const QSettings &settings, const char *key, bool fallback)
{
    const QString value = text(settings, key).toLower();
    if (value.isEmpty())
        return fallback;
    if (QStringList{"true", "1", "yes", "on"}.contains(value))
        return true;
    if (QStringList{"false", "0", "no", "off"}.contains(value))
        return false;
    complain(key, value, fallback ? QStringLiteral("true") : QStringLiteral("false"));
    return fallback;
}

int number(const QSettings &settings, const char *key, int fallback, int lowest, int highest)
{
    const QString value = text(settings, key);
    if (value.isEmpty())
        return fallback;
    bool isNumber = false;
    const int result = value.toInt(&isNumber);
    if (isNumber && result >= lowest && result <= highest)
        return result;
    complain(key, value, QString::number(fallback));
    return fallback;
}

// A topic Vexo publishes or subscribes to exactly: no wildcard, no empty text.
bool isPlainTopic(const QString &topic)
{
    return !topic.isEmpty() && !topic.contains(QLatin1Char('+')) && !topic.contains(QLatin1Char('#')) &&
           !topic.contains(QChar(0));
}

QString readTopicPrefix(const QSettings &settings)
{
    QString prefix = text(settings, "topicPrefix");
    while (prefix.endsWith(QLatin1Char('/')))
        prefix.chop(1);
    if (prefix.isEmpty())
        return QString::fromLatin1(defaultPrefix);
    if (isPlainTopic(prefix))
        return prefix;
    complain("topicPrefix", prefix, QString::fromLatin1(defaultPrefix));
    return QString::fromLatin1(defaultPrefix);
}

MqttClient::Options clientOptions(const QSettings &settings, const QString &configPath)
{
    MqttClient::Options options;
    options.host = text(settings, "host");
    options.tls = flag(settings, "tls", false);
    options.port = number(settings, "port", options.tls ? tlsPort : plainPort, 1, 65535);
    const QString caFile = text(settings, "caFile");
    if (!caFile.isEmpty())
        options.caFile = QFileInfo(configPath).dir().absoluteFilePath(caFile);
    options.user = text(settings, "user");
    options.password = text(settings, "password");
    options.clientId = text(settings, "clientId");
    if (options.clientId.isEmpty())
        options.clientId = QStringLiteral("vexo-") + MqttSettings::topicLevel(QSysInfo::machineHostName());
    options.qos = number(settings, "qos", 1, 0, 1);
    options.maxQueued =
        number(settings, "maxQueued", MqttSettings::defaultMaxQueued, 1, MqttSettings::largestMaxQueued);
    return options;
}
} // namespace

MqttSettings MqttSettings::read(const QString &configPath)
{
    QSettings settings(configPath, QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("mqtt"));
    MqttSettings mqtt;
    mqtt.enabled = flag(settings, "enabled", false);
    if (!mqtt.enabled)
        return mqtt;
    mqtt.client = clientOptions(settings, configPath);
    if (mqtt.client.host.isEmpty()) {
        qWarning() << "MQTT: [mqtt] enabled without a host: nothing is published";
        mqtt.enabled = false;
        return mqtt;
    }
    mqtt.topicPrefix = readTopicPrefix(settings);
    mqtt.device = topicLevel(text(settings, "device"));
    mqtt.computerName = topicLevel(QSysInfo::machineHostName());
    mqtt.client.statusTopic = mqtt.topicPrefix + QStringLiteral("/status");
    mqtt.commandTopic = text(settings, "commandTopic");
    mqtt.allowWrites = flag(settings, "allowWrites", false);
    if (mqtt.allowWrites && !isPlainTopic(mqtt.commandTopic)) {
        complain("commandTopic", mqtt.commandTopic, QStringLiteral("none: writes stay off"));
        mqtt.allowWrites = false;
    }
    if (mqtt.allowWrites)
        mqtt.client.subscription = mqtt.commandTopic;
    return mqtt;
}

QString MqttSettings::readTopic(int slave, const QString &definition) const
{
    // The computer, not the connection: the connection can change between a read and its
    // message, the computer cannot, so no value is ever filed under the wrong device.
    const QString deviceLevel =
        device.isEmpty() ? computerName + QLatin1Char('-') + QString::number(slave) : device;
    return topicPrefix + QLatin1Char('/') + deviceLevel + QLatin1Char('/') + topicLevel(definition);
}

QString MqttSettings::topicLevel(const QString &text)
{
    QString level = text.trimmed();
    for (QChar &c : level) {
        if (c == QLatin1Char('/') || c == QLatin1Char('+') || c == QLatin1Char('#') || c.isSpace() ||
            c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    return level;
}
