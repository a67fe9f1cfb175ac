#ifndef EMAIL_H
#define EMAIL_H

#include "getarray.h"

#include <QDateTime>
#include <QMutex>
#include <QObject>
#include <QStringList>

// Sends the support message through the outside mail tool, within its rate limits:
// one successful mail per 900 s across runs, three per run.
// Threads: sendEmail runs on the connection threads, one send at a time (m_sendLock).
class Email : public QObject
{
    Q_OBJECT
public:
    explicit Email(QObject *parent = nullptr);
    // configPath: the INI file with the group "email" (server, from, password, to).
    Email(const QString &configPath, QObject *parent);

    QByteArray sendEmail(t_GetArray &params);
    void writeEmailError(const QString &error);

private:
    // -1 when no send is stored.
    qint64 secondsSinceLastSend(const QDateTime &now) const;
    QStringList mailToolArguments() const;
    QString runMailTool();
    void rememberSend(const QDateTime &now);

    QString m_configPath;
    QStringList m_arguments;
    // Sends share the message file, the stored time and the count; one at a time, from the
    // check of the limits to storing the send, so two requests cannot both pass the limits.
    QMutex m_sendLock;
    int m_sent = 0; // successful sends in this run
};

#endif // EMAIL_H
