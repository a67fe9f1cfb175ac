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
    RtuServer(RequestProcessor *processor, FaultControl *faults);
    ~RtuServer();
    bool start(const DevsimOptions &options, QString *message);

private:
    RequestProcessor *m_processor;
    FaultControl *m_faults;
    std::thread m_thread;
};

#endif // RTUSERVER_H
