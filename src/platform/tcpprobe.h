#ifndef TCPPROBE_H
#define TCPPROBE_H

#include <QString>

// Finds out whether a host accepts TCP connections on a port, within a time limit, with a
// plain socket that is closed again at once. An unreachable host is found within the limit,
// where a library's own connect would wait for the system's much longer time-out.
// Threads: blocks the calling thread; any thread may call it.
class TcpProbe
{
public:
    static bool reachable(const QString &address, quint16 port, int timeoutMs);
    // The numeric address of a host name (an IPv4 address preferred), or of a numeric address
    // itself; empty when the name does not resolve. Blocks while the system looks it up.
    static QString numericAddress(const QString &host);
};

#endif // TCPPROBE_H
