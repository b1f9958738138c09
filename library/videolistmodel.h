#pragma once

#include "library/foldernode.h"
#include "library/listingrows.h"

#include <QAbstractListModel>

class QJsonArray;
class QJsonObject;

// The entries of the folder on show, in the user's order, with the display texts the grid and
// list delegates bind to by role name.
class VideoListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        IdRole = Qt::UserRole,
        FileNameRole,
        DefinitionRole,
        SizeRole,
        DurationRole,
        FileTypeRole,
        CoverImageRole,
        AbsPathRole,
    };

    explicit VideoListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    // Replaces every entry by the parsed listing, in the stored order; one reset.
    void loadEntries(const QJsonArray &listing);
    // Stores the sort codes, reports each one that changed as a usage event (sortReported), and
    // re-sorts.
    void sortEntries(int orderType, int sortType);

    int orderType() const { return m_orderType; }
    int sortType() const { return m_sortType; }

    // The node of the first entry with this id; an empty node (and a log line) when none has it.
    FolderNode folderNode(int id) const;
    // Asks the views to highlight the first entry whose PC path is exactly path.
    void selectByRealPath(const QString &path);

signals:
    void selectIndex(int index);
    // A usage event for the owner to send on: the model itself knows no client.
    void sortReported(const QString &eventId, const QJsonObject &extraData);

private:
    ListingRows m_rows;
    int m_orderType = 0;
    int m_sortType = 0;
};
