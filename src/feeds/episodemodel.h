#pragma once

#include "feeds/episode.h"

#include <QAbstractTableModel>
#include <QIcon>

// The rows of the episode list: Title, URL, Date, Status.
class EpisodeModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Title, Url, Date, Status, ColumnCount };

    explicit EpisodeModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const EpisodeRows &rows() const { return m_rows; }
    // Replaces all rows in one batch.
    void setRows(EpisodeRows rows);
    void clear() { setRows({}); }
    void setStatus(int row, const QString &status);
    // Goes up by one every time the rows are replaced: a row number means the
    // same episode only while it stays the same.
    quint64 generation() const { return m_generation; }

private:
    EpisodeRows m_rows;
    quint64 m_generation = 0;
    QIcon m_icon;
};
