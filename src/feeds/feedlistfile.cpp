#include "feeds/feedlistfile.h"

#include "base/errors.h"
#include "base/textcodec.h"

#include <QFile>
#include <QSet>

namespace {

// changed read as base with rows removed and rows appended: which rows of
// base it keeps, and what it appends. Each row of changed is matched with
// the first equal row of base after the last match; a row without one was
// added.
struct ListEdit
{
    QList<bool> kept;
    QStringList appended;
};

ListEdit editBetween(const QStringList &base, const QStringList &changed)
{
    ListEdit edit;
    edit.kept.fill(false, base.size());
    qsizetype next = 0;
    for (const QString &row : changed) {
        const qsizetype at = base.indexOf(row, next);
        if (at < 0) {
            edit.appended.append(row);
            continue;
        }
        edit.kept[at] = true;
        next = at + 1;
    }
    return edit;
}

} // namespace

QStringList mergeFeedLists(const QStringList &base, const QStringList &mine, const QStringList &theirs)
{
    const ListEdit ours = editBetween(base, mine);
    const ListEdit other = editBetween(base, theirs);
    QStringList merged;
    for (qsizetype i = 0; i < base.size(); ++i) {
        if (ours.kept[i] && other.kept[i])
            merged.append(base[i]);
    }
    merged += other.appended;
    merged += ours.appended;
    return merged;
}

QStringList readFeedListFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, file.errorString()));
    return feedListRows(bytes);
}

QStringList feedListRows(const QByteArray &bytes)
{
    QStringList rows = splitLines(decodeText(bytes));
    rows.removeIf([](const QString &line) { return line.isEmpty(); });
    return rows;
}

QByteArray feedListFileBytes(const QStringList &rows)
{
    return utf8WithBom(joinLinesCrLf(rows));
}

void writeFeedListFile(const QString &fileName, const QStringList &rows)
{
    writeFileAtomically(fileName, feedListFileBytes(rows));
}

QStringList newFeedEntries(const QStringList &before, const QStringList &candidates)
{
    QSet<QString> present(before.cbegin(), before.cend());
    QStringList added;
    for (const QString &feed : candidates) {
        if (present.contains(feed))
            continue;
        present.insert(feed);
        added.append(feed);
    }
    return added;
}
