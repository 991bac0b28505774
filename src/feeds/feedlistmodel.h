#pragma once

#include <QAbstractListModel>
#include <QIcon>
#include <QStringList>

// The rows of the feed list: one feed URL each, shown with the feed image.
class FeedListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit FeedListModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    // The one column is "RSS"; the header is hidden, but assistive technology
    // announces the column by this name.
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const QStringList &urls() const { return m_urls; }
    void setUrls(const QStringList &urls);
    void append(const QStringList &urls);
    // Removes the rows whose indexes are given (any order, duplicates allowed).
    void removeRowsAt(QList<int> rows);

private:
    QStringList m_urls;
    QIcon m_icon;
};
