#include "tcptransport.h"

#include "modbustimeouts.h"
#include "qmodbus0.h"
#include "tcpprobe.h"
#include "usersettings.h"

#include <QDebug>
#include <QSettings>

#include <cerrno>

using namespace QModBus0;

bool TcpTransport::beginTransaction(Reach reach)
{
    return reach == Reach::Probed ? reconnect() : connectLink();
}

void TcpTransport::endTransaction()
{
    modbus_close(m_link.modbusCtx);
}

bool TcpTransport::open(const QString &address, int port, int timeoutNumber)
{
    m_link.release();
    // Looked up once, here: the library's connect in a transaction then never waits for a name
    // server under the device lock. The probe before it still connects to the stored name.
    const QString numeric = TcpProbe::numericAddress(address);
    if (numeric.isEmpty()) {
        qWarning() << "Modbus TCP: no address for" << address;
        return false;
    }
    m_link.modbusCtx = modbus_new_tcp(numeric.toLatin1().constData(), port);
    if (!m_link.modbusCtx)
        return false;
    m_link.setResponseTimeout(ModbusTimeouts::tcpMs(timeoutNumber));
    return true;
}

bool TcpTransport::reconnect()
{
    QSettings settings;
    const quint16 port = static_cast<quint16>(UserSettings::tcpPort.value(settings).toUInt());
    const QString address = UserSettings::tcpIp.value(settings).toString();
    const int timeout = UserSettings::timeout.value(settings).toInt();

    if (!TcpProbe::reachable(address, port, ModbusTimeouts::tcpMs(timeout)))
        return false;
    // The library may still fail where the probe got through.
    return connectLink();
}

bool TcpTransport::connectLink()
{
    if (modbus_connect(m_link.modbusCtx) == -1) {
        const int failure = errno;
        qWarning() << "Modbus TCP connect failed:" << modbus_strerror(failure);
        return false;
    }
    return true;
}
