#ifndef CREATOR_H
#define CREATOR_H

#include <QObject>
#include <QPointer>

class HttpListener;
class MyHttpRequestHandler;
class TrayMenu;

// Assembles the running service: static files, the request handler, the listener and the
// tray menu. Its three slots end the program: a plain quit, or an elevated restart or
// setup launch that leave the process at once with status 12.
// Threads: main thread; the request handler's two signals reach its slots queued from the
// connection threads.
class Creator : public QObject
{
    Q_OBJECT
public:
    Creator(const QString &configPath, bool restarted, QObject *parent = nullptr);
    ~Creator() override;

    HttpListener *listener() const { return m_listener; }
    TrayMenu *trayMenu() const;

    static constexpr int kElevatedRestartExitStatus = 12;

public slots:
    void slotRestartAppAsAdmin();
    void slotRunAutoUpdate();
    void slotExitApp();

private:
    void reportStartup(bool restarted);
    void stopListener();
    static QString siblingProgram(const char *relativePath);
    static QString restartSwitch();
    [[noreturn]] static void leaveForSibling();

    MyHttpRequestHandler *m_requestHandler = nullptr;
    HttpListener *m_listener = nullptr;
    // A top-level widget without parent; it goes before the application object does.
    QPointer<TrayMenu> m_trayMenu;
};

#endif // CREATOR_H
