#ifndef UPDATES_H
#define UPDATES_H

#include "getarray.h"

#include <QMutex>
#include <QObject>
#include <QStringList>

#include <atomic>

class QNetworkAccessManager;
class QNetworkReply;
class QSettings;

// Checks the update server and downloads module updates into the document root.
// Threads: the request functions run on connection threads; the download chain runs in the
// event loop of this object's own thread (the main thread), which they hand the work to.
class Updates : public QObject
{
    Q_OBJECT
public:
    // The whole check may take this long; a list or file download may sit idle this long.
    static constexpr int defaultTimeLimitMs = 20000;

    Updates(QSettings *settings, QObject *parent = nullptr);

    QByteArray check4Updates(t_GetArray &params);
    QByteArray startUpdating(t_GetArray &params);
    QByteArray getUpdateStatus();
    // The configured update server, so that a page can name the address it could not reach.
    QByteArray getUpdateServer() const;

    // The default holds outside of tests.
    void setTimeLimit(int ms);

public slots:
    void fileListDownloadFinished(QNetworkReply *reply);
    void fileDownloadFinished(QNetworkReply *reply);

private:
    QByteArray checkReply(QNetworkReply *reply, bool timedOut) const;
    QStringList moduleNames(const QByteArray &modulesList) const;
    void beginRun(int run, const QStringList &modules);
    void downloadNextModule();
    void downloadNextFile();
    bool saveFile(const QString &relativePath, const QByteArray &body);
    void install();
    QNetworkReply *get(QNetworkAccessManager *client, const QString &url);
    bool isCurrent(const QNetworkReply *reply) const;
    bool isCurrentRun(int run) const;
    void setStatus(int status);
    // Sets status 0 and the text, unless a newer run has started meanwhile.
    void setOutcome(int run, const QByteArray &statusText);

    QString m_updateServer;
    std::atomic<int> m_timeLimitMs{defaultTimeLimitMs};
    QNetworkAccessManager *m_fileListClient;
    QNetworkAccessManager *m_fileClient;
    QString m_docRoot;
    QString m_tmpDir;

    // Chain state: touched only on this object's thread.
    QStringList m_modules;
    QStringList m_files;
    int m_chainRun = 0;

    // Shared with the request threads. A new start bumps m_run, which turns replies of the
    // earlier run into leftovers that are dropped. Lock order: m_diskLock, then m_stateLock.
    mutable QMutex m_stateLock;
    int m_run = 0;
    int m_status = 0;
    QByteArray m_statusText;
    QMutex m_diskLock;
};

#endif // UPDATES_H
