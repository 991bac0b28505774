#include "feeds/feedlistfile.h"

#include "base/errors.h"
#include "base/textcodec.h"

#include <QFile>
#include <QSet>

QStringList readFeedListFile(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Cannot open file \"%1\". %2").arg(fileName, file.errorString()));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Cannot read file \"%1\". %2").arg(fileName, file.errorString()));
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
