#include "manager/kivmanager.h"

#include "app/constants.h"
#include "library/videolistmodel.h"
#include "net/firstinstallflag.h"
#include "net/httpmanager.h"
#include "net/requestkind.h"
#include "platform/platform.h"

#include <QDebug>
#include <QDesktopServices>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

namespace {

const QString EventPrefix = QStringLiteral("velnorAssistant_velnor_home_");

void report(const QString &event, const QJsonObject &extra = QJsonObject())
{
    HttpManager::instance()->reportEvent(EventPrefix + event, extra);
}

QJsonArray importFilters()
{
    QJsonArray filters;
    for (const QString &suffix : supportedSuffixes)
        filters.append(QLatin1Char('.') + suffix);
    return filters;
}

} // namespace

KIVManager::KIVManager(QObject *parent)
    : QObject(parent)
    , m_model(new VideoListModel(this))
{
    FolderNode root;
    root.pid = -1;
    m_folderMap.insert(0, root);
    QTimer::singleShot(300, this, &KIVManager::runStartupStep);
    report(QStringLiteral("0_0_page_view"));
    connect(HttpManager::instance(), &HttpManager::replayBack, this, &KIVManager::onReplayBack);
    connect(HttpManager::instance(), &HttpManager::serviceUnreachable, this,
            &KIVManager::onServiceUnreachable);
    connect(m_model, &VideoListModel::sortReported, HttpManager::instance(),
            &HttpManager::reportEvent);
}

void KIVManager::runStartupStep()
{
    loadFolder(0);
    HttpManager::instance()->getSettings();
    FirstInstallFlag &flag = firstInstallFlag();
    if (flag.isFirstInstall()) {
        emit showWelcomePage();
        flag.setFirstInstall(false);
    }
}

FolderNode &KIVManager::folderNodeOf(int id)
{
    // Reading an unknown id inserts a default node, so that walking up from it reaches the root.
    return m_folderMap[id];
}

