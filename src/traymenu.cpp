#include "traymenu.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QDebug>
#include <QDesktopServices>
#include <QInputDialog>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QSettings>
#include <QUrl>

namespace {
constexpr int kDefaultPort = 80;
constexpr int kMinimumPort = 80;
constexpr int kMaximumPort = 65535;
constexpr int kListeningMessageMs = 1000;
constexpr int kPortErrorMessageMs = 4000;

struct MenuTexts
{
    const char *code;
    const char *launchBrowser;
    const char *copyIp;
    const char *language;
    const char *changePort;
    const char *about;
    const char *quit;
};

// The first row is English, used for every code not listed.
const MenuTexts kMenuTexts[] = {
    {"en", "&Launch browser", "&Copy IP address to clipboard", "&Language", "&Change listening port",
     "&About", "&Quit"},
    {"de", "&Browser starten", "&IP-Adresse in die Zwischenablage kopieren", "&Sprache",
     "&Listening-Port ändern", "&Über", "&Beenden"},
    {"es", "&Iniciar navegador", "&Copiar dirección IP al portapapeles", "&Idioma",
     "&Cambiar puerto de escucha", "&Acerca de", "&Salir"},
    {"pl", "&Uruchom przeglądarkę", "&Kopiuj adres IP do schowka", "&Język", "&Zmień port nasłuchiwania",
     "&O programie", "&Zakończ"},
};

const MenuTexts &menuTextsFor(const QString &code)
{
    for (const MenuTexts &texts : kMenuTexts) {
        if (code == QLatin1String(texts.code))
            return texts;
    }
    return kMenuTexts[0];
}

int readListenerPort(QSettings *settings)
{
    settings->beginGroup("listener");
    const int port = settings->value("port", kDefaultPort).toInt();
    settings->endGroup();
    return port;
}

QString systemLanguage()
{
    QString name = QLocale::system().name();
    const int underscore = name.lastIndexOf(QLatin1Char('_'));
    if (underscore >= 0)
        name = name.left(underscore);
    if (name == QLatin1String("pl") || name == QLatin1String("es") || name == QLatin1String("de"))
        return name;
    return QStringLiteral("en");
}

QString aboutText()
{
    return QStringLiteral(
        "<center>"
        "<p><b>Vexo ver. " VEXO_VERSION "</b></p>"
        "<p>Made by Torva &ndash; <a href=\"https://vexo.example.org/\">vexo.example.org</a></p>"
        "<p>This application has been developped with the framework Qt 5.2.1 &ndash; "
        "<a href=\"https://www.qt.io/\">www.qt.io</a></p>"
        "<p>Used free componentes:</p>"
        "<p>---</p>"
        "<p>libmodbus &ndash; <a href=\"https://libmodbus.org/\">libmodbus.org</a></p>"
        "<p>---</p>"
        "<p>QextSerialPort &ndash; "
        "<a href=\"https://github.com/qextserialport/qextserialport\">github.com/qextserialport</a></p>"
        "<p>---</p>"
        "<p>Vexo embedded HTTP server &ndash; "
        "<a href=\"https://vexo.example.org/httpserver\">vexo.example.org/httpserver</a></p>"
        "</center>");
}
} // namespace

TrayMenu::TrayMenu(QApplication *application, QSettings *settings)
    : QDialog(nullptr)
    , m_application(application)
    , m_port(readListenerPort(settings))
    , m_settings(settings)
{
    createActions();
    createMenus();
    createTrayIcon();

    m_settings->beginGroup("other");
    QString code = m_settings->value("prefLang").toString();
    m_settings->endGroup();
    if (code.isEmpty()) {
        code = systemLanguage();
        storeLanguage(code);
    }
    setLanguage(code);
    checkLanguageAction(code);

    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TrayMenu::trayClicked);
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        qDebug("TrayMenu: no system tray on this desktop; running without a tray icon");
    m_trayIcon->show();
}

void TrayMenu::createActions()
{
    m_launchBrowserAction = new QAction(this);
    m_copyIpAction = new QAction(this);
    m_changePortAction = new QAction(this);
    m_aboutAction = new QAction(this);
    m_quitAction = new QAction(this);

    m_languageGroup = new QActionGroup(this);
    m_languageGroup->setExclusive(true);
    m_englishAction = createLanguageAction(QStringLiteral("&English"), QStringLiteral("en"));
    m_spanishAction = createLanguageAction(QStringLiteral("&Espanol"), QStringLiteral("es"));
    m_germanAction = createLanguageAction(QStringLiteral("&Deutsch"), QStringLiteral("de"));
    m_polishAction = createLanguageAction(QStringLiteral("&Polski"), QStringLiteral("pl"));
    connect(m_languageGroup, &QActionGroup::triggered, this, &TrayMenu::slotLanguageChanged);

    connect(m_launchBrowserAction, &QAction::triggered, this, &TrayMenu::slotLaunchBrowser);
    connect(m_copyIpAction, &QAction::triggered, this, &TrayMenu::slotCopyIp2Clipboard);
    connect(m_changePortAction, &QAction::triggered, this, &TrayMenu::slotChangeListeningPort);
    connect(m_aboutAction, &QAction::triggered, this, &TrayMenu::slotShowAbout);
    connect(m_quitAction, &QAction::triggered, this, &TrayMenu::slotExitApp);
}

