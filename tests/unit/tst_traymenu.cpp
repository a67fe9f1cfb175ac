// The tray menu driven in-process on a real (offscreen) desktop: texts, language storage,
// the port dialog, the About box and the tray icon's activations.
#include "browserrecorder.h"
#include "traymenu.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QtTest>

namespace {
QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QMenu *contextMenu(TrayMenu &menu)
{
    return menu.findChild<QSystemTrayIcon *>()->contextMenu();
}

// The visible texts of the context menu, top to bottom; separators as "-".
QStringList entryTexts(TrayMenu &menu)
{
    QStringList texts;
    const QList<QAction *> actions = contextMenu(menu)->actions();
    for (QAction *action : actions)
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    return texts;
}

QMenu *languageMenu(TrayMenu &menu)
{
    const QList<QAction *> actions = contextMenu(menu)->actions();
    for (QAction *action : actions) {
        if (action->menu())
            return action->menu();
    }
    return nullptr;
}

QAction *languageAction(TrayMenu &menu, const QString &code)
{
    const QList<QAction *> actions = languageMenu(menu)->actions();
    for (QAction *action : actions) {
        if (action->data().toString() == code)
            return action;
    }
    return nullptr;
}

QString checkedLanguage(TrayMenu &menu)
{
    const QList<QAction *> actions = languageMenu(menu)->actions();
    for (QAction *action : actions) {
        if (action->isChecked())
            return action->data().toString();
    }
    return QString();
}

// Answers the next modal dialog of type T with `answer` once it is shown.
template<typename T> void whenModalOpens(std::function<void(T *)> answer)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, answer] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(dialog);
        }
    });
    poll->start(10);
}
} // namespace

class TestTrayMenu : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void textsPerLanguage_data();
    void textsPerLanguage();
    void iconAndEntries();
    void languageSwitchIsStoredAtOnce();
    void portDialogWritesConfigOnly();
    void portDefaultsTo80();
    void doubleClickOpensBrowserSingleClickDoesNot();
    void aboutBox();

private:
    void writeConfig(const QString &listenerPort, const QString &prefLang);
    QString m_baseTemp;
    QScopedPointer<QTemporaryDir> m_dir;
    QString m_configPath;
};

void TestTrayMenu::initTestCase()
{
    QCoreApplication::setApplicationName("Vexo");
    m_baseTemp = QDir::tempPath();
}

void TestTrayMenu::init()
{
    m_dir.reset();
    m_dir.reset(new QTemporaryDir(m_baseTemp + "/tst_traymenu-XXXXXX"));
    QVERIFY(m_dir->isValid());
    m_configPath = m_dir->filePath("config.ini");
}

void TestTrayMenu::writeConfig(const QString &listenerPort, const QString &prefLang)
{
    QSettings settings(m_configPath, QSettings::IniFormat);
    settings.clear();
    settings.setValue("docroot/path", "www");
    if (!listenerPort.isEmpty())
        settings.setValue("listener/port", listenerPort);
    if (!prefLang.isEmpty())
        settings.setValue("other/prefLang", prefLang);
}

void TestTrayMenu::textsPerLanguage_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("checked");
    QTest::addColumn<QStringList>("entries");
    const QString sep = "-";
    const QStringList english = {"&Launch browser",
                                 "&Copy IP address to clipboard",
                                 sep,
                                 "&Language",
                                 "&Change listening port",
                                 sep,
                                 "&About",
                                 sep,
                                 "&Quit"};
    QTest::newRow("en") << "en"
                        << "en" << english;
    QTest::newRow("de") << "de"
                        << "de"
                        << QStringList{QString::fromUtf8("&Browser starten"),
                                       QString::fromUtf8("&IP-Adresse in die Zwischenablage kopieren"),
                                       sep,
                                       QString::fromUtf8("&Sprache"),
                                       QString::fromUtf8("&Listening-Port ändern"),
                                       sep,
                                       QString::fromUtf8("&Über"),
                                       sep,
                                       QString::fromUtf8("&Beenden")};
    QTest::newRow("es") << "es"
                        << "es"
                        << QStringList{QString::fromUtf8("&Iniciar navegador"),
                                       QString::fromUtf8("&Copiar dirección IP al portapapeles"),
                                       sep,
                                       QString::fromUtf8("&Idioma"),
                                       QString::fromUtf8("&Cambiar puerto de escucha"),
                                       sep,
                                       QString::fromUtf8("&Acerca de"),
                                       sep,
                                       QString::fromUtf8("&Salir")};
    QTest::newRow("pl") << "pl"
                        << "pl"
                        << QStringList{QString::fromUtf8("&Uruchom przeglądarkę"),
                                       QString::fromUtf8("&Kopiuj adres IP do schowka"),
                                       sep,
                                       QString::fromUtf8("&Język"),
                                       QString::fromUtf8("&Zmień port nasłuchiwania"),
                                       sep,
                                       QString::fromUtf8("&O programie"),
                                       sep,
                                       QString::fromUtf8("&Zakończ")};
    // The comparison is exact and unknown codes mean English; neither is corrected on disk.
    QTest::newRow("upper case") << "DE"
                                << "en" << english;
    QTest::newRow("unknown") << "fr"
                             << "en" << english;
}