QStringList KIVManager::curPathList() const
{
    QStringList labels;
    const QStringList segments
        = m_curPath.split(QLatin1Char('/'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    for (const QString &segment : segments)
        labels << (segment.isEmpty() ? QObject::tr("首页") : segment);
    labels.last() = QStringLiteral("<font color=\"#99FFFFFF\">%1</font>").arg(labels.last());
    return labels;
}

QVariant KIVManager::fileList() const
{
    return QVariant::fromValue(m_model);
}

void KIVManager::loadFolder(int id)
{
    m_listingReqId = HttpManager::instance()->listFiles(id);
    if (id == m_curId)
        return;
    m_curId = id;
    m_curPath = folderNodeOf(id).path;
    emit curPathChange();
}

void KIVManager::setShowGridView(bool isShowGridView)
{
    m_showGridView = isShowGridView;
    emit showGridViewChange();
    report(QStringLiteral("sort_chooseView_pit_switch"),
           { { QStringLiteral("switchResult"),
               isShowGridView ? QStringLiteral("Dashboard") : QStringLiteral("Table") } });
}

void KIVManager::setSortType(int orderType, int sortType)
{
    m_model->sortEntries(orderType, sortType);
}

void KIVManager::setFile(int index)
{
    const int count
        = m_curPath.split(QLatin1Char('/'), Qt::KeepEmptyParts, Qt::CaseSensitive).size();
    const int steps = count - index - 1;
    if (steps == 0)
        return;
    if (steps < 0) {
        loadFolder(m_curId);
        return;
    }
    int id = m_curId;
    for (int i = 0; i < steps; ++i)
        id = folderNodeOf(id).pid;
    loadFolder(id);
}

QString KIVManager::postImport(const QString &path, int pid)
{
    const QJsonObject body { { QStringLiteral("path"), path },
                             { QStringLiteral("filters"), importFilters() },
                             { QStringLiteral("depth"), 1 },
                             { QStringLiteral("pid"), pid } };
    return HttpManager::instance()->postFiles(body);
}

void KIVManager::addFile(QString filePath)
{
    if (filePath.isEmpty()) {
        emit showToast(QObject::tr("文件信息异常！"));
        return;
    }
    const QString path = platform::localPathOfItem(filePath);
    if (QFileInfo(path).isDir()) {
        m_lastImportWasFolder = true;
        if (m_curId != 0) {
            m_curId = 0;
            m_curPath = folderNodeOf(0).path;
            emit curPathChange();
        }
        const QString reqId = postImport(path, 0);
        emit showWaitPage(reqId);
        m_pendingSelectPath = path;
        return;
    }
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString suffix = dot < 0 ? QString() : name.mid(dot + 1).toLower();
    if (suffix.isEmpty() || !supportedSuffixes.contains(suffix)) {
        emit showToast(QObject::tr("不支持的文件格式：") + suffix);
        return;
    }
    m_pendingSelectPath = path;
    m_lastImportWasFolder = false;
    postImport(path, m_curId);
}

void KIVManager::importFileReport(bool folder, bool menu)
{
    const bool wasFolder = menu ? folder : m_lastImportWasFolder;
    report(wasFolder ? QStringLiteral("import_importFolder_pit_click")
                     : QStringLiteral("import_importFile_pit_click"),
           { { QStringLiteral("importType"),
               menu ? QStringLiteral("menuClick") : QStringLiteral("panelDrag") } });
}

void KIVManager::refresh()
{
    if (m_curId == 0) {
        loadFolder(0);
    } else {
        const QString reqId = postImport(folderNodeOf(m_curId).realPath, 0);
        emit showWaitPage(reqId);
    }
    report(QStringLiteral("fileList_refresh_pit_click"));
}

QString KIVManager::defaultPath()
{
    // A URL built from the local path: "file:///" glued to "/home/..." would name a host.
    const QString movies = QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
    return QUrl::fromLocalFile(movies).toString();
}

void KIVManager::fileAction(int index, int id, QString filePath)
{
    switch (index) {
    case 0:
        if (QFileInfo(filePath).isDir()) {
            if (!m_folderMap.contains(id))
                m_folderMap.insert(id, m_model->folderNode(id));
            loadFolder(id);
        } else {
            QDesktopServices::openUrl(QUrl::fromLocalFile(filePath));
        }
        report(QStringLiteral("rightClickMenu_open_pit_click"));
        break;
    case 1:
        HttpManager::instance()->deleteFile(id);
        report(QStringLiteral("rightClickMenu_remove_pit_click"));
        break;
    default:
        platform::showInFileManager(filePath);
        report(QStringLiteral("rightClickMenu_sourceFile_pit_click"));
        break;
    }
}

void KIVManager::setPersonalName(QString name)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty()) {
        emit showToast(QObject::tr("设置用户名失败！无效的命名"));
        return;
    }
    HttpManager::instance()->putSettings({ { QStringLiteral("deviceName"), trimmed } });
}

void KIVManager::cacelAction(QString uuid)
{
    HttpManager::instance()->cancelRequest(uuid);
}

bool KIVManager::isEnglish()
{
    return QLocale().language() == QLocale::English;
}

void KIVManager::closeApp()
{
    HttpManager::instance()->flushEvents(false);
}

void KIVManager::loadLanAddress()
{
    HttpManager::instance()->getLanAddresses();
}

void KIVManager::onReplayBack(QJsonObject &reply)
{
    switch (reply.value(QStringLiteral("_type")).toInt()) {
    case RequestKind::Import:
        handleImportReply(reply);
        break;
    case RequestKind::Remove:
        loadFolder(m_curId);
        break;
    case RequestKind::List:
        handleListingReply(reply);
        break;
    case RequestKind::SetSettings:
        handleSettingsReply(reply, QObject::tr("设置用户名失败！"));
        break;
    case RequestKind::GetSettings:
        handleSettingsReply(reply, QObject::tr("获取用户名失败！"));
        break;
    case RequestKind::LanAddresses:
        handleLanReply(reply);
        break;
    default:
        break;
    }
}

