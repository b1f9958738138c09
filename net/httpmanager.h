#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The one client of the local media service, and the queue of usage events that goes to the
// vendor cloud. One instance per process, created on first use and destroyed when the
// application object goes away.
class HttpManager : public QObject
{
    Q_OBJECT

public:
    static HttpManager *instance();

    // Sends one request to the media service and returns its fresh reqId at once. The parsed
    // reply arrives through replayBack with "_type" set to kind and "_reqId" to the reqId.
    // operation is a QNetworkAccessManager::Operation code; for anything but GET, PUT, POST and
    // DELETE nothing is sent.
    QString sendRequest(int operation, const QString &path, const QByteArray &body, int kind);

    QString postFiles(const QJsonObject &body);
    QString deleteFile(int id);
    QString listFiles(int id);
    QString putSettings(const QJsonObject &body);
    QString getSettings();
    // The headset API's port and the PC's LAN addresses, where a headset's player reaches it.
    QString getLanAddresses();
    // Asks the service to stop the import that carries reqId; the reply is not read.
    void cancelRequest(const QString &reqId);

    // Queues one usage event; never touches the network.
    void reportEvent(const QString &eventId, const QJsonObject &extraData);
    // Uploads every queued event in one request. With async false it returns only after the
    // reply has been handled, or the upload time-out has passed; a blocking flush that starts
    // while another one waits also waits for that one's upload.
    void flushEvents(bool async);

    QString serviceBaseUrl() const;
    void setServiceBaseUrl(const QString &url);
    QString cloudBaseUrl() const;
    void setCloudBaseUrl(const QString &url);

    QString machineGuid() const;
    int pendingEventCount() const;

signals:
    void replayBack(QJsonObject &val);
    // A request that got no HTTP answer at all: the connection was refused, reset or closed
    // before the service said anything. replayBack does not follow for it.
    void serviceUnreachable(const QString &reqId, int kind);

protected:
    void timerEvent(QTimerEvent *event) override;

private:
    explicit HttpManager(QObject *parent = nullptr);
    ~HttpManager() override;
    static void destroyInstance();

    void handleReply(QNetworkReply *reply, int kind, const QString &reqId);
    void handleUploadReply(QNetworkReply *reply, const QJsonArray &events);
    static void waitForUpload(QNetworkReply *reply);

    QNetworkAccessManager *m_network = nullptr;
    mutable QMutex m_mutex;
    QList<QJsonObject> m_pendingEvents;
    QPointer<QNetworkReply> m_blockingUpload;
    QString m_machineGuid;
    QString m_serviceBaseUrl;
    QString m_cloudBaseUrl;
};
