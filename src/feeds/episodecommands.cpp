#include "feeds/episodecommands.h"

#include "base/textcodec.h"

int findStartRow(int firstSelectedRow)
{
    return firstSelectedRow < 0 ? 0 : firstSelectedRow + 1;
}

int findEpisode(const EpisodeRows &rows, const QString &text, int startRow)
{
    if (text.isEmpty())
        return -1;
    const QString needle = foldAsciiCapitals(text);
    for (qsizetype i = qMax(0, startRow); i < rows.size(); ++i) {
        const EpisodeRow &row = rows.at(i);
        if (foldAsciiCapitals(row.title).contains(needle) || foldAsciiCapitals(row.url).contains(needle))
            return int(i);
    }
    return -1;
}

QString joinForClipboard(const QStringList &values)
{
    return trimControls(joinLinesCrLf(values));
}
