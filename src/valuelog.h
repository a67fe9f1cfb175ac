#ifndef VALUELOG_H
#define VALUELOG_H

#include <QByteArray>
#include <QMutex>
#include <QString>

struct PollResult;

// The CSV file of polled values: one line per value, `time,definition,slave,table,address,value`,
// a failed read with its error text as the value. When the next read's lines would pass the cap,
// the file becomes the one older generation and a new one begins; a read's lines stay together.
// Threads: any; written by the poller's thread, read and cleared from the connection threads.
class ValueLog
{
    Q_DISABLE_COPY(ValueLog)
public:
    static constexpr qint64 defaultMaxBytes = 10 * 1024 * 1024;
    // Below this a busy log would begin anew at almost every read.
    static constexpr qint64 minMaxBytes = 64 * 1024;

    // path: the current file; the older generation goes beside it.
    ValueLog(const QString &path, qint64 maxBytes);

    void append(const PollResult &result);
    qint64 bytes() const;
    qint64 maxBytes() const { return m_maxBytes; }
    QByteArray contents() const;
    void clear();

    // The lines of one result, as the file holds them.
    static QByteArray lines(const PollResult &result);

private:
    QString olderPath() const;

    const QString m_path;
    const qint64 m_maxBytes;
    mutable QMutex m_mutex;
};

#endif // VALUELOG_H
