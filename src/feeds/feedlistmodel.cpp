#include "feeds/feedlistmodel.h"

#include <algorithm>

FeedListModel::FeedListModel(QObject *parent)
    : QAbstractListModel(parent), m_icon(QStringLiteral(":/images/rss_32.png"))
{
}

int FeedListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_urls.size());
}

QVariant FeedListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_urls.size())
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return m_urls.at(index.row());
    case Qt::DecorationRole:
        return m_icon;
    default:
        return {};
    }
}

QVariant FeedListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section == 0 && role == Qt::DisplayRole)
        return QStringLiteral("RSS");
    return QAbstractListModel::headerData(section, orientation, role);
}

void FeedListModel::setUrls(const QStringList &urls)
{
    beginResetModel();
    m_urls = urls;
    endResetModel();
}

void FeedListModel::append(const QStringList &urls)
{
    if (urls.isEmpty())
        return;
    const int first = int(m_urls.size());
    beginInsertRows(QModelIndex(), first, first + int(urls.size()) - 1);
    m_urls += urls;
    endInsertRows();
}

void FeedListModel::removeRowsAt(QList<int> rows)
{
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    // Remove from the bottom up, one contiguous run at a time.
    int i = int(rows.size()) - 1;
    while (i >= 0) {
        int last = rows[i], first = last;
        while (i > 0 && rows[i - 1] == first - 1)
            first = rows[--i];
        --i;
        if (first < 0 || last >= m_urls.size())
            continue;
        beginRemoveRows(QModelIndex(), first, last);
        m_urls.remove(first, last - first + 1);
        endRemoveRows();
    }
}
