#include "downloads/filenaming.h"

#include "base/errors.h"
#include "base/textcodec.h"

#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qsizetype kMaxNameUnits = 200;
const QChar kDelimiter = QLatin1Char('/');

bool replacedInName(QChar c)
{
    switch (c.unicode()) {
    case '"': case '*': case '+': case ',': case '/': case ':': case ';': case '<':
    case '=': case '>': case '?': case '[': case '\\': case ']': case '^': case '|':
        return true;
    default:
        return false;
    }
}

bool forbiddenInName(QChar c)
{
    return c.unicode() < 32 || c == QLatin1Char('"') || c == QLatin1Char('*') || c == QLatin1Char('/')
        || c == QLatin1Char(':') || c == QLatin1Char('<') || c == QLatin1Char('>') || c == QLatin1Char('?')
        || c == QLatin1Char('\\') || c == QLatin1Char('|');
}

bool forbiddenInPath(QChar c)
{
    return c.unicode() < 32 || c == QLatin1Char('"') || c == QLatin1Char('<') || c == QLatin1Char('>')
        || c == QLatin1Char('|');
}

bool fileExists(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() && !info.isDir();  // a link counts when its target exists
}

} // namespace

QString CleanFileName(const QString &title)
{
    QString name = title;
    for (QChar &c : name) {
        if (replacedInName(c))
            c = QLatin1Char(' ');
    }
    // QString::replace makes one left-to-right pass without overlapping
    // matches: three spaces become two.
    name.replace(QLatin1String("  "), QLatin1String(" "));
    name = trimControls(name);
    name.truncate(kMaxNameUnits);
    return name.isEmpty() ? QStringLiteral("NoName") : name;
}

QString episodeFilePath(const QString &folderText, const QString &title)
{
    QString name = CleanFileName(title);
    while (name.contains(QLatin1String("  ")))
        name.replace(QLatin1String("  "), QLatin1String(" "));
    if (std::any_of(name.cbegin(), name.cend(), forbiddenInName))
        name = QStringLiteral("InvalidName");
    QString folder = folderText;
    if (!folder.endsWith(kDelimiter))
        folder += kDelimiter;
    return folder + name + QLatin1String(".mp3");
}

QString UniqueFileName(const QString &path)
{
    if (std::any_of(path.cbegin(), path.cend(), forbiddenInPath))
        throw AppError(QStringLiteral("Invalid characters in path"));
    const qsizetype slash = path.lastIndexOf(kDelimiter);
    const QString folder = path.left(slash + 1);
    const QString fileName = path.mid(slash + 1);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString base = dot < 0 ? fileName : fileName.left(dot);
    const QString extension = dot < 0 ? QString() : fileName.mid(dot);

    QString candidate = path;
    for (int counter = 2; fileExists(candidate); ++counter)
        candidate = folder + base + QStringLiteral(" (%1)").arg(counter) + extension;
    return candidate;
}
