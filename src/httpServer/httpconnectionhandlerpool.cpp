#include "httpconnectionhandlerpool.h"

#include "httpconnectionhandler.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>

#include <utility>

namespace {
// The text of the PEM file a setting names; false, with the critical log line, when the file
// cannot be opened.
bool readPemFile(const QString &path, const char *settingName, QByteArray *pem)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCritical("HttpConnectionHandlerPool: cannot open %s %s", settingName, qPrintable(path));
        return false;
    }
    *pem = file.readAll();
    return true;
}
} // namespace

HttpConnectionHandlerPool::HttpConnectionHandlerPool(const QSettings *settings,
                                                     HttpRequestHandler *requestHandler, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_requestHandler(requestHandler)
{
    loadSslConfig();
    m_cleanupTimer.start(m_settings->value("cleanupInterval", 10000).toInt());
    connect(&m_cleanupTimer, &QTimer::timeout, this, &HttpConnectionHandlerPool::cleanup);
}

HttpConnectionHandlerPool::~HttpConnectionHandlerPool()
{
    // Each handler's destructor ends and joins its thread.
    qDeleteAll(m_handlers);
    m_handlers.clear();
    m_sslConfiguration.reset();
    qDebug("HttpConnectionHandlerPool (%p): destroyed", static_cast<void *>(this));
}

HttpConnectionHandler *HttpConnectionHandlerPool::acquireHandler()
{
    QMutexLocker locker(&m_mutex);
    for (HttpConnectionHandler *handler : std::as_const(m_handlers)) {
        if (!handler->busy()) {
            handler->markBusy();
            return handler;
        }
    }
    const int maxThreads = m_settings->value("maxThreads", 100).toInt();
    if (m_handlers.size() >= maxThreads)
        return nullptr;
    auto *handler = new HttpConnectionHandler(m_settings, m_requestHandler, m_sslConfiguration.get());
    handler->markBusy();
    m_handlers.append(handler);
    return handler;
}

QList<HttpConnectionHandler *> HttpConnectionHandlerPool::handlers() const
{
    QMutexLocker locker(&m_mutex);
    return m_handlers;
}

void HttpConnectionHandlerPool::cleanup()
{
    const int minThreads = m_settings->value("minThreads", 1).toInt();
    QMutexLocker locker(&m_mutex);
    int idle = 0;
    for (int i = 0; i < m_handlers.size(); ++i) {
        HttpConnectionHandler *handler = m_handlers.at(i);
        if (handler->busy() || ++idle <= minThreads)
            continue;
        m_handlers.removeAt(i);
        delete handler;
        return;
    }
}

void HttpConnectionHandlerPool::loadSslConfig()
{
    const QString keyFileName = m_settings->value("sslKeyFile", "").toString();
    const QString certFileName = m_settings->value("sslCertFile", "").toString();
    if (keyFileName.isEmpty() || certFileName.isEmpty())
        return;
    const QString keyPath = absoluteToConfig(keyFileName);
    const QString certPath = absoluteToConfig(certFileName);

    QByteArray certificatePem;
    QByteArray keyPem;
    if (!readPemFile(certPath, "sslCertFile", &certificatePem) ||
        !readPemFile(keyPath, "sslKeyFile", &keyPem))
        return;
    const QSslCertificate certificate(certificatePem, QSsl::Pem);
    QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull())
        key = QSslKey(keyPem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);

    auto configuration = std::make_unique<QSslConfiguration>(QSslConfiguration::defaultConfiguration());
    configuration->setLocalCertificate(certificate);
    configuration->setPrivateKey(key);
    configuration->setPeerVerifyMode(QSslSocket::VerifyNone);
    // TLS 1.2 and newer: what browsers and current TLS libraries still speak.
    configuration->setProtocol(QSsl::SecureProtocols);
    m_sslConfiguration = std::move(configuration);
    qDebug("HttpConnectionHandlerPool: SSL settings loaded");
}

QString HttpConnectionHandlerPool::absoluteToConfig(const QString &fileName) const
{
    // Relative names are relative to the configuration file, when there is a file at all
    // (a registry-backed store has none).
    const QFileInfo configFile(m_settings->fileName());
    if (QDir::isAbsolutePath(fileName) || !configFile.isFile())
        return fileName;
    return QDir(configFile.absolutePath()).filePath(fileName);
}
