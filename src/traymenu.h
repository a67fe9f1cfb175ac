#ifndef TRAYMENU_H
#define TRAYMENU_H

#include <QDialog>
#include <QSystemTrayIcon>

class QAction;
class QActionGroup;
class QApplication;
class QMenu;
class QSettings;

// The tray icon and its context menu: the program's only visible face on the desktop.
// The dialog itself is never shown; it parents the menus, the icon and the dialogs it opens.
class TrayMenu : public QDialog
{
    Q_OBJECT
public:
    // settings is opened on config.ini with no group entered; it is not owned.
    TrayMenu(QApplication *application, QSettings *settings);

    void showListeningMessage();
    void showPortErrorMessage();

signals:
    void exitApp();

public slots:
    void trayClicked(QSystemTrayIcon::ActivationReason reason);
    void setLangDE();
    void setLangEN();
    void setLangPL();
    void setLangES();
    void slotLaunchBrowser();
    void slotCopyIp2Clipboard();
    void slotExitApp();
    void slotLanguageChanged(QAction *action);
    void slotChangeListeningPort();
    void slotShowAbout();

private:
    void createActions();
    QAction *createLanguageAction(const QString &text, const QString &code);
    void createMenus();
    void createTrayIcon();
    void setLanguage(const QString &code);
    void forceLanguage(const QString &code);
    void storeLanguage(const QString &code);
    void rewriteTexts();
    void checkLanguageAction(const QString &code);
    QString localAddress() const;

    QAction *m_launchBrowserAction = nullptr;
    QAction *m_copyIpAction = nullptr;
    QAction *m_changePortAction = nullptr;
    QAction *m_aboutAction = nullptr;
    QAction *m_quitAction = nullptr;
    QAction *m_englishAction = nullptr;
    QAction *m_spanishAction = nullptr;
    QAction *m_germanAction = nullptr;
    QAction *m_polishAction = nullptr;
    QActionGroup *m_languageGroup = nullptr;
    QMenu *m_languageMenu = nullptr;
    QMenu *m_contextMenu = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    QApplication *m_application;
    int m_port;
    QSettings *m_settings;
    QString m_language;
};

#endif // TRAYMENU_H
