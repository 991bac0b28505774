#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSslConfiguration>
#include <QString>
#include <QUrl>

#include <functional>

class QIODevice;

// One HTTP/1.1 exchange (a request and the redirects it is led through), run
// on the calling thread with a local event loop. It is the common engine under
// FetchUrl, DownloadTransfer and PostForm; each of them sets its own
// conventions through ExchangeOptions.
//
// The client is our own, on QTcpSocket / QSslSocket: every request opens its
// own connection and closes it when the response ends, on every path, so
// nothing (connections, cookies, TLS sessions) outlives a request. It frames
// bodies itself (Content-Length, chunked, until close), so a connection that
// ends before the body does is always an error, and it never resends a request
// on its own.
//
// Request headers: Host, the program's headers, then the client's defaults for
// those the program did not set: "User-Agent: Mozilla/5.0", "Accept: */*",
// "Accept-Encoding: identity" (no compressed encoding is ever offered) and,
// with a body, Content-Length.
//
// Transport failures (refused, reset, TLS, time-out, a failing sink, a body cut
// short) are thrown as AppError with the transport's message. The HTTP status
// is not judged here: the result carries it and the caller decides.

enum class RedirectRule {
    // Not followed: a 3xx is returned as the result like any other status.
    None,
    // The program's own rule: a 3xx other than 304 with a Location header
    // counts one redirect and is announced; it is followed while the count is
    // below kRedirectLimit, and at the limit the exchange ends with an empty
    // body and no error.
    Counted,
    // Followed the way browsers do, at most maxRedirects in a row (one more
    // is an error), never from https to http (such a 3xx is the result); a
    // POST becomes a GET on 301, 302 and 303.
    Browser,
};

// The count of redirects at which the program's own rule stops following.
constexpr int kRedirectLimit = 9;

struct ExchangeOptions
{
    QByteArray method = "GET";
    QByteArray body;  // sent (with Content-Length) unless the method is GET or HEAD
    QList<QPair<QByteArray, QByteArray>> headers;  // they replace the client's defaults

    RedirectRule redirects = RedirectRule::None;
    int maxRedirects = 0;  // for RedirectRule::Browser

    // Ends the exchange with "Connection timed out" when nothing arrives (and
    // nothing is sent) for so long, connecting included. 0 means no limit.
    int inactivityTimeoutMs = 0;

    // Builds the TLS settings of an https request; called only when one is
    // made, so a plain http exchange never loads the TLS library. Empty means
    // Qt's defaults.
    std::function<QSslConfiguration()> tls;

    // When set, the body of a 2xx response is written here as it arrives
    // (bodies of other statuses are read and dropped) and the result's body
    // stays empty. Without a sink the body of the final response, whatever its
    // status, is collected in memory.
    QIODevice *sink = nullptr;

    // Called on the calling thread when the head of a 2xx response for the
    // sink has come, with the body's announced length (negative when unknown).
    std::function<void(qint64 announcedLength)> onBodyStart;
    // Called on the calling thread after every piece of a 2xx body, with the
    // bytes of this response so far, its announced length (negative when
    // unknown) and whether it is sent chunked.
    std::function<void(qint64 count, qint64 announcedLength, bool chunked)> onProgress;
    // Called for every redirect that RedirectRule::Counted counts, with the
    // Location header as sent and the new count, before it is followed.
    std::function<void(const QString &location, int count)> onRedirect;
};

struct ExchangeResult
{
    QByteArray version = "HTTP/1.1";  // the final response's protocol version
    int status = 0;              // HTTP status code of the final response
    QByteArray reasonPhrase;     // its reason phrase, e.g. "Not Found"
    QByteArray contentType;      // its Content-Type header
    QByteArray body;             // empty when written to a sink
    qint64 bodyBytes = 0;        // bytes of the final body (collected or written)
    int redirects = 0;           // redirects counted by RedirectRule::Counted
    bool redirectLimitReached = false;

    bool isSuccess() const { return status >= 200 && status <= 299; }
    // "HTTP/1.1 404 Not Found"
    QString statusLine() const;
};

ExchangeResult runExchange(const QUrl &url, const ExchangeOptions &options);

// The TLS settings of the GET transfers: no certificate verification, TLS 1.0
// up to the newest version the TLS library offers, SSL 2 and 3 off.
QSslConfiguration unverifiedTlsConfiguration();

// The TLS settings of requests that verify the server: the system's
// certificate store, plus the CA certificates of the PEM file named by the
// environment variable MORVANE_CA_FILE when it is set (used by tests and local
// runs against a private server).
QSslConfiguration verifyingTlsConfiguration();

// The charset parameter of a Content-Type header value, lower-cased and
// unquoted; empty when there is none.
QByteArray charsetOf(const QByteArray &contentType);

// The body decoded with the named charset; fallback is used when the name is
// empty or unknown to the converter.
QString decodeWithCharset(const QByteArray &body, const QByteArray &charset,
                          const QByteArray &fallback);
