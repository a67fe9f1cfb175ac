#ifndef PYMODBUSPEER_H
#define PYMODBUSPEER_H

#include <QByteArray>
#include <QProcess>

// tests/blackbox/pymodbus_peer.py running: an independent Modbus TCP device on loopback
// whose tables a test sets and reads through one-line commands.
class PymodbusPeer
{
public:
    ~PymodbusPeer();
    bool start();
    int port() const { return m_port; }
    // The peer's answer to one command (without its "= "), or "no answer".
    QByteArray ask(const QByteArray &command);

private:
    QProcess m_process;
    int m_port = -1;
};

#endif // PYMODBUSPEER_H
