#include "downloads/episodefile.h"

#include "base/errors.h"
#include "net/httpexchange.h"

#include <QDir>
#include <QFileInfo>
#include <QStorageInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>

namespace {

// A disk with less room than this left is taken for full when a write fails.
constexpr qint64 kNearlyFullBytes = 1024 * 1024;

// What a resume is checked against: the ETag of the reply that began the file,
// or its Last-Modified date. A weak ETag may not be sent in If-Range.
QByteArray validatorOf(const HeaderList &headers)
{
    const QByteArray etag = headerValue(headers, "ETag").trimmed();
    if (!etag.isEmpty() && !etag.startsWith("W/"))
        return etag;
    return headerValue(headers, "Last-Modified").trimmed();
}

// The length a reply announces for its body; -1 when it sends it chunked or
// gives none.
qint64 announcedLength(const HeaderList &headers)
{
    if (headerValue(headers, "Transfer-Encoding").toLower().contains("chunked"))
        return -1;
    bool ok = false;
    const qint64 length = headerValue(headers, "Content-Length").trimmed().toLongLong(&ok);
    return ok && length >= 0 ? length : -1;
}

QString resumeRefused(const QString &broken, const QString &answer)
{
    return broken + QStringLiteral(", and the server would not resume the download (") + answer
        + QLatin1Char(')');
}

} // namespace

ContentRange parseContentRange(const QByteArray &value)
{
    ContentRange range;
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return range;
    const QByteArray spec = text.mid(6).trimmed();
    const qsizetype slash = spec.indexOf('/');
    const QByteArray span = slash < 0 ? spec : spec.left(slash);
    bool ok = false;
    if (slash >= 0) {
        const qint64 total = spec.mid(slash + 1).trimmed().toLongLong(&ok);
        if (ok && total >= 0)
            range.total = total;
    }
    const qsizetype dash = span.indexOf('-');
    if (dash < 0)
        return range;
    const qint64 first = span.left(dash).trimmed().toLongLong(&ok);
    if (!ok || first < 0)
        return range;
    range.first = first;
    const qint64 last = span.mid(dash + 1).trimmed().toLongLong(&ok);
    if (ok && last >= first)
        range.last = last;
    return range;
}

qint64 contentRangeStart(const QByteArray &value)
{
    return parseContentRange(value).first;
}

QString fileWriteMessage(const QFileDevice &file, const QString &folder)
{
    const QString text = file.errorString();
    // A write cut short by a full disk does not always say so: then the room
    // left on the disk does.
    const QStorageInfo disk(folder);
    const bool noRoom = disk.isValid() && disk.isReady()
        && std::min(disk.bytesAvailable(), disk.bytesFree()) < kNearlyFullBytes;
    if (text == qt_error_string(ENOSPC) || text == qt_error_string(EDQUOT) || noRoom)
        return QStringLiteral("The disk is full: ") + QDir::toNativeSeparators(folder);
    if (text.isEmpty() || text == QLatin1String("Unknown error"))
        return QStringLiteral("Could not write the downloaded data to ") + QDir::toNativeSeparators(folder);
    return text;
}

