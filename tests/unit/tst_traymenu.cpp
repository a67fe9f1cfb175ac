// The tray menu driven in-process on a real (offscreen) desktop: the stored language, the
// port dialog, the tray icon's activations, and Quit as the assembled service obeys it.
#include "creator.h"
#include "httplistener.h"
#include "traymenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QInputDialog>
#include <QMenu>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

namespace {
// Stands in for the user's browser while it lives: QDesktopServices hands http URLs to it.
class BrowserRecorder : public QObject
{
    Q_OBJECT
public:
    BrowserRecorder() { QDesktopServices::setUrlHandler(QStringLiteral("http"), this, "open"); }
    ~BrowserRecorder() override { QDesktopServices::unsetUrlHandler(QStringLiteral("http")); }
    QList<QUrl> urls;

public slots:
    void open(const QUrl &url) { urls << url; }
};

QList<QAction *> entries(TrayMenu &menu)
{
    return menu.findChild<QSystemTrayIcon *>()->contextMenu()->actions();
}

QAction *languageAction(TrayMenu &menu, const QString &code)
{
    for (QAction *entry : entries(menu)) {
        for (QAction *action : entry->menu() ? entry->menu()->actions() : QList<QAction *>()) {
            if (code.isEmpty() ? action->isChecked() : action->data().toString() == code)
                return action;
        }
    }
    return nullptr;
}

QString checkedLanguage(TrayMenu &menu)
{
    QAction *checked = languageAction(menu, QString());
    return checked ? checked->data().toString() : QString();
}

// Answers the next port dialog with `answer` once it is shown.
void whenPortDialogOpens(std::function<void(QInputDialog *)> answer)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start(10);
}

bool portAccepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(1000);
}
} // namespace

class TestTrayMenu : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void storedLanguageAndSwitching();
    void portDialogWritesConfigOnly();
    void doubleClickOpensBrowserSingleClickDoesNot();
    void quitEntryClosesPortAndEndsEventLoop();

private:
    QString writeConfig(const QVariantMap &values);
    QScopedPointer<QTemporaryDir> m_dir;
};

void TestTrayMenu::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
}

QString TestTrayMenu::writeConfig(const QVariantMap &values)
{
    const QString path = m_dir->filePath("config.ini");
    QSettings settings(path, QSettings::IniFormat);
    settings.setValue("docroot/path", m_dir->path());
    for (auto it = values.begin(); it != values.end(); ++it)
        settings.setValue(it.key(), it.value());
    return path;
}

void TestTrayMenu::storedLanguageAndSwitching()
{
    // The comparison is exact and unknown codes mean English; neither is corrected on disk.
    const QList<QPair<QString, QString>> storedAndChecked = {{"en", "en"}, {"de", "de"}, {"es", "es"},
                                                             {"pl", "pl"}, {"DE", "en"}, {"fr", "en"}};
    for (const auto &row : storedAndChecked) {
        const QString path = writeConfig({{"listener/port", 8123}, {"other/prefLang", row.first}});
        QSettings settings(path, QSettings::IniFormat);
        TrayMenu menu(qApp, &settings);
        QCOMPARE(checkedLanguage(menu), row.second);
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("other/prefLang").toString(), row.first);
    }

    // A switch is stored at once and retranslates the menu.
    const QString path = writeConfig({{"listener/port", 8123}, {"other/prefLang", "en"}});
    QSettings settings(path, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);
    const QString english = entries(menu).first()->text();
    for (const QString &code : QStringList{"de", "pl", "es", "en"}) {
        languageAction(menu, code)->trigger();
        QCOMPARE(QSettings(path, QSettings::IniFormat).value("other/prefLang").toString(), code);
        QCOMPARE(checkedLanguage(menu), code);
        QCOMPARE(entries(menu).first()->text() == english, code == "en");
    }
    // The slots store their language even when it is already the current one.
    using Switch = void (TrayMenu::*)();
    const QList<QPair<Switch, QString>> switches = {{&TrayMenu::setLangEN, "en"},
                                                    {&TrayMenu::setLangDE, "de"},
                                                    {&TrayMenu::setLangPL, "pl"},
                                                    {&TrayMenu::setLangES, "es"}};
    for (const auto &row : switches) {
        settings.setValue("other/prefLang", "stale");
        (menu.*row.first)();
        QCOMPARE(settings.value("other/prefLang").toString(), row.second);
        QCOMPARE(checkedLanguage(menu), row.second);
    }
}

