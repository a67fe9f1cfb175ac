#ifndef OPTIONS_H
#define OPTIONS_H

#include "discoveryresponder.h"
#include "faults.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Everything the simulator is told on its command line.
struct DevsimOptions
{
    QString tcpAddress; // --tcp ADDR:PORT (port 0 picks a free one)
    int tcpPort = 0;
    QString rtuDevice; // --rtu DEVICE
    int baud = 115200;
    char parity = 'N';
    int stopBits = 1;
    int slave = 1;     // the device's address on the serial line
    QByteArray report; // report slave id data: device type id, run indicator, text
    Faults faults;
    QString controlFile; // re-read before every answer
    bool logRequests = false;
    bool discovery = false;     // answer device searches on UDP port 30303
    DiscoveryIdentity identity; // modbusPort 0: the TCP port served, else 502

    // Fills options from the arguments; on a mistake returns false with a message.
    static bool parse(const QStringList &arguments, DevsimOptions *options, QString *message);
};

#endif // OPTIONS_H
