#include "mqttclient.h"

#include <QDebug>

#include <mosquitto.h>

#include <algorithm>
#include <cstring>

namespace {
constexpr int keepAliveSeconds = 30;
// The longest the thread sleeps in the library; a publish or stop wakes it sooner.
constexpr int loopWaitMs = 1000;

const char onlineText[] = "online";
const char offlineText[] = "offline";

// Refusal codes of MQTT 3.1.1's CONNACK.
constexpr int refusedBrokerUnavailable = 3;

MqttClient::Problem problemOf(int rc)
{
    return rc == MOSQ_ERR_TLS ? MqttClient::Problem::Tls : MqttClient::Problem::Unreachable;
}

QString refusalText(int code)
{
    switch (code) {
    case 1:
        return QStringLiteral("unacceptable protocol version");
    case 2:
        return QStringLiteral("client id rejected");
    case refusedBrokerUnavailable:
        return QStringLiteral("broker unavailable");
    case 4:
        return QStringLiteral("bad user name or password");
    case 5:
        return QStringLiteral("not authorised");
    default:
        return QStringLiteral("code %1").arg(code);
    }
}
} // namespace

MqttClient::MqttClient(const Options &options, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_broker(options.host + QLatin1Char(':') + QString::number(options.port))
{}

MqttClient::~MqttClient()
{
    stop();
}

void MqttClient::start()
{
    if (m_thread.joinable())
        return;
    mosquitto_lib_init();
    m_thread = std::thread(&MqttClient::run, this);
}

void MqttClient::stop()
{
    if (!m_thread.joinable())
        return;
    {
        Lock lock(m_mutex);
        m_stopping = true;
        m_stopDeadline = Clock::now() + stopWait;
        // The DISCONNECT follows once the broker has the "offline" (see sent()); a clean
        // disconnect fires no will.
        if (m_connected)
            sayStatus(offlineText, &m_farewellMid, lock);
    }
    m_wake.notify_all();
    m_thread.join();
    mosquitto_lib_cleanup();
    Lock lock(m_mutex);
    if (!m_pending.empty())
        qWarning().noquote() << "MQTT:" << m_pending.size() << "messages not sent before the end";
}

void MqttClient::publish(const QString &topic, const QByteArray &payload, bool retain)
{
    Lock lock(m_mutex);
    m_pending.push_back({topic.toUtf8(), payload, retain});
    dropOverflow(lock);
    sendPending(lock);
}

MqttClient::Status MqttClient::status() const
{
    Lock lock(m_mutex);
    Status status;
    status.connected = m_connected;
    status.problem = m_problem;
    status.lastError = m_lastError;
    status.queued = qint64(m_pending.size() + m_inFlight.size());
    status.dropped = m_dropped;
    status.published = m_published;
    status.attempts = m_attempts;
    const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(m_nextAttempt - Clock::now());
    if (!m_connected && wait.count() > 0)
        status.nextAttemptMs = wait.count();
    return status;
}

void MqttClient::run()
{
    do {
        if (openConnection())
            serveConnection();
        closeConnection();
    } while (waitBeforeRetry());
}

bool MqttClient::openConnection()
{
    // A fresh library state for every connection: what the last one left unacknowledged is
    // back in our own queue, and only there, so nothing is sent twice by the library.
    struct mosquitto *mosq = mosquitto_new(m_options.clientId.toUtf8().constData(), true, this);
    Lock lock(m_mutex);
    ++m_attempts;
    m_failureNoted = false;
    m_libraryComplaint.clear();
    m_mosq = mosq;
    if (!mosq) {
        noteFailure(QStringLiteral("the MQTT library could not start a client"), Problem::Settings, lock);
        return false;
    }
    lock.unlock();
    if (!configure(mosq))
        return false;
    const int rc =
        mosquitto_connect_async(mosq, m_options.host.toUtf8().constData(), m_options.port, keepAliveSeconds);
    if (rc == MOSQ_ERR_SUCCESS)
        return true;
    const QString reason = QString::fromUtf8(mosquitto_strerror(rc));
    lock.lock();
    // A broker on this machine answers at once: the TLS handshake may fail in here already.
    noteFailure(rc == MOSQ_ERR_EAI ? QStringLiteral("cannot find the broker's host %1").arg(m_options.host)
                                   : failureText(rc, reason, false),
                problemOf(rc), lock);
    return false;
}

bool MqttClient::configure(struct mosquitto *mosq)
{
    mosquitto_threaded_set(mosq, true);
    mosquitto_int_option(mosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(mosq, &MqttClient::onConnect);
    mosquitto_disconnect_callback_set(mosq, &MqttClient::onDisconnect);
    mosquitto_publish_callback_set(mosq, &MqttClient::onPublish);
    mosquitto_message_callback_set(mosq, &MqttClient::onMessage);
    mosquitto_log_callback_set(mosq, &MqttClient::onLog);

    QString problem;
    const QByteArray statusTopic = m_options.statusTopic.toUtf8();
    if (mosquitto_will_set(mosq, statusTopic.constData(), int(std::strlen(offlineText)), offlineText,
                           m_options.qos, true) != MOSQ_ERR_SUCCESS)
        problem = QStringLiteral("the status topic %1 is not a valid topic").arg(m_options.statusTopic);
    else if (!m_options.user.isEmpty() &&
             mosquitto_username_pw_set(mosq, m_options.user.toUtf8().constData(),
                                       m_options.password.toUtf8().constData()) != MOSQ_ERR_SUCCESS)
        problem = QStringLiteral("the user name is not valid UTF-8 text");
    else if (m_options.tls && !configureTls(mosq))
        problem = QStringLiteral("TLS cannot be set up: the CA file %1 cannot be read").arg(m_options.caFile);
    if (problem.isEmpty())
        return true;
    Lock lock(m_mutex);
    noteFailure(problem, Problem::Settings, lock);
    return false;
}

bool MqttClient::configureTls(struct mosquitto *mosq)
{
    if (m_options.caFile.isEmpty())
        return mosquitto_int_option(mosq, MOSQ_OPT_TLS_USE_OS_CERTS, 1) == MOSQ_ERR_SUCCESS;
    return mosquitto_tls_set(mosq, m_options.caFile.toLocal8Bit().constData(), nullptr, nullptr, nullptr,
                             nullptr) == MOSQ_ERR_SUCCESS;
}

void MqttClient::serveConnection()
{
    for (;;) {
        const int rc = mosquitto_loop(m_mosq, loopWaitMs, 1);
        if (rc != MOSQ_ERR_SUCCESS) {
            // Most failures came through onDisconnect already; a failed TLS handshake does not.
            const QString reason = QString::fromUtf8(mosquitto_strerror(rc));
            const Lock lock(m_mutex);
            noteFailure(failureText(rc, reason, m_connected), problemOf(rc), lock);
            return;
        }
        const Lock lock(m_mutex);
        if (m_stopping && (!m_connected || Clock::now() >= m_stopDeadline))
            return;
    }
}

void MqttClient::closeConnection()
{
    struct mosquitto *mosq = nullptr;
    {
        const Lock lock(m_mutex);
        std::swap(mosq, m_mosq);
        m_connected = false;
        // Not acknowledged: sent again, in their order, on the next connection, unless newer
        // ones leave no room.
        for (auto it = m_inFlight.rbegin(); it != m_inFlight.rend(); ++it)
            m_pending.push_front(std::move(it->second));
        m_inFlight.clear();
        dropOverflow(lock);
    }
    if (mosq)
        mosquitto_destroy(mosq);
}

bool MqttClient::waitBeforeRetry()
{
    Lock lock(m_mutex);
    if (m_stopping)
        return false;
    const bool hopeless = m_problem != Problem::None && m_problem != Problem::Unreachable;
    const std::chrono::seconds delay = hopeless ? longestRetryDelay : m_retryDelay;
    m_retryDelay = std::min(m_retryDelay * 2, longestRetryDelay);
    m_nextAttempt = Clock::now() + delay;
    const QString error = m_lastError;
    lock.unlock();
    if (hopeless)
        qWarning().noquote() << "MQTT:" << error << "- trying again soon cannot help: next attempt in"
                             << delay.count() << "s, the longest pause";
    else
        qWarning().noquote() << "MQTT:" << error << "- next attempt in" << delay.count() << "s";
    lock.lock();
    m_wake.wait_until(lock, m_nextAttempt, [this] { return m_stopping; });
    return !m_stopping;
}

void MqttClient::sendPending(const Lock &)
{
    const size_t window = size_t(std::min(sendWindow, std::max(1, m_options.maxQueued)));
    while (m_connected && !m_pending.empty() && m_inFlight.size() < window) {
        Message &message = m_pending.front();
        int mid = 0;
        const int rc = mosquitto_publish(m_mosq, &mid, message.topic.constData(), int(message.payload.size()),
                                         message.payload.constData(), m_options.qos, message.retain);
        // The connection is going: the loop is about to notice, the message stays.
        if (rc == MOSQ_ERR_NO_CONN || rc == MOSQ_ERR_NOMEM)
            return;
        if (rc == MOSQ_ERR_SUCCESS) {
            m_inFlight.emplace_back(mid, std::move(message));
        } else {
            // A topic or size the protocol refuses: this one can never go, the rest can.
            qWarning().noquote() << "MQTT: message to" << message.topic
                                 << "dropped:" << mosquitto_strerror(rc);
            ++m_dropped;
        }
        m_pending.pop_front();
    }
}

void MqttClient::dropOverflow(const Lock &)
{
    // Messages in flight are newer than none of the waiting ones and cannot be called back:
    // the bound is on the waiting ones, which then go oldest first.
    const size_t limit = size_t(std::max(1, m_options.maxQueued));
    while (m_pending.size() > limit) {
        m_pending.pop_front();
        ++m_dropped;
        if (!m_dropping)
            qWarning().noquote() << "MQTT:" << limit << "messages wait for the broker: dropping the oldest";
        m_dropping = true;
    }
}

void MqttClient::sayStatus(const char *text, int *mid, const Lock &)
{
    mosquitto_publish(m_mosq, mid, m_options.statusTopic.toUtf8().constData(), int(std::strlen(text)), text,
                      m_options.qos, true);
}

void MqttClient::noteFailure(const QString &text, Problem problem, const Lock &)
{
    // The first word on a failed connection is the reason; what the library says after it
    // (the closed socket of a refused client) is not.
    if (m_failureNoted || m_stopping)
        return;
    m_failureNoted = true;
    m_lastError = text;
    m_problem = problem;
}

QString MqttClient::failureText(int rc, const QString &reason, bool wasConnected) const
{
    if (rc == MOSQ_ERR_TLS)
        return QStringLiteral("TLS failure with %1: %2")
            .arg(m_broker, m_libraryComplaint.isEmpty() ? reason : m_libraryComplaint);
    return QStringLiteral("%1 %2: %3")
        .arg(wasConnected ? QStringLiteral("connection lost to") : QStringLiteral("cannot connect to"),
             m_broker, reason);
}

void MqttClient::connected(int rc)
{
    Lock lock(m_mutex);
    if (rc != 0) {
        noteFailure(QStringLiteral("the broker %1 refused the connection: %2").arg(m_broker, refusalText(rc)),
                    rc == refusedBrokerUnavailable ? Problem::Unreachable : Problem::Refused, lock);
        return;
    }
    // A stop that came while the broker was answering: leave without a word, the will says it.
    if (m_stopping)
        return;
    m_connected = true;
    m_lastError.clear();
    m_problem = Problem::None;
    m_dropping = false;
    m_retryDelay = firstRetryDelay;
    sayStatus(onlineText, nullptr, lock);
    if (!m_options.subscription.isEmpty())
        mosquitto_subscribe(m_mosq, nullptr, m_options.subscription.toUtf8().constData(), m_options.qos);
    sendPending(lock);
    lock.unlock();
    qInfo().noquote() << "MQTT: connected to" << m_broker;
}

void MqttClient::disconnected(int rc)
{
    // First: the text of an errno failure reads errno, which the lines below may change.
    const QString reason = QString::fromUtf8(mosquitto_strerror(rc));
    Lock lock(m_mutex);
    const bool wasConnected = m_connected;
    m_connected = false;
    if (rc != MOSQ_ERR_SUCCESS)
        noteFailure(failureText(rc, reason, wasConnected), problemOf(rc), lock);
}

void MqttClient::sent(int mid)
{
    Lock lock(m_mutex);
    // Closing the socket with the acknowledgement still unread would reset the connection,
    // and the broker could lose the DISCONNECT with it: so only now.
    if (m_stopping && mid == m_farewellMid) {
        mosquitto_disconnect(m_mosq);
        return;
    }
    const auto it = std::find_if(m_inFlight.begin(), m_inFlight.end(),
                                 [mid](const std::pair<int, Message> &entry) { return entry.first == mid; });
    // A status message is not ours to count.
    if (it == m_inFlight.end())
        return;
    m_inFlight.erase(it);
    ++m_published;
    m_dropping = false;
    sendPending(lock);
}

void MqttClient::received(const struct mosquitto_message *message)
{
    emit messageReceived(QString::fromUtf8(message->topic),
                         QByteArray(static_cast<const char *>(message->payload), message->payloadlen),
                         message->retain);
}

void MqttClient::libraryLog(int level, const char *text)
{
    if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)))
        return;
    qDebug().noquote() << "MQTT library:" << text;
    const Lock lock(m_mutex);
    m_libraryComplaint = QString::fromUtf8(text);
}

void MqttClient::onConnect(struct mosquitto *, void *client, int rc)
{
    static_cast<MqttClient *>(client)->connected(rc);
}

void MqttClient::onDisconnect(struct mosquitto *, void *client, int rc)
{
    static_cast<MqttClient *>(client)->disconnected(rc);
}

void MqttClient::onPublish(struct mosquitto *, void *client, int mid)
{
    static_cast<MqttClient *>(client)->sent(mid);
}

void MqttClient::onMessage(struct mosquitto *, void *client, const struct mosquitto_message *message)
{
    static_cast<MqttClient *>(client)->received(message);
}

void MqttClient::onLog(struct mosquitto *, void *client, int level, const char *text)
{
    static_cast<MqttClient *>(client)->libraryLog(level, text);
}