void TestTrayMenu::textsPerLanguage()
{
    QFETCH(QString, stored);
    QFETCH(QString, checked);
    QFETCH(QStringList, entries);
    writeConfig("8123", stored);
    QSettings settings(m_configPath, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);

    QCOMPARE(entryTexts(menu), entries);
    QCOMPARE(checkedLanguage(menu), checked);
    QCOMPARE(QSettings(m_configPath, QSettings::IniFormat).value("other/prefLang").toString(), stored);

    QStringList languages;
    const QList<QAction *> actions = languageMenu(menu)->actions();
    for (QAction *action : actions) {
        QVERIFY(action->isCheckable());
        languages << action->text() + "=" + action->data().toString();
    }
    QCOMPARE(languages, QStringList({"&English=en", "&Espanol=es", "&Deutsch=de", "&Polski=pl"}));
}

void TestTrayMenu::iconAndEntries()
{
    writeConfig("8123", "en");
    QSettings settings(m_configPath, QSettings::IniFormat);
    // The offscreen desktop has no tray: the menu is still built and says so.
    QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
    QTest::ignoreMessage(QtDebugMsg, "TrayMenu: no system tray on this desktop; running without a tray icon");
    TrayMenu menu(qApp, &settings);
    auto *icon = menu.findChild<QSystemTrayIcon *>();
    QVERIFY(icon);
    QCOMPARE(icon->toolTip(), QStringLiteral("Vexo 0.3.16"));
    QVERIFY(!icon->icon().pixmap(16, 16).isNull());
    QVERIFY(!menu.isVisible());

    const QList<QAction *> actions = contextMenu(menu)->actions();
    QApplication::clipboard()->clear();
    actions.at(1)->trigger();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1:8123"));

    QSignalSpy exitSpy(&menu, &TrayMenu::exitApp);
    actions.last()->trigger();
    QCOMPARE(exitSpy.count(), 1);
}

void TestTrayMenu::languageSwitchIsStoredAtOnce()
{
    writeConfig("8123", "en");
    QSettings settings(m_configPath, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);

    languageAction(menu, "de")->trigger();
    QVERIFY(fileContent(m_configPath).contains("prefLang=de"));
    QCOMPARE(entryTexts(menu).first(), QStringLiteral("&Browser starten"));
    QCOMPARE(checkedLanguage(menu), QStringLiteral("de"));

    // A comment only survives as long as nobody rewrites the file.
    QFile file(m_configPath);
    QVERIFY(file.open(QIODevice::Append));
    file.write("; untouched\n");
    file.close();
    const QByteArray before = fileContent(m_configPath);
    languageAction(menu, "de")->trigger();
    settings.sync();
    QCOMPARE(fileContent(m_configPath), before);

    // The explicit setters store even an unchanged code, and check their action.
    menu.setLangDE();
    QVERIFY(!fileContent(m_configPath).contains("untouched"));
    menu.setLangPL();
    QVERIFY(fileContent(m_configPath).contains("prefLang=pl"));
    QCOMPARE(checkedLanguage(menu), QStringLiteral("pl"));
    QCOMPARE(entryTexts(menu).last(), QString::fromUtf8("&Zakończ"));
    menu.setLangES();
    QCOMPARE(checkedLanguage(menu), QStringLiteral("es"));
    menu.setLangEN();
    QCOMPARE(checkedLanguage(menu), QStringLiteral("en"));
    QCOMPARE(entryTexts(menu).first(), QStringLiteral("&Launch browser"));
    QVERIFY(fileContent(m_configPath).contains("prefLang=en"));
}

