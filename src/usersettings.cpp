#include "usersettings.h"

#include <QSettings>

QVariant UserSetting::value(const QSettings &store, const QVariant &fallback) const
{
    return store.value(QLatin1String(key), fallback);
}

void UserSetting::setValue(QSettings &store, const QVariant &value) const
{
    store.setValue(QLatin1String(key), value);
}