void KIVManager::onServiceUnreachable(const QString &reqId, int kind)
{
    // Only an import has someone waiting for its answer. The other requests are repeated by the
    // next action, and the start-up listing may well go out before the service listens.
    if (kind != RequestKind::Import)
        return;
    emit closeWaitPage(reqId);
    emit showToast(QObject::tr("媒体服务未运行，正在重新启动，请稍后再试"));
}

void KIVManager::selectPendingPath()
{
    m_model->selectByRealPath(m_pendingSelectPath);
    m_pendingSelectPath.clear();
}

void KIVManager::handleImportReply(const QJsonObject &reply)
{
    const int code = reply.value(QStringLiteral("code")).toInt();
    if (code == 0) {
        const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
        if (data.value(QStringLiteral("type")).toString() == QLatin1String("directory")) {
            const int failures = data.value(QStringLiteral("failureCount")).toInt();
            const int successes = data.value(QStringLiteral("successCount")).toInt();
            const QString text = failures == 0
                ? QObject::tr("导入成功%1个文件").arg(successes)
                : QObject::tr("导入成功%1个文件，导入失败%2个").arg(successes).arg(failures);
            emit showIportResPage(text);
            loadFolder(m_curId);
        } else {
            loadFolder(data.value(QStringLiteral("pid")).toInt());
        }
    } else if (code == -2) {
        const int pid
            = reply.value(QStringLiteral("data")).toObject().value(QStringLiteral("pid")).toInt();
        if (pid != m_curId)
            loadFolder(pid);
        else if (!m_pendingSelectPath.isEmpty())
            selectPendingPath();
    } else {
        emit showIportResPage(QObject::tr("导入失败: ")
                              + reply.value(QStringLiteral("msg")).toString());
    }
    qInfo() << reply;
}

void KIVManager::handleListingReply(const QJsonObject &reply)
{
    // Only the answer to the newest listing request reaches the model: a folder that is slow to
    // list must not replace the view of the folder the user has moved to since. A reply that
    // names no request cannot be told apart and is applied.
    const QJsonValue reqId = reply.value(QStringLiteral("_reqId"));
    if (!reqId.isUndefined() && reqId.toString() != m_listingReqId)
        return;
    if (reply.value(QStringLiteral("code")).toInt() != 0)
        return;
    const QJsonArray entries = reply.value(QStringLiteral("data")).toArray();
    const bool noneData = m_curId == 0 && entries.isEmpty();
    if (noneData != m_hasNoneData) {
        m_hasNoneData = noneData;
        emit hasNoneDataChange();
    }
    m_model->loadEntries(entries);
    if (!m_pendingSelectPath.isEmpty())
        selectPendingPath();
}

void KIVManager::handleSettingsReply(const QJsonObject &reply, const QString &failureText)
{
    if (reply.value(QStringLiteral("code")).toInt() != 0) {
        emit showToast(failureText);
        return;
    }
    m_userName = reply.value(QStringLiteral("data"))
                     .toObject()
                     .value(QStringLiteral("deviceName"))
                     .toString();
    emit userNameChange();
}

void KIVManager::handleLanReply(const QJsonObject &reply)
{
    // The service lists the likeliest address first. A failed reply leaves what was shown.
    if (reply.value(QStringLiteral("code")).toInt() != 0)
        return;
    const QJsonObject data = reply.value(QStringLiteral("data")).toObject();
    const int port = data.value(QStringLiteral("port")).toInt();
    const QString address = data.value(QStringLiteral("addresses")).toArray().first().toString();
    const QString shown = port > 0 && !address.isEmpty()
        ? QStringLiteral("http://%1:%2").arg(address).arg(port)
        : QString();
    if (shown == m_lanAddress)
        return;
    m_lanAddress = shown;
    emit lanAddressChange();
}
