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
const QString subnetBroadcast = "10.231.0.255";

bool run(const QStringList &arguments, QString *failure)
{
    QProcess ip;
    ip.setProcessChannelMode(QProcess::MergedChannels);
    ip.start("ip", arguments);
    if (ip.waitForFinished(10000) && ip.exitStatus() == QProcess::NormalExit && ip.exitCode() == 0)
        return true;
    *failure = "ip " + arguments.join(' ') + ": " + QString::fromLocal8Bit(ip.readAll()).trimmed() +
               ip.errorString();
    return false;
}

class Lab
{
public:
    Lab()
        : searcher(QString("vexo-df-%1-s").arg(getpid()))
        , devices(QString("vexo-df-%1-d").arg(getpid()))
    {
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
    QTest::qWait(1300);
}

QStringList capturedLog;
QtMessageHandler previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.startsWith("DeviceFinder"))
        capturedLog << message;
    if (previousHandler)
        previousHandler(type, context, message);
}
} // namespace

class TestDeviceFinder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // After the test library's own handler is in place, so that both see the messages.
        previousHandler = qInstallMessageHandler(captureMessage);
    }
    void init() { capturedLog.clear(); }

    void listsADeviceAnsweringEveryRequestOnce()
    {
        REQUIRE_LAB();
        const QByteArray answer = "Meter\r\n00:11:22:33:44:55\r\n502\r\n7";
        Devices devices(QList<Answer>{{"10.231.0.2", answer}});
        QVERIFY(devices.isReady());
        DeviceFinder finder;
        waitForBothBursts();
        QCOMPARE(
            finder.getSearchedDevices(),
            QByteArray(
                R"([{"ip":"10.231.0.2","mac":"00:11:22:33:44:55","modbusid":"7","name":"Meter","port":"502"}])"));

        // Two bursts, each to the global and the subnet broadcast address, with the one-byte request.
        QStringList destinations;
        for (const QStringList &request : devices.requests()) {
            QCOMPARE(request.value(0), searcherIp);
            QCOMPARE(request.value(3), QString("44"));
            destinations << request.value(2);
        }
        QCOMPARE(destinations,
                 QStringList({"255.255.255.255", subnetBroadcast, "255.255.255.255", subnetBroadcast}));

        QCOMPARE(capturedLog.filter("socket created").size(), 1);
        QCOMPARE(
            capturedLog.filter("socket created").constFirst(),
            QString(
                R"(DeviceFinder socket created: "vxs" local ip: "10.231.0.1" broadcast: "10.231.0.255")"));
        QCOMPARE(
            capturedLog.filter("global broadcast sent").constFirst(),
            QString(
                R"(DeviceFinder global broadcast sent: "vxs" local ip: "10.231.0.1" to: "255.255.255.255")"));
        QCOMPARE(
            capturedLog.filter("subnet broadcast sent").constFirst(),
            QString(
                R"(DeviceFinder subnet broadcast sent: "vxs" local ip: "10.231.0.1" to: "10.231.0.255")"));
        QVERIFY(capturedLog.contains(
            QString(
                R"(DeviceFinder response from: "10.231.0.2" received on local ip: "10.231.0.1" size: "%1" raw hex: "%2")")
                .arg(answer.size())
                .arg(QString::fromLatin1(answer.toHex()))));
        QVERIFY(
            capturedLog.contains(R"(DeviceFinder parsed lines: ("Meter", "00:11:22:33:44:55", "502", "7"))"));
        QVERIFY(capturedLog.contains(
            R"(DeviceFinder parsed full device response: name: "Meter" ip: "10.231.0.2" mac: "00:11:22:33:44:55" port: 502 id: 7)"));
        QVERIFY(capturedLog.contains("DeviceFinder::getSearchedDevices() devices.size(): 1"));
        QVERIFY(capturedLog.constLast().startsWith(
            "DeviceFinder JSON result: \"[{\\\"ip\\\":\\\"10.231.0.2\\\""));
    }

    void keepsTheFirstAnswerOfEachDeviceAndParsesLooseForms()
    {
        REQUIRE_LAB();
        Devices devices({
            {"10.231.0.2",
             "First{n}\r\n\r\n\r\nmac-a\nabc\r\n0"},             // empty text between line breaks is no line
            {"10.231.0.3", "Second\nmac-b\n70000\n-5\nignored"}, // lines after the fourth are ignored
            {"10.231.0.3", "Third\nmac-c\n0\n12"},        // same address, other MAC: a device of its own
            {"10.231.0.4", "Fourth\nmac-a\n  \n2"},       // same MAC, other address: too; a blank line counts
            {"10.231.0.4", "Three\nlines\nonly"},         // invalid
            {"10.231.0.4", QByteArray("\0 \0\t\r\n", 6)}, // empty
        });
        QVERIFY(devices.isReady());
        DeviceFinder finder;
        waitForBothBursts();
        QCOMPARE(
            finder.getSearchedDevices(),
            QByteArray(R"([{"ip":"10.231.0.2","mac":"mac-a","modbusid":"1","name":"First1","port":"502"},)"
                       R"({"ip":"10.231.0.3","mac":"mac-b","modbusid":"1","name":"Second","port":"70000"},)"
                       R"({"ip":"10.231.0.3","mac":"mac-c","modbusid":"12","name":"Third","port":"502"},)"
                       R"({"ip":"10.231.0.4","mac":"mac-a","modbusid":"2","name":"Fourth","port":"502"}])"));
        QVERIFY(capturedLog.contains(
            R"(DeviceFinder invalid response from: "10.231.0.4" payload: "Three\nlines\nonly")"));
        QVERIFY(capturedLog.contains(R"(DeviceFinder empty datagram from: "10.231.0.4")"));
        QVERIFY(capturedLog.contains(R"(DeviceFinder parsed lines: ("Fourth", "mac-a", "", "2"))"));
    }

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
