#include "net/httpmanager.h"

#include "app/constants.h"
#include "net/requestkind.h"
#include "platform/platform.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <QUuid>

namespace {

const int UploadIntervalMs = 600000;
// The close path waits for the upload in a nested loop; a cloud that accepts the connection
// and never answers must not keep the assistant from exiting.
const int UploadTimeoutMs = 5000;
const char *const UploadPath = "/tolvane/datacenter/velnor_data_upload";

QBasicMutex instanceMutex;
HttpManager *theInstance = nullptr;

} // namespace

HttpManager *HttpManager::instance()
{
    QMutexLocker locker(&instanceMutex);
    if (!theInstance) {
        theInstance = new HttpManager;
        // Post routines run while the application object still exists, so the network access
        // manager is torn down while Qt can still do so safely.
        qAddPostRoutine(&HttpManager::destroyInstance);
    }
    return theInstance;
}

void HttpManager::destroyInstance()
{
    QMutexLocker locker(&instanceMutex);
    delete theInstance;
    theInstance = nullptr;
}

HttpManager::HttpManager(QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_machineGuid(platform::machineIdentifier())
    , m_serviceBaseUrl(ServiceBaseUrl)
    , m_cloudBaseUrl(CloudBaseUrl)
{
    startTimer(UploadIntervalMs, Qt::CoarseTimer);
}

HttpManager::~HttpManager() = default;

QString HttpManager::sendRequest(int operation, const QString &path, const QByteArray &body,
                                 int kind)
{
    const QString reqId = QUuid::createUuid().toString(QUuid::Id128);
    QNetworkRequest request;
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/json; charset=utf-8"));
    const QString separator
        = path.contains(QLatin1Char('?')) ? QStringLiteral("&reqId=") : QStringLiteral("?reqId=");
    request.setUrl(QUrl(m_serviceBaseUrl + path + separator + reqId, QUrl::TolerantMode));

    QNetworkReply *reply = nullptr;
    switch (operation) {
    case QNetworkAccessManager::GetOperation:
        reply = m_network->get(request);
        break;
    case QNetworkAccessManager::PutOperation:
        reply = m_network->put(request, body);
        break;
    case QNetworkAccessManager::PostOperation:
        reply = m_network->post(request, body);
        break;
    case QNetworkAccessManager::DeleteOperation:
        reply = m_network->deleteResource(request);
        break;
    default:
        return reqId;
    }
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, kind, reqId] { handleReply(reply, kind, reqId); });
    return reqId;
}

void HttpManager::handleReply(QNetworkReply *reply, int kind, const QString &reqId)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qInfo() << reply->url() << " json parse fail";
        // Without an HTTP status the service never answered: it is down or went away while the
        // request was open. Its answer will never come, so whoever waits for it has to be told.
        // An answer that is merely not JSON (a cancelled import's empty 204) is no such failure.
        // There is no time limit on top: a connection the service holds open means it is at
        // work, and importing a large folder takes minutes.
        const bool unanswered = reply->error() != QNetworkReply::NoError
            && !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        reply->deleteLater();
        if (unanswered)
            emit serviceUnreachable(reqId, kind);
        return;
    }
    QJsonObject object = document.object();
    if (object.value(QLatin1String("code")).toInt() != 0)
        qInfo() << object.value(QLatin1String("msg")).toString() << ":" << reply->url();
    object.insert(QStringLiteral("_type"), kind);
    object.insert(QStringLiteral("_reqId"), reqId);
    emit replayBack(object);
    reply->deleteLater();
}

QString HttpManager::postFiles(const QJsonObject &body)
{
    return sendRequest(QNetworkAccessManager::PostOperation, QStringLiteral("/files"),
                       QJsonDocument(body).toJson(QJsonDocument::Compact), RequestKind::Import);
}

QString HttpManager::deleteFile(int id)
{
    return sendRequest(QNetworkAccessManager::DeleteOperation,
                       QStringLiteral("/files/") + QString::number(id), QByteArray(),
                       RequestKind::Remove);
}

QString HttpManager::listFiles(int id)
{
    return sendRequest(QNetworkAccessManager::GetOperation,
                       QStringLiteral("/files?id=") + QString::number(id), QByteArray(),
                       RequestKind::List);
}

