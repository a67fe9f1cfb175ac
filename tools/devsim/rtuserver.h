#ifndef RTUSERVER_H
#define RTUSERVER_H

#include <QString>

#include <thread>

class FaultControl;
class RequestProcessor;
struct DevsimOptions;

// Modbus RTU on one serial device, served on its own thread.
class RtuServer
{
public:
    RtuServer(RequestProcessor *processor, FaultControl *faults, bool logRequests);
    ~RtuServer();
    bool start(const DevsimOptions &options, QString *message);

private:
    RequestProcessor *m_processor;
    FaultControl *m_faults;
    bool m_logRequests;
    std::thread m_thread;
};

#endif // RTUSERVER_H
