#ifndef IPCHELPER_H
#define IPCHELPER_H

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// The serving instance's end of the local IPC channel. A newer instance sends "shutdown"
// to take our place; "restart" does the same here, "show" opens the browser.
class IpcHelper : public QObject
{
    Q_OBJECT
public:
    IpcHelper(QLocalServer *server, const QString &configPath, QObject *parent = nullptr);

    static QString serverName();
    // Listens on serverName(), removing a socket a crashed instance left behind. A failure
    // is logged and the instance goes on without IPC.
    static bool startListening(QLocalServer *server);

public slots:
    void onNewConnection();
    void onReadyRead();
    void onDisconnected();

private:
    QLocalSocket *signallingClient() const;
    void execute(const QByteArray &command);
    void openBrowserAtConfiguredPort();

    QLocalServer *m_server;
    QString m_configPath;
    QLocalSocket *m_client = nullptr;
};

#endif // IPCHELPER_H
