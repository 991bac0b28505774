#include "feeds/episodemodel.h"

EpisodeModel::EpisodeModel(QObject *parent)
    : QAbstractTableModel(parent), m_icon(QStringLiteral(":/images/audio32.png"))
{
}

int EpisodeModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int EpisodeModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant EpisodeModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const EpisodeRow &row = m_rows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case Title: return row.title;
        case Url: return row.url;
        case Date: return row.date;
        case Status: return row.status;
        default: return {};
        }
    }
    if (role == Qt::DecorationRole && index.column() == Title)
        return m_icon;
    return {};
}

QVariant EpisodeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case Title: return QStringLiteral("Title");
    case Url: return QStringLiteral("URL");
    case Date: return QStringLiteral("Date");
    case Status: return QStringLiteral("Status");
    default: return {};
    }
}

void EpisodeModel::setRows(EpisodeRows rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    ++m_generation;
    endResetModel();
}

void EpisodeModel::setStatus(int row, const QString &status)
{
    if (row < 0 || row >= m_rows.size())
        return;
    m_rows[row].status = status;
    const QModelIndex cell = index(row, Status);
    Q_EMIT dataChanged(cell, cell, {Qt::DisplayRole});
}
