#pragma once

#include "base/errors.h"
#include "net/httpexchange.h"

#include <QString>

#include <atomic>
#include <functional>

class QIODevice;

// The GET transport: the feed fetch and the per-file download transfer.
//
// Conventions of both: GET over HTTP/1.1, a new client for every request,
// https without certificate verification (TLS 1.0 up to the newest version),
// no compressed encoding offered, redirects followed by the program's own rule
// (a 3xx other than 304 with a Location counts one; followed while the count is
// below 9; at 9 the request ends with an empty body and no error; a 3xx
// without Location and a 304 are errors), and an inactivity time-out: when no
// byte arrives for that long the transfer fails with "Connection timed out". A
// slow transfer that keeps moving is never cut off.
//
// Errors are thrown as AppError: the transport's own message, or the status
// line ("HTTP/1.1 404 Not Found") when the final status is not 2xx. Without a
// loadable TLS library an https request fails with "Could not load SSL
// library." and http still works.
//
// All calls block the calling thread with a local event loop (see
// blockingwait.h) and work on any thread.

// The error of a transfer whose final response had a status outside 2xx; its
// message is the status line ("HTTP/1.1 404 Not Found").
class HttpStatusError : public AppError
{
public:
    using AppError::AppError;
};

// The inactivity time-out of the GET transfers.
constexpr int kInactivityTimeoutMs = 120000;

// A feed fetch holds the window: it ends after this long in all, and a body
// larger than this is refused ("The feed is too large").
constexpr int kFetchTotalTimeoutMs = 5 * 60 * 1000;
constexpr qint64 kMaxFeedBytes = 256LL * 1024 * 1024;

struct FetchLimits
{
    int inactivityTimeoutMs = kInactivityTimeoutMs;
    // When set and true, the transfer ends at once with the error "Cancelled".
    const std::atomic<bool> *cancel = nullptr;
    int totalTimeoutMs = kFetchTotalTimeoutMs;
    qint64 maxBytes = kMaxFeedBytes;
    // What the error says when one of the two bounds above is passed.
    QString totalTimeoutMessage = QStringLiteral("The feed took too long to arrive");
    QString tooLargeMessage = QStringLiteral("The feed is too large");
};

// The User-Agent that FetchUrl sends.
extern const char kFetchUserAgent[];

// GET the URL and return its body as text: decoded by decodeText() (strict
// UTF-8, else by byte-order mark, else Windows-1252; the Content-Type charset
// and the document's own declaration play no part), then split into lines at
// CR LF, CR and LF up to the first NUL, every line ended with CR LF. An empty
// body, and a request that reached the redirect limit, give an empty text.
QString FetchUrl(const QString &url);
QString FetchUrl(const QString &url, int inactivityTimeoutMs);
QString FetchUrl(const QString &url, const FetchLimits &limits);

// The percentage of a download's progress bar: -1 when nothing must change (the
// response is chunked, or its announced length is not above 0), otherwise
// count * 100 / length in 64-bit arithmetic, truncated toward zero.
int progressPercent(qint64 count, qint64 length, const QString &transferEncoding);
int progressPercent(qint64 count, qint64 length, bool chunked);

// The transfer of one episode file: FetchUrl's conventions without its
// User-Agent (the client's default, "Mozilla/5.0", is sent) and without its
// overall bounds (long episodes take long; only the inactivity limit holds),
// with the body written to a device as it arrives instead of being held in
// memory, and with two notifications.
//
// The notifications run on the thread that calls get(), during the call; a
// worker hands them on to the window thread itself. They must not throw.
class DownloadTransfer
{
public:
    struct Result
    {
        qint64 bytesWritten = 0;
        int redirects = 0;
        bool redirectLimitReached = false;  // nothing was written, and no error
    };

    // Request headers of the program's own (a Range, say).
    HeaderList headers;
    // The head of the response whose body is about to be written, with its
    // status and headers; an AppError thrown here ends the transfer with its
    // message and nothing of that body is written.
    std::function<void(int status, const HeaderList &headers)> onBodyStart;
    // Progress of the body of the current response: bytes so far, the
    // announced length (negative when unknown) and whether it is chunked.
    std::function<void(qint64 count, qint64 announcedLength, bool chunked)> onProgress;
    // A redirect, before it is followed: the Location as sent and the
    // redirect count of this request (1 for the first).
    std::function<void(const QString &location, int count)> onRedirect;

    int inactivityTimeoutMs = kInactivityTimeoutMs;
    // When set and true, the transfer ends at once with the error "Cancelled".
    const std::atomic<bool> *cancel = nullptr;

    // GET the URL, writing the body of the final 2xx response to sink (which
    // must be open for writing). Throws AppError like FetchUrl, also when the
    // sink cannot be written or the connection ends before the announced
    // length; whatever was written by then stays in the sink.
    Result get(const QString &url, QIODevice *sink);
};
