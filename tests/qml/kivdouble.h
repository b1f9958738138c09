#pragma once

#include "app/constants.h"
#include "calllog.h"
#include "listmodeldouble.h"

#include <QObject>
#include <QStringList>

// Stands in for the manager the scenes know as "kiv": the same properties, invokable methods and
// signals. Calls are recorded, not carried out, except that the view choice and the device name
// take effect so the scenes can be seen to follow them.
class KivDouble : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList curPathList READ curPathList WRITE setCurPathList NOTIFY curPathChange)
    Q_PROPERTY(QVariant fileList READ fileList NOTIFY fileListChange)
    Q_PROPERTY(bool showGridView READ showGridView NOTIFY showGridViewChange)
    Q_PROPERTY(bool hasNoneData READ hasNoneData WRITE setHasNoneData NOTIFY hasNoneDataChange)
    Q_PROPERTY(QString userName READ userName WRITE setUserName NOTIFY userNameChange)
    Q_PROPERTY(QString lanAddress READ lanAddress WRITE setLanAddress NOTIFY lanAddressChange)
    Q_PROPERTY(QString videoNameFilter READ videoNameFilter CONSTANT)
    // Test controls, not part of the manager.
    Q_PROPERTY(QStringList calls READ calls)
    Q_PROPERTY(bool english MEMBER m_english)

public:
    using QObject::QObject;

    QStringList curPathList() const { return m_curPathList; }
    void setCurPathList(const QStringList &list);
    QVariant fileList() const { return QVariant::fromValue<QObject *>(m_model); }
    bool showGridView() const { return m_showGridView; }
    bool hasNoneData() const { return m_hasNoneData; }
    void setHasNoneData(bool value);
    QString userName() const { return m_userName; }
    void setUserName(const QString &name);
    QString lanAddress() const { return m_lanAddress; }
    void setLanAddress(const QString &address);
    QStringList calls() const { return m_log.calls(); }
    QString videoNameFilter() const { return ::videoNameFilter(); }

    Q_INVOKABLE void setShowGridView(bool isShowGridView);
    Q_INVOKABLE void setSortType(int orderType, int sortType);
    Q_INVOKABLE void setFile(int index);
    Q_INVOKABLE void addFile(const QString &filePath);
    Q_INVOKABLE void refresh();
    Q_INVOKABLE QString defaultPath();
    Q_INVOKABLE void fileAction(int index, int id, const QString &filePath);
    Q_INVOKABLE void setPersonalName(const QString &name);
    Q_INVOKABLE void cacelAction(const QString &uuid);
    Q_INVOKABLE bool isEnglish();
    Q_INVOKABLE void importFileReport(bool folder, bool menu);
    Q_INVOKABLE void closeApp();
    Q_INVOKABLE void loadLanAddress();

    // Puts the double back to the manager's state at start, with the given rows in its model.
    Q_INVOKABLE void reset(const QVariantList &rows = {});
    Q_INVOKABLE void clearCalls() { m_log.clear(); }

signals:
    void showToast(const QString &tips);
    void closeExe();
    void curPathChange();
    void showWelcomePage();
    void fileListChange();
    void showGridViewChange();
    void hasNoneDataChange();
    void showWaitPage(const QString &uuid);
    void closeWaitPage(const QString &uuid);
    void showIportResPage(const QString &tips);
    void userNameChange();
    void lanAddressChange();

private:
    CallLog m_log;
    ListModelDouble *m_model = new ListModelDouble(this);
    QStringList m_curPathList;
    QString m_userName;
    QString m_lanAddress;
    bool m_showGridView = true;
    bool m_hasNoneData = true;
    bool m_english = false;
};
