#pragma once

#include "app/constants.h"
#include "library/foldernode.h"

#include <QJsonObject>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QVariant>

class VideoListModel;

// The controller the scenes talk to as "kiv": the shown folder and its breadcrumbs, view and
// sort settings, imports, file actions and the device name. Every service answer takes effect
// in onReplayBack.
class KIVManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList curPathList READ curPathList NOTIFY curPathChange)
    Q_PROPERTY(QVariant fileList READ fileList NOTIFY fileListChange)
    Q_PROPERTY(bool showGridView READ showGridView NOTIFY showGridViewChange)
    Q_PROPERTY(bool hasNoneData READ hasNoneData NOTIFY hasNoneDataChange)
    Q_PROPERTY(QString userName READ userName NOTIFY userNameChange)
    // "http://<the PC's LAN address>:<headset port>", what a person types into DeoVR or
    // HereSphere before "/deovr" or "/heresphere"; empty while the service names none.
    Q_PROPERTY(QString lanAddress READ lanAddress NOTIFY lanAddressChange)
    // The import file dialog's filter, made from the accepted suffixes.
    Q_PROPERTY(QString videoNameFilter READ videoNameFilter CONSTANT)

public:
    explicit KIVManager(QObject *parent = nullptr);

    QStringList curPathList() const;
    QVariant fileList() const;
    bool showGridView() const { return m_showGridView; }
    bool hasNoneData() const { return m_hasNoneData; }
    QString userName() const { return m_userName; }
    QString lanAddress() const { return m_lanAddress; }
    QString videoNameFilter() const { return ::videoNameFilter(); }

    Q_INVOKABLE void setShowGridView(bool isShowGridView);
    Q_INVOKABLE void setSortType(int orderType, int sortType);
    Q_INVOKABLE void setFile(int index);
    Q_INVOKABLE void addFile(QString filePath);
    Q_INVOKABLE void refresh();
    Q_INVOKABLE QString defaultPath();
    Q_INVOKABLE void fileAction(int index, int id, QString filePath);
    Q_INVOKABLE void setPersonalName(QString name);
    Q_INVOKABLE void cacelAction(QString uuid);
    Q_INVOKABLE bool isEnglish();
    Q_INVOKABLE void importFileReport(bool folder, bool menu);
    Q_INVOKABLE void closeApp();
    // Asks the service where players reach this PC; addresses change, so asked when shown.
    Q_INVOKABLE void loadLanAddress();

    // Requests the listing of folder id and makes it the current folder.
    void loadFolder(int id);

    // Read-only views of the navigation state, for tests and diagnostics.
    int curId() const { return m_curId; }
    QString curPath() const { return m_curPath; }
    QString pendingSelectPath() const { return m_pendingSelectPath; }
    bool lastImportWasFolder() const { return m_lastImportWasFolder; }
    VideoListModel *model() const { return m_model; }

signals:
    void showToast(QString tips);
    void closeExe();
    void curPathChange();
    void showWelcomePage();
    void fileListChange();
    void showGridViewChange();
    void hasNoneDataChange();
    void showWaitPage(QString uuid);
    // The request that the wait page named uuid stands for will never be answered.
    void closeWaitPage(QString uuid);
    void showIportResPage(QString tips);
    void userNameChange();
    void lanAddressChange();

public slots:
    void onReplayBack(QJsonObject &reply);
    void onServiceUnreachable(const QString &reqId, int kind);

private:
    void runStartupStep();
    FolderNode &folderNodeOf(int id);
    QString postImport(const QString &path, int pid);
    void handleImportReply(const QJsonObject &reply);
    void handleListingReply(const QJsonObject &reply);
    void handleSettingsReply(const QJsonObject &reply, const QString &failureText);
    void handleLanReply(const QJsonObject &reply);
    void selectPendingPath();

    QString m_curPath;
    QString m_userName;
    QString m_lanAddress;
    qint32 m_curId = 0;
    VideoListModel *m_model = nullptr;
    bool m_showGridView = true;
    bool m_hasNoneData = true;
    QMap<int, FolderNode> m_folderMap;
    QString m_pendingSelectPath;
    bool m_lastImportWasFolder = false;
    // reqId of the newest listing request; replies that name another request are stale.
    QString m_listingReqId;
};
