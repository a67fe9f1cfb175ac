// The tray menu's Quit entry as the assembled service obeys it, with the real listener on
// loopback. (The start-up browser is covered end to end by the black-box tests.)
#include "creator.h"
#include "httplistener.h"
#include "traymenu.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}
} // namespace

class TestTrayMenuAssembly : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void quitEntryClosesPortAndEndsEventLoop();

private:
    QString writeConfig(quint16 port);
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestTrayMenuAssembly::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QString TestTrayMenuAssembly::writeConfig(quint16 port)
{
    const QString path = m_dir->filePath("config.ini");
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("listener/host", "127.0.0.1");
    settings.setValue("listener/port", port);
    settings.setValue("listener/minThreads", 1);
    settings.setValue("docroot/path", m_dir->path());
    settings.setValue("other/prefLang", "en");
    return path;
}

void TestTrayMenuAssembly::quitEntryClosesPortAndEndsEventLoop()
{
    const quint16 port = freePort();
    Creator creator(writeConfig(port), true);
    QVERIFY(portAccepts(port));
    QPointer<TrayMenu> menu = creator.trayMenu();
    QVERIFY(menu);
    const QList<QAction *> entries = menu->findChild<QSystemTrayIcon *>()->contextMenu()->actions();
    QTimer::singleShot(0, entries.last(), &QAction::trigger);
    QTimer limit;
    connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    limit.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(creator.listener(), nullptr);
    QVERIFY(!portAccepts(port));
    // The menu goes with the event loop, before the application object does.
    QTRY_VERIFY(menu.isNull());
}

QTEST_MAIN(TestTrayMenuAssembly)
#include "tst_traymenu_assembly.moc"
