#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QNetworkAccessManager>
#include <QPair>
#include <QProcess>
#include <QString>
#include <QStringList>

// One reply of the service as a test sees it.
struct ServiceReply
{
    int status = 0; // HTTP status; 0 when there was no answer
    QByteArray body;
    QByteArray contentType;
    QJsonObject json; // empty when the body is not a JSON object
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray header(const QByteArray &name) const;
    int code() const { return json.value(QStringLiteral("code")).toInt(-999); }
    QJsonValue data() const { return json.value(QStringLiteral("data")); }
    QString msg() const { return json.value(QStringLiteral("msg")).toString(); }
};

// The real KivVelnorService binary, started on a free loopback port.
class ServiceProcess
{
public:
    ServiceProcess();
    ~ServiceProcess();

    // With "--lan-port" among extraArgs the headset API is opened too (else --no-lan).
    bool start(const QString &dataDir, const QStringList &extraArgs = {});
    // SIGTERM, then waits; returns the milliseconds it took, or -1 when it did not end.
    int terminate(int timeoutMs = 5000);
    void kill();
    QProcess &process() { return m_process; }

    int port() const { return m_port; }
    int lanPort() const { return m_lanPort; }
    QString url(const QString &path) const;
    QString lanUrl(const QString &path) const;

    ServiceReply get(const QString &path, int timeoutMs = 30000);
    ServiceReply del(const QString &path, int timeoutMs = 30000);
    ServiceReply post(const QString &path, const QByteArray &body, int timeoutMs = 30000);
    ServiceReply put(const QString &path, const QByteArray &body, int timeoutMs = 30000);
    // path is a path on the control port or a whole URL.
    ServiceReply send(const QByteArray &verb, const QString &path, const QByteArray &body,
                      int timeoutMs, const QList<QPair<QByteArray, QByteArray>> &headers = {});

    // Import of a folder or file as the assistant sends it.
    ServiceReply importPath(const QString &path, qint64 pid = 0, const QString &reqId = {});
    // The listing of a folder; fails the calling test when it is not a success.
    QJsonArray list(qint64 id);

private:
    QProcess m_process;
    QNetworkAccessManager m_network;
    int m_port = -1;
    int m_lanPort = -1;
};

QByteArray importBody(const QString &path, qint64 pid = 0);
// The element named name in a listing; an empty object when there is none.
QJsonObject entryNamed(const QJsonArray &listing, const QString &name);
