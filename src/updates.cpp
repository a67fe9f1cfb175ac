#include "updates.h"

#include "jsonwriter.h"

#include "scriptevaluator.h"
#include "updatetree.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUrl>

namespace {
const QByteArray parameterError = R"({"error":"Parameter error!"})";
const QByteArray connectError = R"({"error":"Unable to connect with server!"})";
const QByteArray diskError = R"({"error":"Unable to write to disk!"})";
const QByteArray replyError = R"({"error":"Reply error!"})";
const QByteArray updateStarted = R"({"ok":"Update started"})";
const QByteArray inProgress = R"({"ok":"In progress"})";
const QByteArray completed = R"({"ok":"Completed correctly."})";
// A browser asks for a handful of modules; more is not a module list.
const int maxModules = 1000;

QByteArray replyErrorWithCode(QNetworkReply::NetworkError error)
{
    return R"({"error":"Reply error!","errorNo":)" + QByteArray::number(static_cast<int>(error)) + '}';
}

QString absoluteDocumentRoot(const QString &path)
{
    if (QDir::isRelativePath(path))
        return QDir::cleanPath(QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(path));
    return QDir::cleanPath(path);
}

// The body of a list reply, read as Latin-1 up to its first NUL byte.
QString latin1UpToNul(const QByteArray &body)
{
    const int nul = body.indexOf('\0');
    return QString::fromLatin1(nul < 0 ? body : body.left(nul));
}

// The server had begun to send the file when the reply failed.
bool bodyWasUnderWay(const QNetworkReply *reply)
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status <= 299;
}

bool hasAnnouncedLength(const QNetworkReply *reply, const QByteArray &body)
{
    // A packed body is unpacked on the way; its announced length is that of the packed form.
    if (!reply->rawHeader("Content-Encoding").isEmpty())
        return true;
    const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
    return !announced.isValid() || announced.toLongLong() == body.size();
}

QNetworkRequest requestFor(const QString &url)
{
    QNetworkRequest request{QUrl(url)};
    // Qt 6 follows redirects by default; the protocol treats them as answers of their own.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    return request;
}
} // namespace

Updates::Updates(QSettings *settings, QObject *parent)
    : QObject(parent)
    , m_fileListClient(new QNetworkAccessManager(this))
    , m_fileClient(new QNetworkAccessManager(this))
    , m_statusText("{}")
{
    m_docRoot = absoluteDocumentRoot(settings->value("path", ".").toString());
    m_tmpDir = QDir::cleanPath(m_docRoot + QStringLiteral("/../tmp"));

    // The settings object is shared with the rest of the request handler: leave it in the
    // group it came in with. responseMaxWaitTime stays unread, the check keeps its own limit.
    const QString callersGroup = settings->group();
    while (!settings->group().isEmpty())
        settings->endGroup();
    settings->beginGroup("updates");
    m_updateServer = settings->value("updateServer", ".").toString();
    settings->endGroup();
    if (!callersGroup.isEmpty())
        settings->beginGroup(callersGroup);

    connect(m_fileListClient, &QNetworkAccessManager::finished, this, &Updates::fileListDownloadFinished);
    connect(m_fileClient, &QNetworkAccessManager::finished, this, &Updates::fileDownloadFinished);
}

void Updates::setTimeLimit(int ms)
{
    m_timeLimitMs = ms;
}

QByteArray Updates::check4Updates(t_GetArray &params)
{
    if (!params.contains("json"))
        return parameterError;

    // A client of its own: this runs on the calling connection thread, not on ours.
    auto *client = new QNetworkAccessManager;
    QNetworkRequest request = requestFor(m_updateServer);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
    QNetworkReply *reply = client->post(request, "json=" + params.value("json"));

    QEventLoop wait;
    QTimer limit;
    limit.setSingleShot(true);
    connect(reply, &QNetworkReply::finished, &wait, &QEventLoop::quit);
    connect(&limit, &QTimer::timeout, &wait, &QEventLoop::quit);
    limit.start(m_timeLimitMs);
    wait.exec();

    const bool timedOut = !limit.isActive();
    limit.stop();
    if (timedOut) {
        disconnect(reply, nullptr, &wait, nullptr);
        reply->abort();
    }
    const QByteArray answer = checkReply(reply, timedOut);
    reply->deleteLater();
    client->deleteLater();
    return answer;
}

