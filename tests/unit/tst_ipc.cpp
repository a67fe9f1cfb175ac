// The single-instance guard and the IPC helper, driven in-process with real local sockets
// and real lock files in a private temporary directory.
#include "browserrecorder.h"
#include "instanceguard.h"
#include "ipchelper.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QtTest>

namespace {
const QString kProgress = QStringLiteral("Closing...\nPlease wait");
const QString kNotClosed = QStringLiteral("Not closed");

// A lock file that names this (running) process as owner but holds no file lock, as a
// freshly crashed owner would look before the lock counts as stale.
void writeUnheldLockFile(const QString &path)
{
    QByteArray content;
    {
        QLockFile probe(path);
        QVERIFY(probe.tryLock(0));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        content = file.readAll();
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}
} // namespace

// The serving instance's side: the IPC server with its helper on a given config.ini.
struct ServingSide
{
    explicit ServingSide(const QString &configPath)
        : helper(&server, configPath)
    {
        listening = IpcHelper::startListening(&server);
        QObject::connect(&server, &QLocalServer::newConnection, &helper, &IpcHelper::onNewConnection);
    }
    QLocalServer server;
    IpcHelper helper;
    bool listening = false;
};

class TestIpc : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void commandsAreObeyedAndOthersIgnored();
    void showUsesConfiguredPortOrDefault();
    void listenFailureIsLoggedAndTolerated();
    void freeLockIsTakenAndReleased();
    void runningInstanceIsAskedToQuitWhileProgressShows();
    void silentOwnerLockIsTakenOverWithoutDialog();
    void heldLockWithoutListenerFailsWithMessage();

private:
    QString writeConfig(const QString &listenerPort);
    QString m_baseTemp;
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestIpc::initTestCase()
{
    m_baseTemp = QDir::tempPath();
}

void TestIpc::init()
{
    // Each case gets its own temporary directory, and with it its own lock and socket.
    m_dir.reset();
    m_dir.reset(new QTemporaryDir(m_baseTemp + "/tst_ipc-XXXXXX"));
    QVERIFY(m_dir->isValid());
    qputenv("TMPDIR", m_dir->path().toLocal8Bit());
}

QString TestIpc::writeConfig(const QString &listenerPort)
{
    const QString path = m_dir->filePath("config.ini");
    QSettings settings(path, QSettings::IniFormat);
    settings.clear();
    if (!listenerPort.isEmpty())
        settings.setValue("listener/port", listenerPort);
    settings.setValue("other/prefLang", "en");
    return path;
}

void TestIpc::commandsAreObeyedAndOthersIgnored()
{
    // A crashed instance leaves its socket file behind; listening must still work.
    QFile leftover(m_dir->filePath(IpcHelper::serverName()));
    QVERIFY(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    ServingSide serving(writeConfig("8123"));
    QVERIFY(serving.listening);
    BrowserRecorder browser;

    QLocalSocket client;
    client.connectToServer(IpcHelper::serverName());
    QVERIFY(client.waitForConnected(1000));
    client.write("unknown");
    QTest::qWait(100);
    QVERIFY(browser.urls.isEmpty());
    QCOMPARE(client.state(), QLocalSocket::ConnectedState);

    client.write(" \tshow\r\n");
    QTRY_COMPARE(browser.urls.size(), 1);
    QCOMPARE(browser.urls.first(), QUrl("http://127.0.0.1:8123"));

    // A second client becomes the current one; the first stays connected and is cleaned up
    // only when it goes away.
    QLocalSocket second;
    second.connectToServer(IpcHelper::serverName());
    QVERIFY(second.waitForConnected(1000));
    QTRY_COMPARE(serving.server.findChildren<QLocalSocket *>().size(), 2);
    client.disconnectFromServer();
    QTRY_COMPARE(serving.server.findChildren<QLocalSocket *>().size(), 1);
    second.write("show");
    QTRY_COMPARE(browser.urls.size(), 2);
    QCOMPARE(second.state(), QLocalSocket::ConnectedState);

    // Near misses are not commands.
    second.write("SHOW");
    QTest::qWait(100);
    second.write("sh ow");
    QTest::qWait(100);
    QCOMPARE(browser.urls.size(), 2);
}

void TestIpc::showUsesConfiguredPortOrDefault()
{
    const QString config = writeConfig(QString());
    ServingSide serving(config);
    QVERIFY(serving.listening);
    BrowserRecorder browser;

    QLocalSocket client;
    client.connectToServer(IpcHelper::serverName());
    QVERIFY(client.waitForConnected(1000));
    client.write("show");
    QTRY_COMPARE(browser.urls.size(), 1);
    QCOMPARE(browser.urls.first(), QUrl("http://127.0.0.1:8088"));

    // The port is read at every "show", so a port changed in the menu is used at once.
    QSettings(config, QSettings::IniFormat).setValue("listener/port", 9001);
    client.write("show");
    QTRY_COMPARE(browser.urls.size(), 2);
    QCOMPARE(browser.urls.last(), QUrl("http://127.0.0.1:9001"));
}

void TestIpc::listenFailureIsLoggedAndTolerated()
{
    const QString config = writeConfig("8123");
    // A local socket's path has room for about a hundred bytes; this directory's is longer.
    const QString longDir = m_dir->filePath(QString(120, QLatin1Char('d')));
    QVERIFY(QDir().mkpath(longDir));
    qputenv("TMPDIR", longDir.toLocal8Bit());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression("^\\[1st\\] IPC listen FAILED: \".+\"  name= "
                                                        "\"VexoAdmin-ipc\"$"));
    ServingSide serving(config);
    QVERIFY(!serving.listening);
    QVERIFY(!serving.server.isListening());
    // Nothing to obey, and nothing breaks when asked for a connection that is not there.
    serving.helper.onNewConnection();
    serving.helper.onReadyRead();
    serving.helper.onDisconnected();
}

void TestIpc::freeLockIsTakenAndReleased()
{
    const QString path = InstanceGuard::lockFilePath();
    QCOMPARE(path, m_dir->filePath("VexoAdmin.lock"));
    {
        InstanceGuard guard;
        QVERIFY(guard.acquire(kProgress, kNotClosed));
        QVERIFY(QFile::exists(path));
        QLockFile other(path);
        QVERIFY(!other.tryLock(0));
    }
    QVERIFY(!QFile::exists(path));
}

void TestIpc::runningInstanceIsAskedToQuitWhileProgressShows()
{
    // This test plays the running instance: it holds the lock and listens on the IPC name.
    QLockFile running(InstanceGuard::lockFilePath());
    QVERIFY(running.tryLock(0));
    QLocalServer server;
    QVERIFY(server.listen(IpcHelper::serverName()));
    QByteArray received;
    connect(&server, &QLocalServer::newConnection, [&] {
        QLocalSocket *socket = server.nextPendingConnection();
        connect(socket, &QLocalSocket::readyRead, [&, socket] {
            received += socket->readAll();
            QTimer::singleShot(400, [&] { running.unlock(); });
        });
    });

    QPointer<QProgressDialog> seen;
    QString title, label;
    bool hasButton = true;
    int minimum = -1, maximum = -1;
    Qt::WindowModality modality = Qt::NonModal;
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget());
        if (!dialog || seen)
            return;
        seen = dialog;
        title = dialog->windowTitle();
        label = dialog->labelText();
        hasButton = dialog->findChild<QPushButton *>() != nullptr;
        minimum = dialog->minimum();
        maximum = dialog->maximum();
        modality = dialog->windowModality();
    });
    sampler.start(20);

    InstanceGuard guard;
    QVERIFY(guard.acquire(kProgress, kNotClosed));
    QCOMPARE(received, QByteArray("shutdown"));
    QVERIFY(!running.isLocked());
    QCOMPARE(title, QStringLiteral("Vexo"));
    QCOMPARE(label, kProgress);
    QVERIFY(!hasButton);
    QCOMPARE(minimum, 0);
    QCOMPARE(maximum, 0);
    QCOMPARE(modality, Qt::ApplicationModal);
    QVERIFY(seen.isNull()); // destroyed once the lock was ours
    QVERIFY(!QLockFile(InstanceGuard::lockFilePath()).tryLock(0));
}

