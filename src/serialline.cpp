#include "serialline.h"

namespace SerialLine {

int baudRate(int index)
{
    return index >= 0 && index < baudCount ? baudRates[index] : -1;
}

int baudIndexOfRate(int rate)
{
    for (int index = 0; index < baudCount; ++index) {
        if (baudRates[index] == rate)
            return index;
    }
    return -1;
}

QStringList baudRateTexts()
{
    QStringList texts;
    for (const int rate : baudRates)
        texts << QString::number(rate);
    return texts;
}

QStringList modeTexts()
{
    return {QStringLiteral("RTU 8N2"), QStringLiteral("RTU 8E1"), QStringLiteral("RTU 8O1"),
            QStringLiteral("RTU 8N1")};
}

Framing framingOf(int mode)
{
    switch (mode) {
    case Rtu8N2:
        return {'N', 2};
    case Rtu8E1:
        return {'E', 1};
    case Rtu8O1:
        return {'O', 1};
    default:
        return {'N', 1};
    }
}

} // namespace SerialLine
