#ifndef LISTENERSETTINGS_H
#define LISTENERSETTINGS_H

#include <QSettings>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

// A config.ini of its own in a temporary directory, positioned in group `listener`, as the
// HTTP server is given it.
class ListenerSettings
{
public:
    explicit ListenerSettings(const QVariantMap &values = QVariantMap())
    {
        m_settings = std::make_unique<QSettings>(m_dir.filePath("config.ini"), QSettings::IniFormat);
        m_settings->beginGroup("listener");
        for (auto it = values.constBegin(); it != values.constEnd(); ++it)
            m_settings->setValue(it.key(), it.value());
        m_settings->sync();
    }

    QSettings *settings() const { return m_settings.get(); }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> m_settings;
};

#endif // LISTENERSETTINGS_H
