#include "pymodbuspeer.h"

#include "testenv.h"

namespace {
constexpr int answerTimeoutMs = 10000;
const QByteArray answerMark = "= ";
} // namespace

PymodbusPeer::~PymodbusPeer()
{
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(3000))
        m_process.kill();
    m_process.waitForFinished();
}

bool PymodbusPeer::start()
{
    m_process.start("/usr/bin/python3", {vexoSourceDir() + "/tests/blackbox/pymodbus_peer.py"});
    if (!m_process.waitForStarted() || !m_process.waitForReadyRead(answerTimeoutMs))
        return false;
    const QByteArray first = m_process.readLine().trimmed();
    if (!first.startsWith("port "))
        return false;
    m_port = first.mid(5).toInt();
    return true;
}

QByteArray PymodbusPeer::ask(const QByteArray &command)
{
    m_process.write(command + "\n");
    for (;;) {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(answerTimeoutMs))
                return "no answer";
        }
        // The server library may print lines of its own.
        const QByteArray line = m_process.readLine().trimmed();
        if (line.startsWith(answerMark))
            return line.mid(answerMark.size());
    }
}
