#include "devsimprocess.h"

#include "testenv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

namespace {
constexpr int startTimeoutMs = 10000;
}

DevsimProcess::~DevsimProcess()
{
    m_process.kill();
    m_process.waitForFinished();
}

bool DevsimProcess::start(const QStringList &arguments)
{
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.start(vexoBuildDir() + "/vexo-devsim",
                    arguments + QStringList{"--log-requests", "--control", m_dir.filePath("control")});
    if (!m_process.waitForStarted(startTimeoutMs))
        return false;
    const QString ready = arguments.contains("--rtu") ? "listening on rtu" : "listening on tcp";
    QElapsedTimer timer;
    timer.start();
    while (!m_output.contains(ready) && timer.elapsed() < startTimeoutMs) {
        if (!m_process.waitForReadyRead(100) && m_process.state() != QProcess::Running)
            return false;
        collectOutput();
    }
    const QRegularExpressionMatch tcp = QRegularExpression("listening on tcp .*:(\\d+)").match(m_output);
    if (tcp.hasMatch())
        m_port = tcp.captured(1).toInt();
    return m_output.contains(ready);
}

bool DevsimProcess::startTcp(const QStringList &extra)
{
    return start(QStringList{"--tcp", "127.0.0.1:0"} + extra);
}

void DevsimProcess::setFault(const QString &mode, int delayMs)
{
    QFile control(m_dir.filePath("control.new"));
    control.open(QIODevice::WriteOnly);
    control.write(QStringLiteral("fault=%1\ndelay=%2\n").arg(mode).arg(delayMs).toUtf8());
    control.close();
    // Renamed into place, so the simulator never reads half a file.
    QFile::remove(m_dir.filePath("control"));
    QFile::rename(control.fileName(), m_dir.filePath("control"));
}

void DevsimProcess::collectOutput()
{
    m_output += QString::fromUtf8(m_process.readAll());
}

int DevsimProcess::requestCount(int function)
{
    m_process.waitForReadyRead(50);
    collectOutput();
    const QString pattern = function < 0 ? QStringLiteral("request function=")
                                         : QStringLiteral("request function=%1 ").arg(function);
    return m_output.count(pattern);
}

QByteArray DevsimProcess::lastFrame()
{
    requestCount();
    const QString mark = QStringLiteral("frame=");
    if (!m_output.contains(mark))
        return QByteArray();
    const int at = m_output.lastIndexOf(mark) + mark.size();
    const int end = m_output.indexOf(QLatin1Char('\n'), at);
    return QByteArray::fromHex(m_output.mid(at, end - at).toLatin1());
}

PtyPair::~PtyPair()
{
    m_process.terminate();
    if (!m_process.waitForFinished(2000))
        m_process.kill();
    m_process.waitForFinished();
}

bool PtyPair::start()
{
    m_process.start("socat", {"-d", "-d", QStringLiteral("pty,raw,echo=0,link=%1").arg(first()),
                              QStringLiteral("pty,raw,echo=0,link=%1").arg(second())});
    if (!m_process.waitForStarted(startTimeoutMs))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < startTimeoutMs) {
        if (QFile::exists(first()) && QFile::exists(second()))
            return true;
        QThread::msleep(20);
    }
    return false;
}
