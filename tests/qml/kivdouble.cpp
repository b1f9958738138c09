#include "kivdouble.h"

void KivDouble::setCurPathList(const QStringList &list)
{
    if (m_curPathList == list)
        return;
    m_curPathList = list;
    emit curPathChange();
}

void KivDouble::setHasNoneData(bool value)
{
    if (m_hasNoneData == value)
        return;
    m_hasNoneData = value;
    emit hasNoneDataChange();
}

void KivDouble::setUserName(const QString &name)
{
    if (m_userName == name)
        return;
    m_userName = name;
    emit userNameChange();
}

void KivDouble::setLanAddress(const QString &address)
{
    if (m_lanAddress == address)
        return;
    m_lanAddress = address;
    emit lanAddressChange();
}

void KivDouble::loadLanAddress()
{
    m_log.record(QStringLiteral("loadLanAddress"));
}

void KivDouble::setShowGridView(bool isShowGridView)
{
    m_log.record(QStringLiteral("setShowGridView"), { isShowGridView });
    m_showGridView = isShowGridView;
    emit showGridViewChange();
}

void KivDouble::setSortType(int orderType, int sortType)
{
    m_log.record(QStringLiteral("setSortType"), { orderType, sortType });
}

void KivDouble::setFile(int index)
{
    m_log.record(QStringLiteral("setFile"), { index });
}

void KivDouble::addFile(const QString &filePath)
{
    m_log.record(QStringLiteral("addFile"), { filePath });
}

void KivDouble::refresh()
{
    m_log.record(QStringLiteral("refresh"));
}

QString KivDouble::defaultPath()
{
    return QStringLiteral("file:///tmp");
}

void KivDouble::fileAction(int index, int id, const QString &filePath)
{
    m_log.record(QStringLiteral("fileAction"), { index, id, filePath });
}

void KivDouble::setPersonalName(const QString &name)
{
    m_log.record(QStringLiteral("setPersonalName"), { name });
}

void KivDouble::cacelAction(const QString &uuid)
{
    m_log.record(QStringLiteral("cacelAction"), { uuid });
}

bool KivDouble::isEnglish()
{
    return m_english;
}

void KivDouble::importFileReport(bool folder, bool menu)
{
    m_log.record(QStringLiteral("importFileReport"), { folder, menu });
}

void KivDouble::closeApp()
{
    m_log.record(QStringLiteral("closeApp"));
}

void KivDouble::reset(const QVariantList &rows)
{
    m_log.clear();
    m_english = false;
    m_showGridView = true;
    emit showGridViewChange();
    setUserName(QString());
    setLanAddress(QString());
    setCurPathList({ QStringLiteral("<font color=\"#99FFFFFF\">首页</font>") });
    m_model->setRows(rows);
    setHasNoneData(rows.isEmpty());
}
