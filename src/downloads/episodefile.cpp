#include "downloads/episodefile.h"

#include "base/errors.h"

#include <QSaveFile>

qint64 contentRangeStart(const QByteArray &value)
{
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return -1;
    const qsizetype dash = text.indexOf('-');
    bool ok = false;
    const qint64 start = dash < 0 ? -1 : text.mid(6, dash - 6).trimmed().toLongLong(&ok);
    return ok && start >= 0 ? start : -1;
}

qint64 EpisodeFileTransfer::download(const QString &url, const QString &targetPath) const
{
    QSaveFile file(targetPath);
    if (!file.open(QIODevice::WriteOnly))
        throw AppError(file.errorString());

    qint64 have = 0;          // bytes of the file in the temporary file
    bool bodyBegun = false;   // some attempt got as far as a body
    bool refused = false;     // the answer to a resume could not be used
    for (int attempt = 0;; ++attempt) {
        qint64 base = have;   // where this attempt's body goes
        DownloadTransfer transfer;
        transfer.inactivityTimeoutMs = inactivityTimeoutMs;
        transfer.cancel = cancel;
        transfer.onRedirect = onRedirect;
        if (have > 0)
            transfer.headers.append({"Range", "bytes=" + QByteArray::number(have) + '-'});
        transfer.onBodyStart = [&](int status, const HeaderList &headers) {
            bodyBegun = true;
            if (have == 0)
                return;
            if (status == 206 && contentRangeStart(headerValue(headers, "Content-Range")) == have)
                return;
            if (status != 200) {
                refused = true;
                throw AppError(QStringLiteral("The server did not resume the download: HTTP status %1").arg(status));
            }
            // The whole file again.
            if (!file.resize(0))
                throw AppError(file.errorString());
            have = base = 0;
        };
        transfer.onProgress = [&](qint64 count, qint64 announced, bool chunked) {
            have = base + count;
            if (onProgress)
                onProgress(have, announced < 0 ? -1 : base + announced, chunked);
        };

        try {
            const DownloadTransfer::Result result = transfer.get(url, &file);
            if (result.redirectLimitReached && have > 0)
                throw AppError(QStringLiteral("The download could not be resumed: too many redirects"));
            break;
        } catch (const HttpStatusError &) {
            throw;
        } catch (const AppError &) {
            const bool cancelled = cancel && cancel->load();
            const bool fileFailed = file.error() != QFileDevice::NoError;
            if (cancelled || fileFailed || refused || !bodyBegun || attempt >= maxResumes)
                throw;
            // The transfer broke off: ask for the rest.
        }
    }
    if (!file.commit())
        throw AppError(file.errorString());
    return have;
}