QString HttpManager::putSettings(const QJsonObject &body)
{
    return sendRequest(QNetworkAccessManager::PutOperation, QStringLiteral("/settings/"),
                       QJsonDocument(body).toJson(QJsonDocument::Compact),
                       RequestKind::SetSettings);
}

QString HttpManager::getSettings()
{
    return sendRequest(QNetworkAccessManager::GetOperation, QStringLiteral("/settings/"),
                       QByteArray(), RequestKind::GetSettings);
}

QString HttpManager::getLanAddresses()
{
    return sendRequest(QNetworkAccessManager::GetOperation, QStringLiteral("/lan/addresses"),
                       QByteArray(), RequestKind::LanAddresses);
}

void HttpManager::cancelRequest(const QString &reqId)
{
    QNetworkRequest request;
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/json; charset=utf-8"));
    request.setUrl(
        QUrl(m_serviceBaseUrl + QStringLiteral("/requests/") + reqId, QUrl::TolerantMode));
    QNetworkReply *reply = m_network->deleteResource(request);
    connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
}

void HttpManager::reportEvent(const QString &eventId, const QJsonObject &extraData)
{
    QJsonObject event;
    event.insert(QStringLiteral("timestamp"), QDateTime::currentMSecsSinceEpoch());
    event.insert(QStringLiteral("defaultData"),
                 QJsonObject { { QStringLiteral("GUID"), m_machineGuid },
                               { QStringLiteral("tevaroVersion"), AppVersion } });
    event.insert(QStringLiteral("eventId"), eventId);
    event.insert(QStringLiteral("extraData"), extraData);
    QMutexLocker locker(&m_mutex);
    m_pendingEvents.append(event);
}

void HttpManager::flushEvents(bool async)
{
    // A second close request can arrive while the first waits here (Alt+F4 twice, or the close
    // icon and then Alt+F4). Its flush must not return before that upload has been answered: the
    // window would close at once and cut the upload off.
    if (!async)
        waitForUpload(m_blockingUpload);

    QJsonArray events;
    {
        QMutexLocker locker(&m_mutex);
        if (m_pendingEvents.isEmpty())
            return;
        for (const QJsonObject &event : qAsConst(m_pendingEvents))
            events.append(event);
        m_pendingEvents.clear();
    }

    // Qt's default TLS configuration stays in force: the cloud's certificate is verified.
    QNetworkRequest request(QUrl(m_cloudBaseUrl + QLatin1String(UploadPath)));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("application/json;charset=UTF-8"));
    request.setTransferTimeout(UploadTimeoutMs);
    QNetworkReply *reply
        = m_network->post(request, QJsonDocument(events).toJson(QJsonDocument::Compact));
    // Connected before any waiting loop's quit, so the answer has been handled by the time a
    // blocking flush returns.
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, events] { handleUploadReply(reply, events); });
    if (async)
        return;

    // Guarded: once answered, the reply may be gone by the time the wait returns, deleted by an
    // enclosing event loop.
    const QPointer<QNetworkReply> upload(reply);
    m_blockingUpload = upload;
    waitForUpload(upload);
    // The wait also ends when the application quits; the upload is then given up, and logged
    // as lost.
    if (upload && !upload->isFinished())
        upload->abort();
}

void HttpManager::waitForUpload(QNetworkReply *reply)
{
    if (!reply || reply->isFinished())
        return;
    QEventLoop loop;
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
}

void HttpManager::handleUploadReply(QNetworkReply *reply, const QJsonArray &events)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qCritical() << "error evnetid: " << events << " json parse fail";
    } else {
        const QJsonObject answer = document.object();
        if (answer.value(QLatin1String("errCode")).toInt() != 0)
            qCritical() << "report error: " << answer << ":" << events;
    }
    reply->deleteLater();
}

void HttpManager::timerEvent(QTimerEvent *)
{
    flushEvents(true);
}

QString HttpManager::serviceBaseUrl() const
{
    return m_serviceBaseUrl;
}

void HttpManager::setServiceBaseUrl(const QString &url)
{
    m_serviceBaseUrl = url;
}

QString HttpManager::cloudBaseUrl() const
{
    return m_cloudBaseUrl;
}

void HttpManager::setCloudBaseUrl(const QString &url)
{
    m_cloudBaseUrl = url;
}

QString HttpManager::machineGuid() const
{
    return m_machineGuid;
}

int HttpManager::pendingEventCount() const
{
    QMutexLocker locker(&m_mutex);
    return m_pendingEvents.size();
}