void TestTrayMenu::portDialogWritesConfigOnly()
{
    const QString path = writeConfig({{"listener/port", 8123}, {"other/prefLang", "en"}});
    QSettings settings(path, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);
    BrowserRecorder browser;
    int shown = 0;
    whenPortDialogOpens([&](QInputDialog *dialog) {
        shown = dialog->intValue();
        dialog->setIntValue(9000);
        dialog->accept();
    });
    // The menu must not depend on the group the settings object was left in.
    settings.beginGroup("docroot");
    menu.slotChangeListeningPort();
    QCOMPARE(shown, 8123);
    QVERIFY(settings.group().isEmpty());
    settings.sync();
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("listener/port").toInt(), 9000);

    // The running program keeps its port until the next start.
    menu.slotLaunchBrowser();
    QCOMPARE(browser.urls, QList<QUrl>{QUrl("http://127.0.0.1:8123")});
    menu.slotCopyIp2Clipboard();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1:8123"));

    // Cancelling writes nothing; a value out of range cannot be confirmed.
    whenPortDialogOpens([&](QInputDialog *dialog) {
        shown = dialog->intValue();
        dialog->setIntValue(1234);
        dialog->reject();
    });
    menu.slotChangeListeningPort();
    QCOMPARE(shown, 9000);
    whenPortDialogOpens([&](QInputDialog *dialog) {
        dialog->setIntValue(70000);
        dialog->accept();
    });
    menu.slotChangeListeningPort();
    settings.sync();
    QCOMPARE(QSettings(path, QSettings::IniFormat).value("listener/port").toInt(), 65535);

    // Without a stored port the menu means 80.
    QSettings bareSettings(m_dir->filePath("bare.ini"), QSettings::IniFormat);
    TrayMenu bareMenu(qApp, &bareSettings);
    bareMenu.slotLaunchBrowser();
    QCOMPARE(browser.urls.last(), QUrl("http://127.0.0.1:80"));
}

void TestTrayMenu::doubleClickOpensBrowserSingleClickDoesNot()
{
    QSettings settings(writeConfig({{"listener/port", 8123}}), QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);
    BrowserRecorder browser;
    auto *icon = menu.findChild<QSystemTrayIcon *>();
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick,
                        QSystemTrayIcon::Unknown})
        emit icon->activated(reason);
    QVERIFY(browser.urls.isEmpty());
    emit icon->activated(QSystemTrayIcon::DoubleClick);
    QCOMPARE(browser.urls, QList<QUrl>{QUrl("http://127.0.0.1:8123")});
}

void TestTrayMenu::quitEntryClosesPortAndEndsEventLoop()
{
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost));
    const quint16 port = probe.serverPort();
    probe.close();
    Creator creator(writeConfig({{"listener/host", "127.0.0.1"},
                                 {"listener/port", port},
                                 {"listener/minThreads", 1},
                                 {"other/prefLang", "en"}}),
                    true);
    QVERIFY(portAccepts(port));
    QPointer<TrayMenu> menu = creator.trayMenu();
    QVERIFY(menu);
    QTimer::singleShot(0, entries(*menu).last(), &QAction::trigger);
    QTimer limit;
    connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    limit.start(5000);
    QCOMPARE(QCoreApplication::exec(), 0);
    QCOMPARE(creator.listener(), nullptr);
    QVERIFY(!portAccepts(port));
    // The menu goes with the event loop, before the application object does.
    QTRY_VERIFY(menu.isNull());
}

QTEST_MAIN(TestTrayMenu)
#include "tst_traymenu.moc"
