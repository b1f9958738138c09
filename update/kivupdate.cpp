#include "update/kivupdate.h"

#include "app/constants.h"
#include "platform/platform.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>
#include <QStandardPaths>
#include <QUrl>
#include <QtDebug>

#include <cstdio>

namespace {

const QString versionPath = QStringLiteral("/tolvane/appstore/getVelnorVerInfo");
const QString fallbackInstallerName = QStringLiteral("kivhelep.exe");

// The default TLS configuration (certificate verification on) is kept on purpose: the
// download is a program that the user is then asked to run.
QNetworkRequest cloudRequest(const QUrl &url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    return request;
}

bool isRedirect(int status)
{
    switch (status) {
    case 301:
    case 302:
    case 303:
    case 305:
    case 307:
    case 308:
        return true;
    default:
        return false;
    }
}

} // namespace

KIVUpdate::KIVUpdate(QObject *parent)
    : KIVUpdate(CloudBaseUrl, parent)
{
}

KIVUpdate::KIVUpdate(const QString &cloudBaseUrl, QObject *parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
    , m_cloudBaseUrl(cloudBaseUrl)
{
    checkVersion();
}

QString KIVUpdate::version() const
{
    return QObject::tr("版本：") + AppVersion;
}

bool KIVUpdate::isNewerVersion(const QString &local, const QString &remote)
{
    const QStringList localPieces = local.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    const QStringList remotePieces = remote.split(QLatin1Char('.'), Qt::KeepEmptyParts);
    const int count = qMin(localPieces.size(), remotePieces.size());
    if (count < 3)
        return false;
    qInfo() << localPieces << " : " << remotePieces;
    for (int i = 0; i < count; ++i) {
        const int mine = localPieces.at(i).toInt(nullptr, 10);
        const int theirs = remotePieces.at(i).toInt(nullptr, 10);
        if (mine < theirs)
            return true;
        if (mine > theirs)
            return false;
    }
    return false;
}

QString KIVUpdate::installerFileName(const QString &url)
{
    const QString path = QUrl(url, QUrl::TolerantMode).path(QUrl::FullyDecoded);
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    // "." and ".." would name the download folder or its parent, not a file in it.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return fallbackInstallerName;
    return name;
}

QString KIVUpdate::downloadDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
        + QStringLiteral("/download/");
}

void KIVUpdate::checkVersion()
{
    QNetworkRequest request = cloudRequest(QUrl(m_cloudBaseUrl + versionPath));
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("text/plain;charset=UTF-8"));
    QNetworkReply *reply = m_network->post(request, QByteArrayLiteral("{}"));
    // Parsed only when complete: a reply that arrives in several packets is still whole.
    connect(reply, &QNetworkReply::finished, this, [this, reply] { onVersionReply(reply); });
}

void KIVUpdate::onVersionReply(QNetworkReply *reply)
{
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return;

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qInfo() << "json parseError";
        return;
    }
    const QJsonObject root = document.object();
    if (!root.contains(QLatin1String("errCode"))
        || root.value(QLatin1String("errCode")).toInt() != 0) {
        qInfo() << "KIVUpdate:" << root;
        return;
    }
    if (!root.contains(QLatin1String("data")))
        return;

    const QJsonObject data = root.value(QLatin1String("data")).toObject();
    if (!isNewerVersion(AppVersion, data.value(QLatin1String("version")).toString()))
        return;

    qInfo() << "start update";
    m_forced = data.value(QLatin1String("forced")).toInt() == 1;
    m_note = data.value(QLatin1String("note")).toString();
    m_note.replace(QLatin1String("/n"), QLatin1String("<br>"));
    m_url = data.value(QLatin1String("url")).toString();
    const QString directory = downloadDirectory();
    m_downloadPath = directory + installerFileName(m_url);

    // A file here was put by an earlier run, and only ever renamed into place once complete.
    if (QFileInfo(m_downloadPath).isFile()) {
        emit updateSignal(m_note, m_forced);
        return;
    }
    QDir().mkpath(directory);
    startDownload(m_downloadPath);
}

void KIVUpdate::startDownload(const QString &path)
{
    QNetworkReply *reply = m_network->get(cloudRequest(QUrl(m_url, QUrl::TolerantMode)));
    connect(reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64 total) {
        // A total of -1 means the size is unknown; there is no fraction to report.
        if (total > 0)
            emit processStatus(static_cast<float>(double(received) / double(total)));
    });
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, path] { onDownloadFinished(reply, path); });
}

void KIVUpdate::onDownloadFinished(QNetworkReply *reply, const QString &path)
{
    reply->deleteLater();
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (reply->error() != QNetworkReply::NoError) {
        qInfo("Download of %s failed: %s\n", reply->url().toEncoded().constData(),
              qPrintable(reply->errorString()));
    } else if (isRedirect(status)) {
        qInfo("Request was redirected.\n");
    } else {
        // Written beside the final name and renamed into place only when complete, so that an
        // interrupted write never leaves a broken installer that later runs take as ready.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly)) {
            std::fprintf(stderr, "Could not open %s for writing: %s\n",
                         QFile::encodeName(path).constData(),
                         file.errorString().toLocal8Bit().constData());
        } else {
            file.write(reply->readAll());
            if (file.commit())
                emit updateSignal(m_note, m_forced);
            else
                std::fprintf(stderr, "Could not write %s: %s\n",
                             QFile::encodeName(path).constData(),
                             file.errorString().toLocal8Bit().constData());
        }
    }
    emit downExeFinish();
}

bool KIVUpdate::setup()
{
    if (m_launched)
        return false;
    m_launched = true;
    if (!QFileInfo(m_downloadPath).isFile())
        return false;
    return platform::startInstaller(m_downloadPath);
}
