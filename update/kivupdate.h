#pragma once

#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QNetworkReply;

// The updater the scenes talk to as "kivupdate". Once per run it asks the vendor cloud for the
// latest version; when that is newer, it downloads the installer into the download folder and
// only then offers the update (updateSignal). setup() starts the installer once.
class KIVUpdate : public QObject
{
    Q_OBJECT
public:
    // Asks the cloud at CloudBaseUrl at once.
    explicit KIVUpdate(QObject *parent = nullptr);
    // Asks the cloud at cloudBaseUrl (scheme and host, no trailing slash) at once.
    KIVUpdate(const QString &cloudBaseUrl, QObject *parent);

    Q_INVOKABLE bool setup();
    Q_INVOKABLE QString version() const;

    // Whether remote names a newer version than local: dotted numbers compared piece by piece
    // over the shorter count, which must be at least three.
    static bool isNewerVersion(const QString &local, const QString &remote);
    // File name under which the installer at url is saved.
    static QString installerFileName(const QString &url);
    // Folder into which installers are downloaded, with a trailing slash.
    static QString downloadDirectory();

signals:
    void updateSignal(const QString &note, bool isForce);
    void processStatus(float val);
    void downExeFinish();

private:
    void checkVersion();
    void onVersionReply(QNetworkReply *reply);
    void startDownload(const QString &path);
    void onDownloadFinished(QNetworkReply *reply, const QString &path);

    QNetworkAccessManager *m_network;
    QString m_cloudBaseUrl;
    QString m_url;
    QString m_note;
    QString m_downloadPath;
    bool m_forced = false;
    bool m_launched = false;
};
