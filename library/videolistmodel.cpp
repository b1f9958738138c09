#include "library/videolistmodel.h"

#include "library/entrytext.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonObject>

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
    return m_rows.size();
}

QVariant VideoListModel::data(const QModelIndex &index, int role) const
{
    // Checked by hand rather than with checkIndex, which writes a warning for every miss and
    // the views ask for rows that went away during a reset.
    if (!index.isValid() || index.row() < 0 || index.row() >= m_rows.size())
        return {};
    const MediaEntry &entry = m_rows.at(index.row());
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
    m_rows.load(listing, m_orderType, m_sortType);
    endResetModel();
}

void VideoListModel::sortEntries(int orderType, int sortType)
{
    if (orderType != m_orderType) {
        m_orderType = orderType;
        const QString label = orderType == 0 ? QStringLiteral("Name")
            : orderType == 1                 ? QStringLiteral("Date")
                                             : QStringLiteral("Size");
        emit sortReported(QStringLiteral("velnorAssistant_velnor_home_sort_sortBy_pit_switch"),
                          QJsonObject { { QStringLiteral("switchResult"), label } });
    }
    if (sortType != m_sortType) {
        m_sortType = sortType;
        emit sortReported(
            QStringLiteral("velnorAssistant_velnor_home_sort_sortType_pit_switch"),
            QJsonObject { { QStringLiteral("switchResult"),
                            sortType != 0 ? QStringLiteral("ASC") : QStringLiteral("DES") } });
    }
    beginResetModel();
    m_rows.sort(m_orderType, m_sortType);
    endResetModel();
}

FolderNode VideoListModel::folderNode(int id) const
{
    for (int row = 0; row < m_rows.size(); ++row) {
        const MediaEntry &entry = m_rows.at(row);
        if (entry.id == id)
            return FolderNode { entry.id, entry.pid, entry.path, entry.realPath };
    }
    qInfo() << "floder can't find" << id;
    return FolderNode();
}

void VideoListModel::selectByRealPath(const QString &path)
{
    for (int row = 0; row < m_rows.size(); ++row) {
        if (m_rows.at(row).realPath == path) {
            emit selectIndex(row);
            return;
        }
    }
}