qint64 EpisodeFileTransfer::download(const QString &url, const QString &targetPath) const
{
    const QString folder = QFileInfo(targetPath).absolutePath();
    // A short name of its own: the target's name may take all the room a
    // name has.
    QTemporaryFile file(folder + QLatin1String("/.XXXXXX.part"));
    if (!file.open())
        throw AppError(fileWriteMessage(file, folder));
    // An episode is an ordinary file, readable by others (a temporary one is
    // not).
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                        | QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);

    qint64 have = 0;        // bytes of the file in the temporary file
    qint64 total = -1;      // the file's length, as the reply that began it announced
    QByteArray validator;   // that reply's ETag or Last-Modified, for If-Range
    QByteArray firstEtag;   // its ETag, weak or strong
    QString lastBreak;      // how the try before this one ended
    qint64 reached = 0;     // the most of the file any try had brought
    bool limitReached = false;
    for (int attempt = 0;; ++attempt) {
        const bool resuming = have > 0;
        qint64 base = have;  // where this try's body goes
        QString misfit;      // a 2xx answer to the resume that is no part of the file
        DownloadTransfer transfer;
        transfer.inactivityTimeoutMs = inactivityTimeoutMs;
        transfer.cancel = cancel;
        transfer.onRedirect = onRedirect;
        if (resuming) {
            transfer.headers.append({"Range", "bytes=" + QByteArray::number(have) + '-'});
            if (!validator.isEmpty())
                transfer.headers.append({"If-Range", validator});
        }
        transfer.onBodyStart = [&](int status, const HeaderList &headers) {
            if (resuming && status == 206) {
                const ContentRange range = parseContentRange(headerValue(headers, "Content-Range"));
                // A server that ignores If-Range still names the version it sends.
                const QByteArray etag = headerValue(headers, "ETag").trimmed();
                const bool sameFile = firstEtag.isEmpty() || etag.isEmpty() || etag == firstEtag;
                if (range.first == have && range.total == total && range.last == total - 1 && sameFile)
                    return;
                misfit = QStringLiteral("HTTP status 206 with the range %1")
                             .arg(QString::fromLatin1(headerValue(headers, "Content-Range")));
                throw AppError(misfit);
            }
            if (resuming && status != 200) {
                misfit = QStringLiteral("HTTP status %1").arg(status);
                throw AppError(misfit);
            }
            // The whole file, from its first byte.
            if (have > 0 && (!file.resize(0) || !file.seek(0)))
                throw AppError(fileWriteMessage(file, folder));
            have = base = 0;
            total = announcedLength(headers);
            validator = validatorOf(headers);
            firstEtag = headerValue(headers, "ETag").trimmed();
        };
        transfer.onProgress = [&](qint64 count, qint64 announced, bool chunked) {
            have = base + count;
            if (onProgress)
                onProgress(have, total >= 0 ? total : (announced < 0 ? -1 : base + announced), chunked);
        };

        try {
            limitReached = transfer.get(url, &file).redirectLimitReached;
        } catch (const HttpStatusError &e) {
            if (resuming)
                throw AppError(resumeRefused(lastBreak, e.message()));
            throw;
        } catch (const AppError &e) {
            if (cancel && cancel->load())
                throw;
            if (file.error() != QFileDevice::NoError)
                throw AppError(fileWriteMessage(file, folder));
            if (!misfit.isEmpty())
                throw AppError(resumeRefused(lastBreak, misfit));
            const auto *broken = dynamic_cast<const TransferBrokenError *>(&e);
            lastBreak = broken ? TransferBrokenError::describe(broken->cause(), have, total) : e.message();
            // Only a try that brought something new is worth another.
            const bool gained = have > reached;
            reached = std::max(reached, have);
            if (!gained || attempt >= maxResumes)
                throw AppError(lastBreak);
            if (total < 0) {
                // Nothing to check a resume against: the whole file again.
                if (!file.resize(0) || !file.seek(0))
                    throw AppError(fileWriteMessage(file, folder));
                have = 0;
            }
            continue;
        }
        if (limitReached && resuming)
            throw AppError(resumeRefused(lastBreak, QStringLiteral("too many redirects")));
        break;
    }
    if (!limitReached && total >= 0 && have != total)
        throw AppError(TransferBrokenError::describe(QStringLiteral("The download ended"), have, total));
    if (!file.flush())
        throw AppError(fileWriteMessage(file, folder));
    file.close();
    if (std::rename(QFile::encodeName(file.fileName()).constData(), QFile::encodeName(targetPath).constData()) != 0)
        throw AppError(QStringLiteral("Could not save %1: %2").arg(QDir::toNativeSeparators(targetPath),
                                                                   qt_error_string(errno)));
    file.setAutoRemove(false);
    return have;
}
