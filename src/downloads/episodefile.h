#pragma once

#include "net/webget.h"

#include <QString>

#include <atomic>
#include <functional>

// The transfer of one episode into its file.
//
// The body streams into a temporary file beside the target and becomes the
// target file only when all of it has arrived: a failed or cancelled transfer
// leaves no file behind, and memory stays flat whatever the size. A transfer
// that breaks off once its body has begun (a reset, a body cut short, the
// inactivity limit) is taken up again, at most maxResumes times, by asking for
// the rest with "Range: bytes=N-": a 206 whose Content-Range starts at N is
// appended, a 200 starts the file again from nothing, any other answer fails.
struct EpisodeFileTransfer
{
    // Progress of the whole file: bytes so far and its full length (negative
    // when unknown), and whether the current response is chunked.
    std::function<void(qint64 count, qint64 length, bool chunked)> onProgress;
    // A redirect, before it is followed: the Location as sent and the count.
    std::function<void(const QString &location, int count)> onRedirect;
    // When set and true, the transfer ends with the error "Cancelled".
    const std::atomic<bool> *cancel = nullptr;
    int inactivityTimeoutMs = kInactivityTimeoutMs;
    int maxResumes = 3;

    // GETs the URL into the file at targetPath (which must not be a folder)
    // and returns the file's size. Throws AppError with the transfer's or the
    // file's message. A redirect chain that reaches the limit writes an empty
    // file.
    qint64 download(const QString &url, const QString &targetPath) const;
};

// The first byte position of a Content-Range header value ("bytes 100-199/200"
// gives 100); -1 when the value is not of that form.
qint64 contentRangeStart(const QByteArray &value);
