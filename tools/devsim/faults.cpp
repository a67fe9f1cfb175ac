#include "faults.h"

#include <QStringList>

namespace {
const QStringList names = {"none", "silent", "bad-crc", "short", "malformed"};
}

bool Faults::parseMode(const QString &name, Mode *mode)
{
    const int index = names.indexOf(name.trimmed());
    if (index < 0)
        return false;
    *mode = static_cast<Mode>(index);
    return true;
}

QString Faults::modeNames()
{
    return names.join(QStringLiteral(", "));
}
