#include "rtutransport.h"

#include "modbustimeouts.h"
#include "qmodbus0.h"
#include "serialline.h"
#include "usersettings.h"

#include <QDebug>
#include <QSettings>

using namespace QModBus0;

bool RtuTransport::prepareRetransmission()
{
    return m_link.connected && reconnect();
}

bool RtuTransport::findPort(const QString &requested, QString *enumeratedName)
{
    const QList<PortInfo> ports = getPorts();
    for (const PortInfo &port : ports) {
        if (port.portName == requested || port.portName.contains(requested)) {
            *enumeratedName = port.portName;
            return true;
        }
    }
    return false;
}

bool RtuTransport::open(const QString &portName, int baudIndex, int mode, int timeoutNumber)
{
    const SerialLine::Framing line = SerialLine::framingOf(mode);
    m_link.release();
    m_link.modbusCtx = modbus_new_rtu(portName.toLatin1().constData(), SerialLine::baudRate(baudIndex),
                                      line.parity, SerialLine::dataBits, line.stopBits);
    if (!m_link.modbusCtx || modbus_connect(m_link.modbusCtx) == -1)
        return false;
    m_link.setResponseTimeout(ModbusTimeouts::serialMs(timeoutNumber));
    return true;
}

bool RtuTransport::reopen()
{
    QSettings settings;
    const QString requested = UserSettings::portName.value(settings).toString();
    const int baudIndex = UserSettings::baudRate.value(settings).toInt();
    const int mode = UserSettings::mode.value(settings).toInt();
    const int timeout = UserSettings::timeout.value(settings).toInt();
    qDebug().nospace() << "4timeout: " << timeout;

    QString portName;
    if (!findPort(requested, &portName))
        return false;
    // A rate index edited outside the program never reaches the library.
    if (SerialLine::baudRate(baudIndex) < 0)
        return false;
    if (!open(portName, baudIndex, mode, timeout)) {
        qWarning() << "Błąd: Nie udało się połączyć z Modbus!modbus_new_rtu";
        return false;
    }
    m_link.connected = true;
    return true;
}

bool RtuTransport::reconnect()
{
    m_link.release();
    m_link.connected = false;
    return reopen();
}