QByteArray Updates::checkReply(QNetworkReply *reply, bool timedOut) const
{
    if (timedOut)
        return connectError;
    if (reply->error() != QNetworkReply::NoError) {
        qDebug() << "error no:" << static_cast<int>(reply->error());
        return connectError;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (status < 200 || status > 299)
        return connectError;
    return reply->readAll();
}

QByteArray Updates::startUpdating(t_GetArray &params)
{
    if (!params.contains("modulesList"))
        return parameterError;
    // A refused request must not hide an update that is running: check before touching status.
    const QStringList modules = moduleNames(params.value("modulesList"));
    if (modules.isEmpty())
        return parameterError;

    QMutexLocker disk(&m_diskLock);
    int run = 0;
    {
        // From here on, replies of an earlier run are leftovers.
        QMutexLocker state(&m_stateLock);
        run = ++m_run;
        m_status = 0;
    }
    if (!UpdateTree::removeDir(m_tmpDir))
        return diskError;
    setStatus(1);
    QMetaObject::invokeMethod(
        this, [this, run, modules] { beginRun(run, modules); }, Qt::QueuedConnection);
    return updateStarted;
}

QStringList Updates::moduleNames(const QByteArray &modulesList) const
{
    const QString text = QUrl::fromPercentEncoding(modulesList);
    const ScriptEvaluator::Result list = ScriptEvaluator::evaluateArray(text, maxModules);
    QStringList names;
    if (!list.valid || !list.isArray || list.length > maxModules)
        return names;
    for (const ScriptEvaluator::Element &element : list.elements)
        names.append(element.text);
    return names;
}

QByteArray Updates::getUpdateServer() const
{
    return JsonWriter()
        .beginObject()
        .name(QStringLiteral("server"))
        .string(m_updateServer)
        .endObject()
        .json();
}

QByteArray Updates::getUpdateStatus()
{
    QMutexLocker state(&m_stateLock);
    return m_status == 1 ? inProgress : m_statusText;
}

void Updates::beginRun(int run, const QStringList &modules)
{
    if (!isCurrentRun(run))
        return;
    m_chainRun = run;
    m_modules = modules;
    m_files.clear();
    downloadNextModule();
}

void Updates::downloadNextModule()
{
    if (m_modules.isEmpty()) {
        install();
        return;
    }
    QString url = m_updateServer;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    get(m_fileListClient, url + QStringLiteral("fileList?moduleName=") + m_modules.first());
}

void Updates::downloadNextFile()
{
    if (m_files.isEmpty()) {
        m_modules.removeFirst();
        downloadNextModule();
        return;
    }
    get(m_fileClient, m_files.first());
}

QNetworkReply *Updates::get(QNetworkAccessManager *client, const QString &url)
{
    QNetworkRequest request = requestFor(url);
    // A server that stops sending must not hold the update "In progress" for ever.
    request.setTransferTimeout(m_timeLimitMs);
    QNetworkReply *reply = client->get(request);
    reply->setProperty("run", m_chainRun);
    return reply;
}

void Updates::fileListDownloadFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrent(reply))
        return;
    if (reply->error() != QNetworkReply::NoError) {
        setOutcome(m_chainRun, replyErrorWithCode(reply->error()));
        return;
    }
    const ScriptEvaluator::Result list = ScriptEvaluator::evaluateArray(latin1UpToNul(reply->readAll()));
    m_files.clear();
    if (!list.valid || !list.isArray || list.length > list.elements.size()) {
        // Reported, but the update goes on with the next module.
        setOutcome(m_chainRun, replyError);
    } else {
        for (const ScriptEvaluator::Element &element : list.elements)
            m_files.append(element.text);
    }
    downloadNextFile();
}

void Updates::fileDownloadFinished(QNetworkReply *reply)
{
    reply->deleteLater();
    if (!isCurrent(reply))
        return;
    if (reply->error() != QNetworkReply::NoError && !bodyWasUnderWay(reply)) {
        setOutcome(m_chainRun, replyError);
        return;
    }
    const QByteArray body = reply->readAll();
    // A body that broke off or came shorter than announced is never installed as complete.
    if (reply->error() != QNetworkReply::NoError || !hasAnnouncedLength(reply, body)) {
        qWarning() << "Updates: download cut short:" << reply->url().toString() << reply->errorString();
        setOutcome(m_chainRun, diskError);
        return;
    }
    const QString url = reply->url().toString();
    const QString relativePath = UpdateTree::relativePath(url);
    if (relativePath.isEmpty())
        qWarning() << "Updates: skipped a file that has no place in the update tree:" << url;
    else if (!saveFile(relativePath, body))
        return;
    m_files.removeFirst();
    downloadNextFile();
}

bool Updates::saveFile(const QString &relativePath, const QByteArray &body)
{
    QMutexLocker disk(&m_diskLock);
    // A newer run may have cleared the tree meanwhile; it owns the tree now.
    if (!isCurrentRun(m_chainRun))
        return false;
    const QString target = UpdateTree::targetPath(m_tmpDir, relativePath);
    QFile file(target);
    const bool written = QDir().mkpath(QFileInfo(target).absolutePath()) &&
                         file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         file.write(body) == body.size() && file.flush();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        setOutcome(m_chainRun, diskError);
        return false;
    }
    return true;
}

void Updates::install()
{
    QMutexLocker disk(&m_diskLock);
    if (!isCurrentRun(m_chainRun))
        return;
    if (!UpdateTree::copyDir(m_tmpDir, m_docRoot)) {
        setOutcome(m_chainRun, diskError);
        return;
    }
    UpdateTree::removeDir(m_tmpDir);
    setOutcome(m_chainRun, completed);
}

bool Updates::isCurrent(const QNetworkReply *reply) const
{
    return reply->property("run").toInt() == m_chainRun && isCurrentRun(m_chainRun);
}

bool Updates::isCurrentRun(int run) const
{
    QMutexLocker state(&m_stateLock);
    return run == m_run;
}

void Updates::setStatus(int status)
{
    QMutexLocker state(&m_stateLock);
    m_status = status;
}

void Updates::setOutcome(int run, const QByteArray &statusText)
{
    QMutexLocker state(&m_stateLock);
    if (run != m_run)
        return;
    m_status = 0;
    m_statusText = statusText;
}
