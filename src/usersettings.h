#ifndef USERSETTINGS_H
#define USERSETTINGS_H

#include "serialline.h"

#include <QVariant>

class QSettings;

// One key of the per-user settings store: the framework's native store of organisation
// "Torva" and application "Vexo", opened anew wherever it is read or written. Every key is
// declared below, once, with the type it is stored as and the default the port settings
// listing shows. Other readers pass the default they need, and convert the value their own
// way: they differ by design (a transaction takes slave address 0 while none is stored).
// Threads: read and written on the connection threads, each with a store object of its own.
struct UserSetting
{
    const char *key;
    QVariant listedDefault; // what getPortSettings shows while nothing is stored

    QVariant value(const QSettings &store, const QVariant &fallback = QVariant()) const;
    QVariant listedValue(const QSettings &store) const { return value(store, listedDefault); }
    void setValue(QSettings &store, const QVariant &value) const;
};

namespace UserSettings {

// The last serial connection (connectSerial), read back by the serial reconnection, the
// listing and the firmware updater's arguments.
// Text: the requested port name without its first three characters ("COM3" gives "3").
inline const UserSetting selectedPort{"Selected_Port", {}};
// Text: the requested port name as the page sent it.
inline const UserSetting portName{"portName", 0};
// Integer: a SerialLine::BaudIndex.
inline const UserSetting baudRate{"baudRate", SerialLine::Baud1200};
// 16-bit integer: a SerialLine::Mode.
inline const UserSetting mode{"mode", SerialLine::Rtu8N1};

// The last TCP connection (connectWitchTCP), read back before every TCP transaction.
// Text: the device's address.
inline const UserSetting tcpIp{"tcpIp", QStringLiteral("192.168.1.100")};
// Integer: the device's port.
inline const UserSetting tcpPort{"tcpPort", 502};

// Either connection.
// 16-bit integer: the slave address of every transaction.
inline const UserSetting slaveId{"slaveID", 1};
// Integer as the page sent it: 10 ms steps on a serial line, milliseconds over TCP.
inline const UserSetting timeout{"timeout", 200000};

// Decimal text: the device type id that identifySlave found.
inline const UserSetting torvaId{"Torva_ID", {}};

// The support e-mail's rate limit.
// Date and time of the last successful send.
inline const UserSetting lastEmailSent{"time", {}};
// Integer: the sends of this run; written, never read.
inline const UserSetting emailsSentCount{"how_many_email_send", {}};

} // namespace UserSettings

#endif // USERSETTINGS_H