void TestTrayMenu::portDialogWritesConfigOnly()
{
    writeConfig("8123", "en");
    QSettings settings(m_configPath, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);
    BrowserRecorder browser;

    QString title, label;
    int value = 0, minimum = 0, maximum = 0, step = 0;
    whenModalOpens<QInputDialog>([&](QInputDialog *dialog) {
        title = dialog->windowTitle();
        label = dialog->labelText();
        value = dialog->intValue();
        minimum = dialog->intMinimum();
        maximum = dialog->intMaximum();
        step = dialog->intStep();
        dialog->setIntValue(9000);
        dialog->accept();
    });
    // The menu must not depend on the group the settings object was left in.
    settings.beginGroup("docroot");
    menu.slotChangeListeningPort();
    QCOMPARE(title, QStringLiteral("Listening port modification"));
    QCOMPARE(label, QStringLiteral("New listening port:"));
    QCOMPARE(value, 8123);
    QCOMPARE(minimum, 80);
    QCOMPARE(maximum, 65535);
    QCOMPARE(step, 1);
    QVERIFY(settings.group().isEmpty());

    // Switching the language afterwards writes both values.
    languageAction(menu, "es")->trigger();
    QSettings reread(m_configPath, QSettings::IniFormat);
    QCOMPARE(reread.value("listener/port").toInt(), 9000);
    QCOMPARE(reread.value("other/prefLang").toString(), QStringLiteral("es"));
    QVERIFY(!reread.contains("docroot/listener/port"));

    // The running program keeps its port until the next start.
    menu.slotLaunchBrowser();
    QCOMPARE(browser.urls, QList<QUrl>{QUrl("http://127.0.0.1:8123")});
    menu.slotCopyIp2Clipboard();
    QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("http://127.0.0.1:8123"));

    // Cancelling writes nothing; a value out of range cannot be confirmed.
    whenModalOpens<QInputDialog>([&](QInputDialog *dialog) {
        value = dialog->intValue();
        dialog->setIntValue(1234);
        dialog->reject();
    });
    menu.slotChangeListeningPort();
    QCOMPARE(value, 9000);
    whenModalOpens<QInputDialog>([&](QInputDialog *dialog) {
        dialog->setIntValue(70000);
        dialog->accept();
    });
    menu.slotChangeListeningPort();
    settings.sync();
    QCOMPARE(QSettings(m_configPath, QSettings::IniFormat).value("listener/port").toInt(), 65535);
}

void TestTrayMenu::portDefaultsTo80()
{
    writeConfig(QString(), "en");
    QSettings settings(m_configPath, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);
    BrowserRecorder browser;
    menu.slotLaunchBrowser();
    QCOMPARE(browser.urls, QList<QUrl>{QUrl("http://127.0.0.1:80")});
    int value = 0;
    whenModalOpens<QInputDialog>([&](QInputDialog *dialog) {
        value = dialog->intValue();
        dialog->reject();
    });
    menu.slotChangeListeningPort();
    QCOMPARE(value, 80);
    settings.sync();
    QVERIFY(!QSettings(m_configPath, QSettings::IniFormat).contains("listener/port"));
}

void TestTrayMenu::doubleClickOpensBrowserSingleClickDoesNot()
{
    writeConfig("8123", "en");
    QSettings settings(m_configPath, QSettings::IniFormat);
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

void TestTrayMenu::aboutBox()
{
    writeConfig("8123", "pl");
    QSettings settings(m_configPath, QSettings::IniFormat);
    TrayMenu menu(qApp, &settings);
    QString title, text;
    QWidget *parent = nullptr;
    whenModalOpens<QMessageBox>([&](QMessageBox *box) {
        title = box->windowTitle();
        text = box->text();
        parent = box->parentWidget();
        box->accept();
    });
    menu.slotShowAbout();
    QCOMPARE(title, QStringLiteral("About"));
    QCOMPARE(parent, &menu);
    QVERIFY(Qt::mightBeRichText(text));
    QVERIFY(text.contains("<b>Vexo ver. 0.3.16</b>"));
    QVERIFY(text.contains("This application has been developped with the framework Qt 5.2.1"));
    QVERIFY(text.contains("Used free componentes:"));
    QCOMPARE(text.count("---"), 3);
    QVERIFY(text.indexOf("libmodbus") < text.indexOf("QextSerialPort"));
    QCOMPARE(text.count("<a href="), 5);
}

QTEST_MAIN(TestTrayMenu)
#include "tst_traymenu.moc"
