#ifndef TCPSERVER_H
#define TCPSERVER_H

#include <QString>

#include <thread>

class FaultControl;
class RequestProcessor;

// Modbus TCP: accepts clients on its own thread and serves each on a thread of its own,
// since the gateway opens a fresh connection for every transaction.
class TcpServer
{
public:
    TcpServer(RequestProcessor *processor, FaultControl *faults, bool logRequests);
    ~TcpServer();
    // Listens and starts accepting; returns the port listened on, or -1 with a message.
    int start(const QString &address, int port, QString *message);

private:
    void acceptLoop();

    RequestProcessor *m_processor;
    FaultControl *m_faults;
    bool m_logRequests;
    QString m_address;
    int m_listenSocket = -1;
    std::thread m_thread;
};

#endif // TCPSERVER_H
