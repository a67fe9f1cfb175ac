#ifndef MODBUSTESTPARAMS_H
#define MODBUSTESTPARAMS_H

#include "getarray.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>

#include <initializer_list>
#include <utility>

// Request parameters as the request handler would hand them on.
inline t_GetArray requestParams(std::initializer_list<std::pair<const char *, QByteArray>> entries)
{
    t_GetArray params;
    for (const auto &entry : entries)
        params.insert(entry.first, entry.second);
    return params;
}

// A read request for count values from address, plus any further parameters.
inline t_GetArray readParams(int address, int count,
                             std::initializer_list<std::pair<const char *, QByteArray>> more = {})
{
    t_GetArray params = requestParams(more);
    params.insert("func", "readRegisters");
    params.insert("regAddr", QByteArray::number(address));
    params.insert("valuesCnt", QByteArray::number(count));
    return params;
}

// A write request; values is the array text the page would send, percent-encoded here.
inline t_GetArray writeParams(int address, int count, const QByteArray &values,
                              std::initializer_list<std::pair<const char *, QByteArray>> more = {})
{
    t_GetArray params = requestParams(more);
    params.insert("func", "writeRegisters");
    params.insert("regAddr", QByteArray::number(address));
    params.insert("valuesCnt", QByteArray::number(count));
    params.insert("regVals", QUrl::toPercentEncoding(QString::fromUtf8(values)));
    return params;
}

// Keeps the per-user settings store of a test program in a directory of its own.
inline void isolateSettingsStore(const QTemporaryDir &dir)
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, dir.path());
}

#endif // MODBUSTESTPARAMS_H
