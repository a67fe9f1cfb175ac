#ifndef DEVSIMPROCESS_H
#define DEVSIMPROCESS_H

#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

// A running vexo-devsim for tests: started from the build directory, with a control file
// through which a test switches its faults while it runs, and a count of the requests it
// has seen (it logs one line per request).
class DevsimProcess
{
public:
    ~DevsimProcess();
    // Starts the simulator with these arguments (plus the control file); TCP is served on
    // a free loopback port unless the arguments say otherwise. False if it did not come up.
    bool start(const QStringList &arguments);
    bool startTcp(const QStringList &extra = {});
    int port() const { return m_port; }
    void setFault(const QString &mode, int delayMs = 0);
    // Requests seen so far, optionally only those with this function code.
    int requestCount(int function = -1);
    // The whole frame of the last request seen, as it arrived (TCP header or RTU CRC included).
    QByteArray lastFrame();
    QString output() const { return m_output; }

private:
    void collectOutput();

    QTemporaryDir m_dir;
    QProcess m_process;
    QString m_output;
    int m_port = -1;
};

// A socat pair of connected pseudo-terminals, reachable through two stable links.
class PtyPair
{
public:
    ~PtyPair();
    bool start();
    QString first() const { return m_dir.filePath("ptyA"); }
    QString second() const { return m_dir.filePath("ptyB"); }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
};

#endif // DEVSIMPROCESS_H
