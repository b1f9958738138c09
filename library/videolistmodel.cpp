#include "library/videolistmodel.h"

#include "library/entrytext.h"
#include "library/listingparser.h"
#include "net/httpmanager.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>
#include <algorithm>

VideoListModel::VideoListModel(QObject *parent)
    : QAbstractListModel(parent)
{
}

int VideoListModel::rowCount(const QModelIndex &parent) const
{
    // Entries have no children; answering rows under an item would make tree-walking views and
    // model checkers recurse forever.
    if (parent.isValid())
        return 0;
    return int(m_entries.size());
}

QVariant VideoListModel::data(const QModelIndex &index, int role) const
{
    // Checked by hand rather than with checkIndex, which writes a warning for every miss and
    // the views ask for rows that went away during a reset.
    if (!index.isValid() || index.row() < 0 || index.row() >= int(m_entries.size()))
        return {};
    const MediaEntry &entry = m_entries[size_t(index.row())];
    switch (role) {
    case IdRole:
        return entry.id;
    case FileNameRole:
        return entry.name;
    case DefinitionRole:
        return definitionLabel(entry.definition);
    case SizeRole:
        return sizeText(entry.size);
    case DurationRole:
        return durationText(entry.duration);
    case FileTypeRole:
        return entry.fileType;
    case CoverImageRole:
        return entry.coverImage;
    case AbsPathRole:
        return entry.realPath;
    }
    return {};
}

QHash<int, QByteArray> VideoListModel::roleNames() const
{
    return {
        { IdRole, QByteArrayLiteral("id") },
        { FileNameRole, QByteArrayLiteral("filename") },
        { DefinitionRole, QByteArrayLiteral("videoDefinition") },
        { SizeRole, QByteArrayLiteral("size") },
        { DurationRole, QByteArrayLiteral("duration") },
        { FileTypeRole, QByteArrayLiteral("filetype") },
        { CoverImageRole, QByteArrayLiteral("coverimage") },
        { AbsPathRole, QByteArrayLiteral("abspath") },
    };
}

void VideoListModel::loadEntries(const QJsonArray &listing)
{
    // The views read nothing between the two reset signals, so the listing is parsed straight
    // over the entries it replaces.
    beginResetModel();
    parseSortedListing(listing, m_orderType, m_sortType, m_entries);
    endResetModel();
}

void VideoListModel::sortEntries(int orderType, int sortType)
{
    if (orderType != m_orderType) {
        m_orderType = orderType;
        const QString label = orderType == 0 ? QStringLiteral("Name")
            : orderType == 1                 ? QStringLiteral("Date")
                                             : QStringLiteral("Size");
        HttpManager::instance()->reportEvent(
            QStringLiteral("velnorAssistant_velnor_home_sort_sortBy_pit_switch"),
            QJsonObject { { QStringLiteral("switchResult"), label } });
    }
    if (sortType != m_sortType) {
        m_sortType = sortType;
        HttpManager::instance()->reportEvent(
            QStringLiteral("velnorAssistant_velnor_home_sort_sortType_pit_switch"),
            QJsonObject { { QStringLiteral("switchResult"),
                            sortType != 0 ? QStringLiteral("ASC") : QStringLiteral("DES") } });
    }
    beginResetModel();
    sortInPlace();
    endResetModel();
}

void VideoListModel::sortInPlace()
{
    if (m_entries.size() < 2)
        return;
    const int orderType = m_orderType;
    const int sortType = m_sortType;
    std::sort(m_entries.begin(), m_entries.end(),
              [orderType, sortType](const MediaEntry &a, const MediaEntry &b) {
                  return mediaEntryLess(a, b, orderType, sortType);
              });
}

FolderNode VideoListModel::folderNode(int id) const
{
    for (const MediaEntry &entry : m_entries) {
        if (entry.id == id)
            return FolderNode { entry.id, entry.pid, entry.path, entry.realPath };
    }
    qInfo() << "floder can't find" << id;
    return FolderNode();
}

void VideoListModel::selectByRealPath(const QString &path)
{
    for (size_t row = 0; row < m_entries.size(); ++row) {
        if (m_entries[row].realPath == path) {
            emit selectIndex(int(row));
            return;
        }
    }
}
