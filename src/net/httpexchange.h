#pragma once

#include "base/errors.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>

class QIODevice;

// One HTTP/1.1 exchange (a request and the redirects it is led through), run
// on the calling thread. It is the one engine under FetchUrl, DownloadTransfer
// and PostForm; each of them sets its own conventions through ExchangeOptions.
//
// Every request is a libcurl easy handle of its own, driven through a multi
// handle of its own by socket notifiers and a timer of the calling thread's
// event loop (see blockingwait.h): every callback runs on the calling thread,
// and the windows keep repainting while a call waits. Handles are made for one
// request and cleaned up on every path, so nothing (connections, cookies, TLS
// sessions) outlives a request. Redirects are followed here, one new request
// each, never by libcurl.
//
// libcurl frames the bodies (Content-Length, chunked, until close) and refuses
// malformed ones; a connection that ends before the body does is an error. It
// uses the proxy that the environment names (http_proxy, https_proxy,
// all_proxy, no_proxy, as curl reads them); when the environment names none,
// the desktop's proxy setting as Qt reads it. Credentials in a URL
// (user:password@) go as basic authentication to that URL's host only.
//
// Request headers: Host, the program's headers, then "User-Agent: Mozilla/5.0"
// and "Accept: */*" where the program set none, and Content-Length with a
// body. No compressed encoding is offered.
//
// Transport failures (refused, reset, TLS, time-out, a failing sink, a body cut
// short or malformed, a reply that ends inside its head) are thrown as
// AppError with a message a user can act on: the program's own words for the
// failures people meet (no connection to the server or to the proxy, a tunnel
// the proxy refused, a body cut short with how much of it had come), libcurl's
// message for the rest. The HTTP status is not judged here: the result carries
// it and the caller decides.

// A transfer that broke off once the body of a 2xx reply had begun: the
// connection closed or was reset before the body's end, or went quiet for the
// inactivity limit. The message says what happened and how much had come:
// "The connection closed after 1000 of 5000 bytes".
class TransferBrokenError : public AppError
{
public:
    TransferBrokenError(const QString &cause, qint64 received, qint64 expected);

    // The cause alone ("The connection closed", "Connection timed out").
    const QString &cause() const { return m_cause; }

    // cause + " after R of E bytes", or " after R bytes" when E is unknown
    // (negative).
    static QString describe(const QString &cause, qint64 received, qint64 expected);

private:
    QString m_cause;
};

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

enum class TlsCheck {
    // The GET transfers: any certificate is accepted, TLS 1.0 up to the newest
    // version, with the old ciphers that TLS 1.0 and 1.1 servers need.
    None,
    // The server's certificate and name are verified against the system's
    // store, plus the CA certificates of the PEM file named by the
    // environment variable MORVANE_CA_FILE when it is set (used by tests and
    // local runs against a private server).
    Verify,
};

using HeaderList = QList<QPair<QByteArray, QByteArray>>;

// One part of a multipart/form-data body: a text value, or a file that is
// read as the body is sent (never held in memory). A multipart body is
// announced with "Expect: 100-continue", so that a server refusing it (413)
// can say so before it comes; a file that ends short of the size it had when
// the request began ends the exchange at once with an error.
struct FormPart
{
    QByteArray name;
    QByteArray value;           // for a text part
    QIODevice *file = nullptr;  // for a file part: open for reading, its size known
    QByteArray fileName;        // the name the part gives the file
    QByteArray contentType;     // empty: none given
};

struct ExchangeOptions
{
    QByteArray method = "GET";
    QByteArray body;     // sent (with Content-Length) unless the method is GET or HEAD
    // When not empty, the body is multipart/form-data of these parts, in this
    // order, instead of body (the method is POST).
    QList<FormPart> multipart;
    HeaderList headers;  // they replace the client's defaults

    RedirectRule redirects = RedirectRule::None;
    int maxRedirects = 0;  // for RedirectRule::Browser

    TlsCheck tls = TlsCheck::None;

    // Ends the exchange with "Connection timed out" when nothing arrives (and
    // nothing is sent) for so long, connecting included. 0 means no limit.
    int inactivityTimeoutMs = 0;
    // Ends a connection attempt that has not succeeded after so long, with
    // libcurl's message. 0: only the inactivity limit holds.
    int connectTimeoutMs = 0;
    // Ends the whole exchange, redirects included, after so long, however
    // busy the transfer. 0 means no limit.
    int totalTimeoutMs = 0;
    QString totalTimeoutMessage = QStringLiteral("Operation timed out");
    // The overall limit fails as the inactivity limit does: "Connection timed
    // out", with how far the body had come; totalTimeoutMessage is not used.
    bool totalTimeoutAsInactivity = false;

    // A final body larger than this fails the exchange with tooLargeMessage,
    // as soon as it is announced or has arrived that far. Negative: no limit.
    qint64 maxBodyBytes = -1;
    QString tooLargeMessage = QStringLiteral("The response is too large");
    // Of a final body whose status is not 2xx, only this many bytes are kept;
    // the rest is read and dropped. Negative: no bound but maxBodyBytes.
    qint64 maxErrorBodyBytes = -1;

    // When set, the exchange ends within a tenth of a second of the flag
    // becoming true (from any thread), with the error "Cancelled".
    const std::atomic<bool> *cancel = nullptr;

    // Extra name resolutions in libcurl's form "host:port:address[,address]",
    // used before the system's resolver (tests give a name their own
    // addresses with it).
    QList<QByteArray> resolve;

    // When set, the body of a 2xx response is written here as it arrives
    // (bodies of other statuses are read and dropped) and the result's body
    // stays empty. Without a sink the body of the final response, whatever its
    // status, is collected in memory.
    QIODevice *sink = nullptr;

    // Called on the calling thread when the head of a response whose body goes
    // to the sink (a 2xx) has come, before any of its body, with its status
    // and headers. An AppError thrown here ends the exchange with its message.
    std::function<void(int status, const HeaderList &headers)> onBodyStart;
    // Called on the calling thread after every piece of a 2xx body written to
    // the sink, with the bytes of this response so far, its announced length
    // (negative when unknown) and whether it is sent chunked.
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
    HeaderList headers;          // its headers, in the order received
    QByteArray body;             // empty when written to a sink
    qint64 bodyBytes = 0;        // bytes of the final body (collected or written)
    int redirects = 0;           // redirects counted by RedirectRule::Counted
    bool redirectLimitReached = false;

    bool isSuccess() const { return status >= 200 && status <= 299; }
    // "HTTP/1.1 404 Not Found"
    QString statusLine() const;
    // The first header of that name (compared without case); empty when absent.
    QByteArray header(const char *name) const;
};

ExchangeResult runExchange(const QUrl &url, const ExchangeOptions &options);

// The first header of that name (compared without case); empty when absent.
QByteArray headerValue(const HeaderList &headers, const char *name);

// The charset parameter of a Content-Type header value, lower-cased and
// unquoted; empty when there is none.
QByteArray charsetOf(const QByteArray &contentType);

// The body decoded with the named charset; fallback is used when the name is
// empty or unknown to the converter.
QString decodeWithCharset(const QByteArray &body, const QByteArray &charset,
                          const QByteArray &fallback);