void TestIpc::silentOwnerLockIsTakenOverWithoutDialog()
{
    writeUnheldLockFile(InstanceGuard::lockFilePath());
    QVERIFY(QFile::exists(InstanceGuard::lockFilePath()));
    QString dialogTitle;
    // The timer dies with this test: on a starved machine it must not fire in the next one.
    QObject scope;
    QTimer::singleShot(300, &scope, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            dialogTitle = modal->metaObject()->className();
            modal->close();
        }
    });
    InstanceGuard guard;
    QVERIFY(guard.acquire(kProgress, kNotClosed));
    QTest::qWait(350);
    QCOMPARE(dialogTitle, QString());
    QVERIFY(!QLockFile(InstanceGuard::lockFilePath()).tryLock(0));
}

void TestIpc::heldLockWithoutListenerFailsWithMessage()
{
    QLockFile running(InstanceGuard::lockFilePath());
    QVERIFY(running.tryLock(0));
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    QTimer::singleShot(100, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = box->buttons().size();
        box->accept();
    });
    InstanceGuard guard;
    QVERIFY(!guard.acquire(kProgress, kNotClosed));
    QCOMPARE(title, QStringLiteral("Vexo"));
    QCOMPARE(text, kNotClosed);
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(buttons, 1);
    QVERIFY(running.isLocked());
    QVERIFY(QFile::exists(InstanceGuard::lockFilePath()));
}

QTEST_MAIN(TestIpc)
#include "tst_ipc.moc"
