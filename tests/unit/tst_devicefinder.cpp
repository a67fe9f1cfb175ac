#include "devicefinder.h"
#include "testenv.h"

#include <QPointer>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <memory>

// The search broadcasts on every interface, so it only ever runs inside a pair of network
// namespaces made here: the test process joins the searcher side, devices answer from the
// other side of a veth pair. The machine's own namespace never sees a datagram.
namespace {
const QString searcherIp = "10.231.0.1";

bool run(const QStringList &arguments, QString *failure)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start("ip", arguments);
    if (ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return true;
    const QString output =
        ip.error() == QProcess::FailedToStart ? ip.errorString() : QString::fromLocal8Bit(ip.readAll());
    *failure = "ip " + arguments.join(' ') + ": " + output.trimmed();
    return false;
}

// Namespaces left behind by a run that was killed before it could clean up.
void removeOrphans()
{
    const QStringList names = QDir("/run/netns").entryList({"vexo-df-*"}, QDir::Files);
    for (const QString &name : names) {
        const QString pid = name.section('-', 2, 2);
        QString ignored;
        if (!QFileInfo::exists("/proc/" + pid))
            run({"netns", "del", name}, &ignored);
    }
}

class Lab
{
public:
    Lab()
        : searcher(QString("vexo-df-%1-s").arg(getpid()))
        , devices(QString("vexo-df-%1-d").arg(getpid()))
    {
        removeOrphans();
        const QList<QStringList> steps = {
            {"netns", "add", searcher},
            {"netns", "add", devices},
            {"-n", searcher, "link", "add", "vxs", "type", "veth", "peer", "name", "vxd", "netns", devices},
            {"-n", searcher, "addr", "add", searcherIp + "/24", "brd", "+", "dev", "vxs"},
            // A link-local address on the same interface gets no socket.
            {"-n", searcher, "addr", "add", "169.254.7.7/16", "brd", "+", "dev", "vxs"},
            {"-n", devices, "addr", "add", "10.231.0.2/24", "brd", "+", "dev", "vxd"},
            {"-n", devices, "addr", "add", "10.231.0.3/24", "brd", "+", "dev", "vxd"},
            {"-n", devices, "addr", "add", "10.231.0.4/24", "brd", "+", "dev", "vxd"},
            {"-n", searcher, "link", "set", "lo", "up"},
            {"-n", devices, "link", "set", "lo", "up"},
            {"-n", searcher, "link", "set", "vxs", "up"},
            {"-n", devices, "link", "set", "vxd", "up"},
            {"netns", "exec", devices, "true"}, // some containers refuse to enter namespaces
        };
        for (const QStringList &step : steps) {
            if (!run(step, &failure))
                return;
        }
        const int fd = open(qPrintable("/run/netns/" + searcher), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) {
            failure = "cannot join namespace " + searcher + ": " + QString::fromLocal8Bit(strerror(errno));
            if (fd >= 0)
                close(fd);
            return;
        }
        close(fd);
        ready = true;
    }
    ~Lab()
    {
        QString ignored;
        run({"netns", "del", devices}, &ignored);
        run({"netns", "del", searcher}, &ignored);
    }

    const QString searcher;
    const QString devices;
    bool ready = false;
    QString failure;
};

Lab *lab = nullptr;

#define REQUIRE_LAB()                                                                                        \
    if (!lab || !lab->ready)                                                                                 \
    QSKIP(qPrintable("discovery runs only inside network namespaces of its own, which could not be made: " + \
                     (lab ? lab->failure : QString())))

struct Answer
{
    QString from;
    QByteArray payload;
};

// Devices on the far side of the veth pair, answering every request.
class Devices
{
public:
    explicit Devices(const QList<Answer> &answers)
    {
        QStringList arguments = {"netns",
                                 "exec",
                                 lab->devices,
                                 "/usr/bin/python3",
                                 vexoSourceDir() + "/tests/blackbox/discoverypeer.py",
                                 "--log",
                                 logPath()};
        for (const Answer &answer : answers)
            arguments << "--answer" << answer.from << QString::fromLatin1(answer.payload.toHex());
        m_process.start("ip", arguments);
        m_ready = m_process.waitForReadyRead(10000) && m_process.readLine().trimmed() == "ready";
    }
    ~Devices()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool isReady() const { return m_ready; }
    // One line per request: sender ip, sender port, destination, payload in hex.
    QList<QStringList> requests() const
    {
        QFile log(logPath());
        QList<QStringList> lines;
        if (log.open(QIODevice::ReadOnly)) {
            while (!log.atEnd())
                lines << QString::fromLatin1(log.readLine().trimmed()).split(' ');
        }
        return lines;
    }

private:
    QString logPath() const { return m_dir.filePath("requests.log"); }

