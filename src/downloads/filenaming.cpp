#include "downloads/filenaming.h"

#include "base/errors.h"
#include "base/textcodec.h"

#include <QFileInfo>

#include <algorithm>

namespace {

constexpr qsizetype kMaxNameUnits = 200;
// A file name on this system holds at most 255 bytes of UTF-8. The name part
// leaves room for the extension ".mp3" and a counter " (n)" of up to five
// digits.
constexpr qsizetype kMaxNameBytes = 255 - 4 - 8;
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

// The name cut at a character boundary (never inside a surrogate pair) to
// the longest start whose UTF-8 form has at most maxBytes.
QString fitUtf8Bytes(const QString &name, qsizetype maxBytes)
{
    qsizetype bytes = 0;
    qsizetype i = 0;
    while (i < name.size()) {
        const char32_t c = name.at(i).unicode();
        qsizetype units = 1;
        qsizetype size = c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (QChar::isHighSurrogate(c) && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            units = 2;
            size = 4;
        }
        if (bytes + size > maxBytes)
            return name.left(i);
        bytes += size;
        i += units;
    }
    return name;
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
    name = fitUtf8Bytes(name, kMaxNameBytes);
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
