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

#include <memory>

namespace {
const QByteArray replyError = R"({"error":"Reply error!"})";
const QByteArray connectError = R"({"error":"Unable to connect with server!"})";
const QByteArray parameterError = R"({"error":"Parameter error!"})";

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

// The project's update server, started on loopback for one test.
class UpdateServerProcess
{
public:
    explicit UpdateServerProcess(const QStringList &extraArguments = {})
    {
        const QString script = QStringLiteral(VEXO_SOURCE_DIR "/tools/updateserver/updateserver.py");
        m_process.start("/usr/bin/python3", QStringList{script, "--root", m_root.path()} + extraArguments);
        if (!m_process.waitForStarted(5000))
            return;
        while (m_process.waitForReadyRead(5000)) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("listening on ")) {
                m_port = line.mid(13).toUShort();
                return;
            }
        }
    }
    ~UpdateServerProcess()
    {
        m_process.kill();
        m_process.waitForFinished(3000);
    }
    bool isListening() const { return m_port != 0; }
    QString baseUrl() const { return QString("http://127.0.0.1:%1/").arg(m_port); }
    QString path(const QString &relative) const { return m_root.filePath(relative); }
    void addFile(const QString &relative, const QByteArray &content) { writeFile(path(relative), content); }

private:
    QTemporaryDir m_root;
    QProcess m_process;
    quint16 m_port = 0;
};

// A document root with its config.ini, and the update client reading it.
class Site
{
public:
    explicit Site(const QString &updateServer)
    {
        settings = std::make_unique<QSettings>(m_dir.filePath("config.ini"), QSettings::IniFormat);
        settings->setValue("updates/updateServer", updateServer);
        settings->beginGroup("docroot");
        settings->setValue("path", docRoot());
        QDir().mkpath(docRoot());
        updates = std::make_unique<Updates>(settings.get());
    }
    QString docRoot() const { return m_dir.filePath("www"); }
    QString tmpDir() const { return m_dir.filePath("tmp"); }
    QString inDocRoot(const QString &relative) const { return docRoot() + "/" + relative; }
    QByteArray start(const QByteArray &modulesList)
    {
        t_GetArray params{{"modulesList", QUrl::toPercentEncoding(modulesList)}};
        return updates->startUpdating(params);
    }
    QByteArray check(const QByteArray &json)
    {
        t_GetArray params{{"json", json}};
        return updates->check4Updates(params);
    }

    QTemporaryDir m_dir;
    std::unique_ptr<QSettings> settings;
    std::unique_ptr<Updates> updates;
};

#define REQUIRE_SERVER(server)                                                                               \
    if (!(server).isListening())                                                                             \
    QFAIL("the update server did not start")

const QByteArray inProgress = R"({"ok":"In progress"})";

} // namespace

class TestUpdates : public QObject
{
    Q_OBJECT
private slots:
    void givesUpOnASilentServer()
    {
        // A check and a download that never get an answer end at the time limit.
        UpdateServerProcess silent({"--check-hang", "--hang-files"});
        REQUIRE_SERVER(silent);
        silent.addFile("modules/meter/a.js", "never sent");
        Site site(silent.baseUrl());
        site.updates->setTimeLimit(300);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(site.check("{}"), connectError);
        QVERIFY2(timer.elapsed() >= 250 && timer.elapsed() < 5000,
                 qPrintable(QString::number(timer.elapsed())));
        site.start(R"(["meter"])");
        // A refused start does not hide the running update.
        QCOMPARE(site.start("[]"), parameterError);
        QCOMPARE(site.updates->getUpdateStatus(), inProgress);
        QTRY_COMPARE_WITH_TIMEOUT(site.updates->getUpdateStatus(), replyError, 5000);
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
