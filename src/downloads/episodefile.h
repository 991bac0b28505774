#pragma once

#include "net/webget.h"

#include <QString>

#include <atomic>
#include <functional>

class QFileDevice;

// The transfer of one episode into its file.
//
// The body streams into a temporary file beside the target and becomes the
// target file only when all of it has arrived: a failed or cancelled transfer
// leaves no file behind, and memory stays flat whatever the size.
//
// A transfer that breaks off once it has brought some new bytes (a reset, a
// body cut short, the inactivity limit) is taken up again, at most maxResumes
// times, by asking for the rest with "Range: bytes=N-" and "If-Range" with
// the first reply's ETag (or Last-Modified). A 206 is appended only when its
// Content-Range runs from N to the end of a file of the first reply's length;
// a 200 starts the file again from nothing; any other answer fails. A try
// that brought nothing new is not repeated, so a server that goes quiet for
// good costs one inactivity limit, not one per try. When the first reply gave
// no length, nothing can be checked: the next try asks for the whole file.
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

// A Content-Range header value "bytes first-last/total"; -1 for what it does
// not give ("bytes 0-9/*" has no total, "bytes */200" no range).
struct ContentRange
{
    qint64 first = -1;
    qint64 last = -1;
    qint64 total = -1;
};
ContentRange parseContentRange(const QByteArray &value);

// The first byte position of a Content-Range header value ("bytes 100-199/200"
// gives 100); -1 when the value is not of that form.
qint64 contentRangeStart(const QByteArray &value);

// The message for a file of the download folder that could not be written:
// "The disk is full: <folder>" when the disk (or the user's quota) is full,
// otherwise the file's own error.
QString fileWriteMessage(const QFileDevice &file, const QString &folder);