    QTemporaryDir m_dir;
    QProcess m_process;
    bool m_ready = false;
};

// Both bursts have gone out and been answered.
void waitForBothBursts()
{
    QTest::qWait(1600);
}

} // namespace

class TestDeviceFinder : public QObject
{
    Q_OBJECT
private slots:
    void ignoresAnswersAfterTheCollection()
    {
        REQUIRE_LAB();
        Devices devices(QList<Answer>{{"10.231.0.2", "Late\nmac\n502\n1"}});
        QVERIFY(devices.isReady());
        DeviceFinder finder;
        QCOMPARE(finder.getSearchedDevices(), QByteArray("[]"));
        waitForBothBursts();
        QCOMPARE(finder.getSearchedDevices(), QByteArray("[]"));
        QVERIFY(devices.requests().isEmpty());
    }

    void readsIPv4MappedSendersAsPlainAddresses()
    {
        REQUIRE_LAB();
        DeviceFinder finder;
        finder.datagramToDevice("::ffff:192.168.1.20", "Meter\n00:11:22:33:44:55\n502\n7");
        finder.datagramToDevice("::ffff:192.168.1.20", "Again\n00:11:22:33:44:55\n503\n8");
        finder.datagramToDevice("192.168.1.20", "Plain\n00:11:22:33:44:55\n504\n9");
        QCOMPARE(
            finder.getSearchedDevices(),
            QByteArray(
                R"([{"ip":"192.168.1.20","mac":"00:11:22:33:44:55","modbusid":"7","name":"Meter","port":"502"},)"
                R"({"ip":"192.168.1.20","mac":"00:11:22:33:44:55","modbusid":"9","name":"Plain","port":"504"}])"));
    }

    void servesSearchesOnRequestThreadsAndOutlivesThem()
    {
        REQUIRE_LAB();
        Devices devices(QList<Answer>{{"10.231.0.2", "Meter\nmac\n502\n7"}});
        QVERIFY(devices.isReady());
        const QByteArray expected =
            R"([{"ip":"10.231.0.2","mac":"mac","modbusid":"7","name":"Meter","port":"502"}])";

        // Started on one thread, collected and deleted from another.
        QThread requestThread;
        QObject anchor;
        anchor.moveToThread(&requestThread);
        requestThread.start();
        QPointer<DeviceFinder> finder;
        QMetaObject::invokeMethod(
            &anchor, [&finder] { finder = new DeviceFinder; }, Qt::BlockingQueuedConnection);
        QCOMPARE(finder->thread(), &requestThread);
        waitForBothBursts();
        QCOMPARE(finder->getSearchedDevices(), expected);
        finder->deleteLater();
        QTRY_VERIFY(finder.isNull());

        // The pool retires the thread while the search still runs: the search goes on here.
        QMetaObject::invokeMethod(
            &anchor, [&finder] { finder = new DeviceFinder; }, Qt::BlockingQueuedConnection);
        QThread *testThread = QThread::currentThread();
        QMetaObject::invokeMethod(
            &anchor, [&anchor, testThread] { anchor.moveToThread(testThread); },
            Qt::BlockingQueuedConnection);
        requestThread.quit();
        QVERIFY(requestThread.wait(5000));
        QVERIFY(finder);
        QCOMPARE(finder->thread(), QThread::currentThread());
        waitForBothBursts();
        QCOMPARE(finder->getSearchedDevices(), expected);
        delete finder;
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Lab namespaces;
    lab = &namespaces;
    TestDeviceFinder test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_devicefinder.moc"
