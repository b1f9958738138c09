#pragma once

#include <QAbstractListModel>
#include <QVariantList>

// Stands in for the manager's list model: the same role names and the selectIndex signal, with
// rows a test hands over as plain objects.
class ListModelDouble : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    Q_INVOKABLE void setRows(const QVariantList &rows);

signals:
    void selectIndex(int index);

private:
    QVariantList m_rows;
};
