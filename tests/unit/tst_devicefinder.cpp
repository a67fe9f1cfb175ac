#include "devicefinder.h"

#include <QtTest>

#include <sched.h>

// How answers become the listed devices. The answers' text forms and the search on the
// network are tested black-box (test_discovery); a finder searches as soon as it is made, so
// this program first moves into a network namespace of its own, where only a downed loopback
// exists and no datagram can leave.
class TestDeviceFinder : public QObject
{
    Q_OBJECT
private slots:
    void listsEachSenderAndDeviceOnceUntilCollected()
    {
        if (unshare(CLONE_NEWNET) != 0)
            QSKIP("needs a network namespace of its own, which could not be made here");
        DeviceFinder finder;
        finder.datagramToDevice("::ffff:192.168.1.20", "Meter\n00:11:22:33:44:55\n502\n7");
        finder.datagramToDevice("::ffff:192.168.1.20", "Again\n00:11:22:33:44:55\n503\n8");
        finder.datagramToDevice("192.168.1.20", "Plain\n00:11:22:33:44:55\n504\n9");
        finder.datagramToDevice("192.168.1.20", "Other\n00:11:22:33:44:66\n505\n10");
        const QByteArray listed =
            R"([{"ip":"192.168.1.20","mac":"00:11:22:33:44:55","modbusid":"7","name":"Meter","port":"502"},)"
            R"({"ip":"192.168.1.20","mac":"00:11:22:33:44:55","modbusid":"9","name":"Plain","port":"504"},)"
            R"({"ip":"192.168.1.20","mac":"00:11:22:33:44:66","modbusid":"10","name":"Other","port":"505"}])";
        QCOMPARE(finder.getSearchedDevices(), listed);
        // Answers that arrive after the collection are not listed.
        finder.datagramToDevice("192.168.1.21", "Late\nmac\n502\n1");
        QCOMPARE(finder.getSearchedDevices(), listed);
    }
};

QTEST_GUILESS_MAIN(TestDeviceFinder)
#include "tst_devicefinder.moc"
