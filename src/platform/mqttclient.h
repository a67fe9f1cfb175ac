#ifndef MQTTCLIENT_H
#define MQTTCLIENT_H

#include <QByteArray>
#include <QObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

struct mosquitto;
struct mosquitto_message;

// One connection to an MQTT broker (libmosquitto), kept up by a thread of its own. publish()
// only queues, so a slow or absent broker never holds the caller. Unsent messages wait in a
// bounded queue (the oldest dropped first, and counted) and leave in order once the broker
// is back; a message counts as sent when the broker acknowledged it (QoS 1) or when it was
// written out (QoS 0). A lost connection is tried again after 1 s, doubling up to 60 s; a
// broker that refuses the client (credentials, client id) or a TLS failure waits the 60 s at
// once, since trying sooner cannot help. A retained "online" on the status topic follows
// every connection, "offline" is the will and is said by stop().
// Threads: made, started and stopped on one thread; publish() and status() from any. The
// library calls back on the client's thread; received messages leave it only through
// messageReceived, emitted there (connect it queued, or to something thread-safe).
class MqttClient : public QObject
{
    Q_OBJECT
public:
    struct Options
    {
        QString host;
        int port = 1883;
        bool tls = false;
        QString caFile; // with tls: empty trusts the system's certificates
        QString user;   // empty: no user name and password sent
        QString password;
        QString clientId;
        int qos = 1; // 0 or 1
        int maxQueued = 10000;
        QString statusTopic;
        QString subscription; // empty: none
    };

    // What kept the last connection from working. All but Unreachable are mended by
    // changing the broker or the settings, not by trying again soon.
    enum class Problem
    {
        None,
        Unreachable, // no broker there, a lost connection, a host name not found
        Refused,     // the broker said no: credentials, client id, protocol
        Tls,         // the handshake or the certificate failed
        Settings     // the library refused a setting (a CA file it cannot read, say)
    };

    struct Status
    {
        bool connected = false;
        Problem problem = Problem::None;
        QString lastError; // since the last successful connection
        qint64 queued = 0; // waiting or not yet acknowledged
        qint64 dropped = 0;
        qint64 published = 0;
        qint64 attempts = 0;      // connections tried
        qint64 nextAttemptMs = 0; // while not connected: time to the next try
    };

    static constexpr std::chrono::seconds firstRetryDelay{1};
    static constexpr std::chrono::seconds longestRetryDelay{60};
    // How long stop() gives the broker to take the "offline".
    static constexpr std::chrono::seconds stopWait{2};
    // Messages handed to the library and not yet acknowledged, at most.
    static constexpr int sendWindow = 100;

    explicit MqttClient(const Options &options, QObject *parent = nullptr);
    ~MqttClient() override;

    void start();
    void stop();
    void publish(const QString &topic, const QByteArray &payload, bool retain);
    Status status() const;
    // host:port, as the log and the status name the broker.
    const QString &broker() const { return m_broker; }

signals:
    // retained: kept by the broker from before, not sent just now.
    void messageReceived(const QString &topic, const QByteArray &payload, bool retained);

private:
    struct Message
    {
        QByteArray topic;
        QByteArray payload;
        bool retain = false;
    };
    using Clock = std::chrono::steady_clock;
    using Lock = std::unique_lock<std::mutex>;

    void run();
    bool openConnection();
    bool configure(struct mosquitto *mosq);
    bool configureTls(struct mosquitto *mosq);
    void serveConnection();
    void closeConnection();
    bool waitBeforeRetry();
    void sendPending(const Lock &lock);
    void dropOverflow(const Lock &lock);
    void sayStatus(const char *text, int *mid, const Lock &lock);
    void noteFailure(const QString &text, Problem problem, const Lock &lock);
    QString failureText(int rc, const QString &reason, bool wasConnected) const;

    void connected(int rc);
    void disconnected(int rc);
    void sent(int mid);
    void received(const struct mosquitto_message *message);
    void libraryLog(int level, const char *text);

    static void onConnect(struct mosquitto *, void *client, int rc);
    static void onDisconnect(struct mosquitto *, void *client, int rc);
    static void onPublish(struct mosquitto *, void *client, int mid);
    static void onMessage(struct mosquitto *, void *client, const struct mosquitto_message *message);
    static void onLog(struct mosquitto *, void *client, int level, const char *text);

    const Options m_options;
    const QString m_broker; // host:port, for the log
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    // Set and cleared by the client's thread under the mutex; other threads call the library
    // only while m_connected, holding the mutex, so the struct cannot go away under them.
    struct mosquitto *m_mosq = nullptr;
    bool m_connected = false;
    bool m_stopping = false;
    Clock::time_point m_stopDeadline;
    int m_farewellMid = -1; // the "offline" of stop()
    std::deque<Message> m_pending;
    std::deque<std::pair<int, Message>> m_inFlight; // by message id, in the order sent
    QString m_lastError;
    QString m_libraryComplaint;  // the library's last warning, which names a TLS failure's cause
    bool m_failureNoted = false; // this connection's failure has its reason
    Problem m_problem = Problem::None;
    bool m_dropping = false; // logged once per run of drops
    std::chrono::seconds m_retryDelay = firstRetryDelay;
    Clock::time_point m_nextAttempt;
    qint64 m_dropped = 0;
    qint64 m_published = 0;
    qint64 m_attempts = 0;
};

#endif // MQTTCLIENT_H
