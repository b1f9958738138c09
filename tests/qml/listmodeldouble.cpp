#include "listmodeldouble.h"

int ListModelDouble::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant ListModelDouble::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const QByteArray name = roleNames().value(role);
    if (name.isEmpty())
        return {};
    return m_rows.at(index.row()).toMap().value(QString::fromLatin1(name));
}

QHash<int, QByteArray> ListModelDouble::roleNames() const
{
    return {
        { Qt::UserRole, "id" },
        { Qt::UserRole + 1, "filename" },
        { Qt::UserRole + 2, "videoDefinition" },
        { Qt::UserRole + 3, "size" },
        { Qt::UserRole + 4, "duration" },
        { Qt::UserRole + 5, "filetype" },
        { Qt::UserRole + 6, "coverimage" },
        { Qt::UserRole + 7, "abspath" },
    };
}

void ListModelDouble::setRows(const QVariantList &rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}