QAction *TrayMenu::createLanguageAction(const QString &text, const QString &code)
{
    auto *action = new QAction(text, this);
    action->setCheckable(true);
    action->setData(code);
    m_languageGroup->addAction(action);
    return action;
}

void TrayMenu::createMenus()
{
    m_languageMenu = new QMenu(this);
    m_languageMenu->addActions(m_languageGroup->actions());

    m_contextMenu = new QMenu(this);
    m_contextMenu->addAction(m_launchBrowserAction);
    m_contextMenu->addAction(m_copyIpAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addMenu(m_languageMenu);
    m_contextMenu->addAction(m_changePortAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_aboutAction);
    m_contextMenu->addSeparator();
    m_contextMenu->addAction(m_quitAction);
}

void TrayMenu::createTrayIcon()
{
    // The image lives in the core library, a static one: its resources are linked in only
    // when something asks for them by name.
    Q_INIT_RESOURCE(resources);
    m_trayIcon = new QSystemTrayIcon(QIcon(QStringLiteral(":/images/tray_icon2")), this);
    m_trayIcon->setContextMenu(m_contextMenu);
    m_trayIcon->setToolTip(m_application->applicationName() + QStringLiteral(" " VEXO_VERSION));
}

void TrayMenu::showListeningMessage()
{
    m_trayIcon->showMessage(tr("Program is running."),
                            tr("Program is listening on port:") + QString::number(m_port) + ".",
                            QSystemTrayIcon::Information, kListeningMessageMs);
}

void TrayMenu::showPortErrorMessage()
{
    m_trayIcon->showMessage(
        tr("Error!"), tr("Cannot bind on port:") + QString::number(m_port) + tr(". Port already in use!"),
        QSystemTrayIcon::Warning, kPortErrorMessageMs);
}

void TrayMenu::trayClicked(QSystemTrayIcon::ActivationReason reason)
{
    // The context menu opens by the platform's own rule; only a double click acts here.
    if (reason == QSystemTrayIcon::DoubleClick)
        slotLaunchBrowser();
}

void TrayMenu::setLangDE()
{
    forceLanguage(QStringLiteral("de"));
}

void TrayMenu::setLangEN()
{
    forceLanguage(QStringLiteral("en"));
}

void TrayMenu::setLangPL()
{
    forceLanguage(QStringLiteral("pl"));
}

void TrayMenu::setLangES()
{
    forceLanguage(QStringLiteral("es"));
}

void TrayMenu::slotLaunchBrowser()
{
    QDesktopServices::openUrl(QUrl(localAddress()));
}

void TrayMenu::slotCopyIp2Clipboard()
{
    m_application->clipboard()->setText(localAddress());
}

void TrayMenu::slotExitApp()
{
    emit exitApp();
}

void TrayMenu::slotLanguageChanged(QAction *action)
{
    if (action)
        setLanguage(action->data().toString());
}

void TrayMenu::slotChangeListeningPort()
{
    // Only config.ini changes: the running listener and the menu keep the port in use
    // until the next start.
    while (!m_settings->group().isEmpty())
        m_settings->endGroup();
    m_settings->beginGroup("listener");
    const int current = m_settings->value("port", kDefaultPort).toInt();
    bool confirmed = false;
    const int port = QInputDialog::getInt(this, tr("Listening port modification"), tr("New listening port:"),
                                          current, kMinimumPort, kMaximumPort, 1, &confirmed);
    if (confirmed)
        m_settings->setValue("port", port);
    m_settings->endGroup();
}

void TrayMenu::slotShowAbout()
{
    QMessageBox::about(this, tr("About"), aboutText());
}

void TrayMenu::setLanguage(const QString &code)
{
    if (code == m_language)
        return;
    m_language = code;
    storeLanguage(code);
    rewriteTexts();
}

void TrayMenu::forceLanguage(const QString &code)
{
    m_language = code;
    storeLanguage(code);
    rewriteTexts();
    checkLanguageAction(code);
}

void TrayMenu::storeLanguage(const QString &code)
{
    m_settings->beginGroup("other");
    m_settings->setValue("prefLang", code);
    m_settings->endGroup();
    m_settings->sync();
}

void TrayMenu::rewriteTexts()
{
    qDebug() << "!!!!loadLanguage:" << m_language;
    const MenuTexts &texts = menuTextsFor(m_language);
    m_launchBrowserAction->setText(QString::fromUtf8(texts.launchBrowser));
    m_copyIpAction->setText(QString::fromUtf8(texts.copyIp));
    m_languageMenu->setTitle(QString::fromUtf8(texts.language));
    m_changePortAction->setText(QString::fromUtf8(texts.changePort));
    m_aboutAction->setText(QString::fromUtf8(texts.about));
    m_quitAction->setText(QString::fromUtf8(texts.quit));
}

void TrayMenu::checkLanguageAction(const QString &code)
{
    const QList<QAction *> actions = m_languageGroup->actions();
    for (QAction *action : actions) {
        if (action->data().toString() == code) {
            action->setChecked(true);
            return;
        }
    }
    m_englishAction->setChecked(true);
}

QString TrayMenu::localAddress() const
{
    return QStringLiteral("http://127.0.0.1:") + QString::number(m_port);
}
