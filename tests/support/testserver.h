#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSsl>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>
#include <memory>

// Local HTTP and HTTPS servers for tests and benchmarks.
//
//   TestServer server(TestServer::Https);
//   server.route("/feed", Response::ok(body, "text/xml"));
//   const QString text = FetchUrl(server.urlString("/feed"));
//   QCOMPARE(server.requests().size(), 1);
//
// The server listens on 127.0.0.1 with an ephemeral port and runs on a thread
// of its own, so it answers whether the test's thread runs an event loop or
// blocks; every public member may be called from any thread. Routes match the
// path of the request target without its query; an unknown path gets
// "404 Not Found". Connections are kept alive (HTTP/1.1) unless the request or
// the response says "Connection: close". A request announced with "Expect:
// 100-continue" gets its "100 Continue" as soon as its head has come.

// What a request carried, as the server received it.
struct RecordedRequest
{
    QByteArray method;
    QByteArray target;  // as sent, query included
    QByteArray path;    // target without the query
    QByteArray version;
    QList<QPair<QByteArray, QByteArray>> headers;  // in the order received, values trimmed
    QByteArray head;    // the request line and header lines exactly as received
    QByteArray body;    // de-chunked when sent chunked
    int connection = 0; // which connection (numbered from 1) brought it
    bool encrypted = false;

    // The first value of the header (name compared without case); empty when
    // absent.
    QByteArray header(const QByteArray &name) const;
    bool hasHeader(const QByteArray &name) const;
};

// How the server answers one request. A value type: build it with the named
// constructors and the modifiers, which return *this.
class Response
{
public:
    // 200 OK with the body and a Content-Type (omitted when empty).
    static Response ok(const QByteArray &body, const QByteArray &contentType = "text/plain");
    // Any status, e.g. status(404, "Not Found", page) or status(304, "Not Modified").
    static Response status(int code, const QByteArray &reason, const QByteArray &body = {},
                           const QByteArray &contentType = {});
    // A redirect to location (relative or absolute), 302 unless told.
    static Response redirect(const QByteArray &location, int code = 302);
    // 200 OK with size bytes of patternBytes() made as they are sent, so even
    // a body of gigabytes costs no memory.
    static Response pattern(qint64 size, const QByteArray &contentType = "application/octet-stream");
    // Reads the request and never answers (the connection stays open).
    static Response noAnswer();
    // Sends exactly these bytes, head and body as they stand (malformed ones
    // included), then closes the connection.
    static Response raw(const QByteArray &bytes);

    Response &header(const QByteArray &name, const QByteArray &value);
    // Sends the body with "Transfer-Encoding: chunked" instead of Content-Length.
    Response &chunked();
    // Sends neither Content-Length nor chunked framing: the body ends when the
    // server closes the connection.
    Response &untilClose();
    // Sends the body in pieces of pieceBytes, one every intervalMs.
    Response &slow(qint64 pieceBytes, int intervalMs);
    // Sends the headers and the first bytes of the body, then nothing more,
    // keeping the connection open.
    Response &stallAfter(qint64 bytes);
    // Sends the headers and the first bytes of the body, then closes the
    // connection (the announced length stays that of the whole body).
    Response &closeAfter(qint64 bytes);
    // Closes the connection after this response.
    Response &closeConnection();
    // Where the connection is closed (closeAfter, untilClose, raw), ends it
    // with a reset (RST) instead of an orderly close.
    Response &reset();

private:
    friend class TestServerConnection;
    friend class TestServer;

    enum class Framing { Length, Chunked, UntilClose };

    int m_code = 200;
    QByteArray m_reason = "OK";
    QList<QPair<QByteArray, QByteArray>> m_headers;
    QByteArray m_body;
    qint64 m_patternSize = -1;  // >= 0: the body is that many pattern bytes
    Framing m_framing = Framing::Length;
    qint64 m_pieceBytes = 0;
    int m_intervalMs = 0;
    qint64 m_stallAfter = -1;
    qint64 m_closeAfter = -1;
    bool m_close = false;
    bool m_answer = true;
    bool m_reset = false;
    QByteArray m_raw;  // non-empty: sent as it stands

    qint64 bodySize() const;
};

class TestServer
{
public:
    enum Scheme { Http, Https };
    // The certificate an https server shows: one signed by the test CA
    // (caFile()), or a self-signed one that nothing trusts.
    enum class Certificate { CaSigned, SelfSigned };

    using Handler = std::function<Response(const RecordedRequest &)>;
    // Looks at a request's head (its body is not read yet) and may answer at
    // once: the answer is sent, the body is never read and the connection is
    // closed, as servers do that refuse an upload (413).
    using EarlyHandler = std::function<std::optional<Response>(const RecordedRequest &head)>;

    explicit TestServer(Scheme scheme = Http);
    // An https server limited to the TLS versions of protocol, e.g.
    // QSsl::TlsV1_3 for a server that speaks TLS 1.3 only.
    TestServer(Scheme scheme, QSsl::SslProtocol protocol, Certificate certificate = Certificate::CaSigned);
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    void route(const QString &path, const Response &response);
    // A handler runs on the server's thread for every request to the path.
    void route(const QString &path, Handler handler);
    void routeEarly(const QString &path, EarlyHandler handler);
    // Routes prefix/1 ... prefix/hops, each redirecting (302) to the next and
    // the last one to target; returns the path of the first one.
    QString routeRedirectChain(const QString &prefix, int hops, const QString &target);

    quint16 port() const;
    Scheme scheme() const;
    QUrl url(const QString &pathAndQuery) const;
    QString urlString(const QString &pathAndQuery) const;

    // Every complete request so far, oldest first.
    QList<RecordedRequest> requests() const;
    // The last request to the path; a default value when there was none.
    RecordedRequest lastRequest(const QString &path = QString()) const;
    int requestCount() const;
    void clearRequests();
    // Connections accepted so far.
    int connectionCount() const;

    // The PEM file of the test CA that signed the CaSigned certificate.
    static QString caFile();
    // The bytes a pattern() body holds from offset on.
    static QByteArray patternBytes(qint64 offset, qint64 size);

    struct Private;

private:
    std::unique_ptr<Private> d;
};
