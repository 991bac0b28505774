#include "feeds/podcastdirectory.h"

#include "base/errors.h"
#include "net/postform.h"
#include "net/servicerequest.h"

#include <QSet>

namespace {

const QString kPath = QStringLiteral("/php/podcasts.php");

bool isBlankLine(const QString &line)
{
    for (const QChar c : line) {
        if (c.unicode() > 32)
            return false;
    }
    return true;
}

} // namespace

DirectoryReply fetchPodcastDirectory(const QString &host, int timeoutMs)
{
    const QStringList fields{QStringLiteral("cmd=podcast")};
    DirectoryReply result;
    QString reply;
    try {
        reply = PostForm(QLatin1String("https://") + host + kPath, fields, timeoutMs);
    } catch (const AppError &) {
        try {
            reply = PostForm(QLatin1String("http://") + host + kPath, fields, timeoutMs);
        } catch (const AppError &e) {
            result.failed = true;
            result.error = e.message();
            return result;
        }
    }
    result.lines = replyLines(reply);
    return result;
}

QStringList newDirectoryEntries(const QStringList &before, const QStringList &replyLines)
{
    const QSet<QString> present(before.cbegin(), before.cend());
    QStringList added;
    for (const QString &line : replyLines) {
        if (!present.contains(line) && !isBlankLine(line))
            added.append(line);
    }
    return added;
}
