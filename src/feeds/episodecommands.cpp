#include "feeds/episodecommands.h"

#include "app/textcodec.h"

namespace {

QString foldAsciiCapitals(const QString &s)
{
    QString folded = s;
    for (QChar &c : folded) {
        const char16_t u = c.unicode();
        if (u >= u'A' && u <= u'Z')
            c = QChar(char16_t(u + (u'a' - u'A')));
    }
    return folded;
}

} // namespace

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
