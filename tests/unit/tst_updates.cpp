#include "updates.h"
#include "updatetree.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

namespace {
void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write(content);
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
} // namespace

class TestUpdates : public QObject
{
    Q_OBJECT
private slots:
    void givesUpOnASilentServer()
    {
        // The project's update server, told to answer neither a check nor a download.
        QTemporaryDir root;
        writeFile(root.filePath("modules/meter/a.js"), "never sent");
        QProcess server;
        server.start("/usr/bin/python3", {VEXO_SOURCE_DIR "/tools/updateserver/updateserver.py", "--root",
                                          root.path(), "--check-hang", "--hang-files"});
        QVERIFY(server.waitForStarted(5000) && server.waitForReadyRead(5000));
        const QByteArray listening = server.readLine().trimmed();
        QVERIFY2(listening.startsWith("listening on "), listening);
        QTemporaryDir site;
        QSettings settings(site.filePath("config.ini"), QSettings::IniFormat);
        settings.setValue("updates/updateServer", "http://127.0.0.1:" + listening.mid(13) + "/");
        settings.setValue("docroot/path", site.filePath("www"));
        Updates updates(&settings);
        updates.setTimeLimit(300);

        // A check and a download that never get an answer end at the time limit.
        QElapsedTimer timer;
        timer.start();
        t_GetArray check{{"json", "{}"}};
        QCOMPARE(updates.check4Updates(check), QByteArray(R"({"error":"Unable to connect with server!"})"));
        QVERIFY2(timer.elapsed() >= 250 && timer.elapsed() < 5000,
                 qPrintable(QString::number(timer.elapsed())));
        t_GetArray start{{"modulesList", QUrl::toPercentEncoding(R"(["meter"])")}};
        updates.startUpdating(start);
        // A refused start does not hide the running update.
        t_GetArray refused{{"modulesList", "[]"}};
        QCOMPARE(updates.startUpdating(refused), QByteArray(R"({"error":"Parameter error!"})"));
        QCOMPARE(updates.getUpdateStatus(), QByteArray(R"({"ok":"In progress"})"));
        QTRY_COMPARE_WITH_TIMEOUT(updates.getUpdateStatus(), QByteArray(R"({"error":"Reply error!"})"), 5000);
        server.kill();
        server.waitForFinished(3000);
    }

    void mapsFileUrlsToTreePaths()
    {
        QCOMPARE(UpdateTree::relativePath("http://h/updates/root/css/a.css"), QString("/root/css/a.css"));
        QCOMPARE(UpdateTree::relativePath("http://h/x/modules/m/root/a.js"), QString("/modules/m/root/a.js"));
        QCOMPARE(UpdateTree::relativePath("https://h/install/setup.exe"), QString("/install/setup.exe"));
        QCOMPARE(UpdateTree::relativePath("http://h/Root/a.css"), QString());
        QCOMPARE(UpdateTree::relativePath("http://h/root/..\\..\\a.css"), QString());
        QCOMPARE(UpdateTree::relativePath("ftp://h/root/a.css"), QString());
        QCOMPARE(UpdateTree::targetPath("/t/tmp", "/root/a.css"), QString("/t/tmp/root/a.css"));
        QCOMPARE(UpdateTree::targetPath("/t/tmp", "root/a.css"), QString("/t/tmp/root/a.css"));
    }

    void removesTreesWithoutFollowingLinks()
    {
        QTemporaryDir dir;
        writeFile(dir.filePath("outside/precious.txt"), "keep");
        writeFile(dir.filePath("tree/.hidden/a"), "a");
        writeFile(dir.filePath("tree/b"), "b");
        QVERIFY(QFile::link(dir.filePath("outside"), dir.filePath("tree/link")));
        QVERIFY(UpdateTree::removeDir(dir.filePath("tree")));
        QVERIFY(!QFileInfo::exists(dir.filePath("tree")));
        QCOMPARE(readFile(dir.filePath("outside/precious.txt")), QByteArray("keep"));
        QVERIFY(UpdateTree::removeDir(dir.filePath("never-made")));
        QVERIFY(!UpdateTree::copyDir(dir.filePath("never-made"), dir.filePath("copy")));
    }
};

QTEST_GUILESS_MAIN(TestUpdates)
#include "tst_updates.moc"
