#include "serviceprocess.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QTest>
#include <QTimer>
#include <QUuid>

#include <csignal>

ServiceProcess::ServiceProcess()
{
    m_process.setProgram(QStringLiteral(SERVICE_BINARY));
    // The service's log goes to the test's output, where a failure can be read.
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

ServiceProcess::~ServiceProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool ServiceProcess::start(const QString &dataDir, const QStringList &extraArgs)
{
    m_port = -1;
    m_lanPort = -1;
    const bool lan = extraArgs.contains("--lan-port");
    m_process.setArguments(QStringList { "--port", "0", "--data-dir", dataDir }
                           + (lan ? QStringList() : QStringList { "--no-lan" }) + extraArgs);
    m_process.start();
    if (!m_process.waitForStarted(10000))
        return false;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        while (m_process.canReadLine()) {
            const QByteArray line = m_process.readLine().trimmed();
            if (line.startsWith("control-port "))
                m_port = line.mid(13).toInt();
            else if (line.startsWith("lan-port "))
                m_lanPort = line.mid(9).toInt();
        }
        if (m_port > 0 && (!lan || m_lanPort > 0))
            return true;
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForReadyRead(200);
    }
    return false;
}

int ServiceProcess::terminate(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(m_process.processId()), SIGTERM);
    if (!m_process.waitForFinished(timeoutMs))
        return -1;
    return int(timer.elapsed());
}

void ServiceProcess::kill()
{
    ::kill(pid_t(m_process.processId()), SIGKILL);
    m_process.waitForFinished(5000);
}

QString ServiceProcess::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_port).arg(path);
}

QString ServiceProcess::lanUrl(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1%2").arg(m_lanPort).arg(path);
}

QByteArray ServiceReply::header(const QByteArray &name) const
{
    for (const auto &pair : headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0)
            return pair.second;
    }
    return {};
}

ServiceReply ServiceProcess::send(const QByteArray &verb, const QString &path,
                                  const QByteArray &body, int timeoutMs,
                                  const QList<QPair<QByteArray, QByteArray>> &headers)
{
    QNetworkRequest request(QUrl(path.startsWith("http") ? path : url(path)));
    // What the assistant sends, the way it sends it: the same calls, the same header.
    request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json; charset=utf-8");
    for (const auto &header : headers)
        request.setRawHeader(header.first, header.second);
    QNetworkReply *reply;
    if (verb == "GET")
        reply = m_network.get(request);
    else if (verb == "HEAD")
        reply = m_network.head(request);
    else if (verb == "POST")
        reply = m_network.post(request, body);
    else if (verb == "PUT")
        reply = m_network.put(request, body);
    else if (verb == "DELETE" && body.isEmpty())
        reply = m_network.deleteResource(request);
    else
        reply = m_network.sendCustomRequest(request, verb, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished())
        loop.exec();
    ServiceReply result;
    if (reply->isFinished()) {
        result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        result.body = reply->readAll();
        result.contentType = reply->header(QNetworkRequest::ContentTypeHeader).toByteArray();
        result.json = QJsonDocument::fromJson(result.body).object();
        result.headers = reply->rawHeaderPairs();
    } else {
        reply->abort();
    }
    reply->deleteLater();
    return result;
}

ServiceReply ServiceProcess::get(const QString &path, int timeoutMs)
{
    return send("GET", path, {}, timeoutMs);
}

ServiceReply ServiceProcess::del(const QString &path, int timeoutMs)
{
    return send("DELETE", path, {}, timeoutMs);
}

ServiceReply ServiceProcess::post(const QString &path, const QByteArray &body, int timeoutMs)
{
    return send("POST", path, body, timeoutMs);
}

ServiceReply ServiceProcess::put(const QString &path, const QByteArray &body, int timeoutMs)
{
    return send("PUT", path, body, timeoutMs);
}

ServiceReply ServiceProcess::importPath(const QString &path, qint64 pid, const QString &reqId)
{
    const QString id = reqId.isEmpty() ? QUuid::createUuid().toString(QUuid::Id128) : reqId;
    return post(QStringLiteral("/files?reqId=") + id, importBody(path, pid));
}

QJsonArray ServiceProcess::list(qint64 id)
{
    const ServiceReply reply = get(QStringLiteral("/files?id=%1&reqId=x").arg(id));
    if (reply.code() != 0 || !reply.data().isArray()) {
        QTest::qFail(qPrintable("listing " + QString::number(id) + " failed: " + reply.body),
                     __FILE__, __LINE__);
        return {};
    }
    return reply.data().toArray();
}

QByteArray importBody(const QString &path, qint64 pid)
{
    QJsonArray filters;
    for (const char *suffix : { ".mkv", ".mp4", ".3gp", ".avi", ".flv", ".m4v", ".mov", ".mpeg",
                                ".mpg", ".webm", ".wmv" })
        filters.append(QString::fromLatin1(suffix));
    return QJsonDocument(
               QJsonObject {
                   { "path", path }, { "filters", filters }, { "depth", 1 }, { "pid", pid } })
        .toJson(QJsonDocument::Compact);
}

QJsonObject entryNamed(const QJsonArray &listing, const QString &name)
{
    for (const QJsonValue &value : listing) {
        if (value.toObject().value(QStringLiteral("name")).toString() == name)
            return value.toObject();
    }
    return {};
}
