#include "testserver.h"

#include <optional>

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>

#include <sys/socket.h>

namespace {

// Body bytes are produced in pieces of this size, and no more are queued while
// the socket still holds this many unsent bytes: a large body streams through
// a few pieces of memory.
constexpr qint64 kSendPieceBytes = 256 * 1024;
constexpr qint64 kSendHighWater = 1024 * 1024;

// The pattern of pattern() bodies: lines of 63 ASCII characters and a LF, so
// that a big pattern body is also a valid text document.
constexpr qint64 kPatternPeriod = 64;

const QByteArray &patternBlock()
{
    static const QByteArray block = [] {
        QByteArray b(kSendPieceBytes + kPatternPeriod, Qt::Uninitialized);
        for (qsizetype i = 0; i < b.size(); ++i) {
            const qint64 pos = i % kPatternPeriod;
            b[i] = pos == kPatternPeriod - 1 ? '\n' : char('a' + pos % 26);
        }
        return b;
    }();
    return block;
}

QByteArray standardReason(int code)
{
    switch (code) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

bool equalsNoCase(const QByteArray &a, const QByteArray &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

} // namespace

// ---------------------------------------------------------------- requests

QByteArray RecordedRequest::header(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (equalsNoCase(h.first, name))
            return h.second;
    }
    return {};
}

bool RecordedRequest::hasHeader(const QByteArray &name) const
{
    for (const auto &h : headers) {
        if (equalsNoCase(h.first, name))
            return true;
    }
    return false;
}

// ---------------------------------------------------------------- responses

Response Response::ok(const QByteArray &body, const QByteArray &contentType)
{
    return status(200, "OK", body, contentType);
}

Response Response::status(int code, const QByteArray &reason, const QByteArray &body,
                          const QByteArray &contentType)
{
    Response r;
    r.m_code = code;
    r.m_reason = reason.isEmpty() ? standardReason(code) : reason;
    r.m_body = body;
    if (!contentType.isEmpty())
        r.header("Content-Type", contentType);
    return r;
}

Response Response::redirect(const QByteArray &location, int code)
{
    Response r = status(code, standardReason(code), "Moved\n", "text/plain");
    r.header("Location", location);
    return r;
}

Response Response::pattern(qint64 size, const QByteArray &contentType)
{
    Response r = status(200, "OK", {}, contentType);
    r.m_patternSize = size;
    return r;
}

Response Response::noAnswer()
{
    Response r;
    r.m_answer = false;
    return r;
}

Response Response::raw(const QByteArray &bytes)
{
    Response r;
    r.m_raw = bytes;
    r.m_close = true;
    return r;
}

Response &Response::reset()
{
    m_reset = true;
    return *this;
}

Response &Response::header(const QByteArray &name, const QByteArray &value)
{
    m_headers.append({name, value});
    return *this;
}

Response &Response::chunked()
{
    m_framing = Framing::Chunked;
    return *this;
}

Response &Response::untilClose()
{
    m_framing = Framing::UntilClose;
    return *this;
}

Response &Response::slow(qint64 pieceBytes, int intervalMs)
{
    m_pieceBytes = pieceBytes;
    m_intervalMs = intervalMs;
    return *this;
}

Response &Response::stallAfter(qint64 bytes)
{
    m_stallAfter = bytes;
    return *this;
}

Response &Response::closeAfter(qint64 bytes)
{
    m_closeAfter = bytes;
    return *this;
}

Response &Response::closeConnection()
{
    m_close = true;
    return *this;
}

qint64 Response::bodySize() const
{
    return m_patternSize >= 0 ? m_patternSize : m_body.size();
}

// ---------------------------------------------------------------- server state

struct TestServer::Private
{
    Scheme scheme = Http;
    QSslConfiguration tls;
    quint16 port = 0;

    mutable QMutex mutex;
    QHash<QString, Handler> routes;      // guarded by mutex
    QList<RecordedRequest> requests;     // guarded by mutex
    std::atomic<int> connections{0};

    QThread thread;
    QObject *home = nullptr;       // lives on thread; parent of the listener
    QTcpServer *listener = nullptr;

    QHash<QString, EarlyHandler> earlyRoutes;  // guarded by mutex

    EarlyHandler earlyHandlerFor(const QByteArray &path) const
    {
        QMutexLocker lock(&mutex);
        return earlyRoutes.value(QString::fromUtf8(path));
    }

    Handler handlerFor(const QByteArray &path) const
    {
        QMutexLocker lock(&mutex);
        return routes.value(QString::fromUtf8(path));
    }

    void record(const RecordedRequest &request)
    {
        QMutexLocker lock(&mutex);
        requests.append(request);
    }
};

// One accepted connection: reads requests, records them and sends responses,
// body piece by piece as the socket drains.
class TestServerConnection : public QObject
{
public:
    TestServerConnection(TestServer::Private *server, QTcpSocket *socket, int id, QObject *parent)
        : QObject(parent), m_server(server), m_socket(socket), m_id(id)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, [this] { onReadyRead(); });
        connect(socket, &QTcpSocket::bytesWritten, this, [this] { pump(); });
        if (auto *ssl = qobject_cast<QSslSocket *>(socket)) {
            connect(ssl, &QSslSocket::encryptedBytesWritten, this, [this] { pump(); });
            connect(ssl, &QSslSocket::sslErrors, ssl, [ssl] { ssl->ignoreSslErrors(); });
        }
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    }

private:
    enum class Phase { Reading, Sending, Silent, Resetting, Done };

    void onReadyRead()
    {
        m_in += m_socket->readAll();
        process();
    }

    // Parses as many complete requests as the input holds, answering each.
    void process()
    {
        while (m_phase == Phase::Reading) {
            if (!m_haveHead) {
                const qsizetype end = m_in.indexOf("\r\n\r\n");
                if (end < 0)
                    return;
                parseHead(m_in.left(end));
                m_in.remove(0, end + 4);
                m_haveHead = true;
                if (const TestServer::EarlyHandler early = m_server->earlyHandlerFor(m_request.path)) {
                    if (std::optional<Response> refusal = early(m_request)) {
                        // Answered on the head alone; the body is never read.
                        RecordedRequest request = std::move(m_request);
                        m_request = RecordedRequest();
                        request.connection = m_id;
                        request.encrypted = qobject_cast<QSslSocket *>(m_socket) != nullptr;
                        m_server->record(request);
                        refusal->closeConnection();
                        answer(request, *refusal);
                        return;
                    }
                }
                if (equalsNoCase(m_request.header("Expect"), "100-continue"))
                    m_socket->write("HTTP/1.1 100 Continue\r\n\r\n");
            }
            if (!readBody())
                return;
            m_haveHead = false;
            RecordedRequest request = std::move(m_request);
            m_request = RecordedRequest();
            request.connection = m_id;
            request.encrypted = qobject_cast<QSslSocket *>(m_socket) != nullptr;
            m_server->record(request);
            answer(request);
        }
    }

    void parseHead(const QByteArray &head)
    {
        m_request.head = head;
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
        m_request.method = first.value(0);
        m_request.target = first.value(1);
        m_request.version = first.value(2);
        const qsizetype query = m_request.target.indexOf('?');
        m_request.path = query < 0 ? m_request.target : m_request.target.left(query);
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                m_request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
    }

    // True when the body is complete (then it is in m_request.body).
    bool readBody()
    {
        if (m_request.header("Transfer-Encoding").toLower().contains("chunked")) {
            for (;;) {
                const qsizetype lineEnd = m_in.indexOf("\r\n");
                if (lineEnd < 0)
                    return false;
                bool ok = false;
                const qint64 size = m_in.left(lineEnd).split(';').value(0).trimmed().toLongLong(&ok, 16);
                if (!ok)
                    return false;
                if (m_in.size() < lineEnd + 2 + size + 2)
                    return false;
                m_request.body += m_in.mid(lineEnd + 2, size);
                m_in.remove(0, lineEnd + 2 + size + 2);
                if (size == 0)
                    return true;
            }
        }
        const qint64 length = m_request.header("Content-Length").toLongLong();
        if (m_in.size() < length)
            return false;
        m_request.body = m_in.left(length);
        m_in.remove(0, length);
        return true;
    }

    void answer(const RecordedRequest &request)
    {
        const TestServer::Handler handler = m_server->handlerFor(request.path);
        answer(request, handler ? handler(request) : Response::status(404, "Not Found", "No such page\n", "text/plain"));
    }

    void answer(const RecordedRequest &request, const Response &response)
    {
        m_response = response;
        if (!m_response.m_answer) {
            m_phase = Phase::Silent;
            return;
        }
        if (!m_response.m_raw.isEmpty()) {
            m_socket->write(m_response.m_raw);
            close();
            return;
        }
        m_closeWhenDone = m_response.m_close || m_response.m_framing == Response::Framing::UntilClose
            || equalsNoCase(request.header("Connection"), "close")
            || request.version == "HTTP/1.0";

        QByteArray head = "HTTP/1.1 " + QByteArray::number(m_response.m_code) + ' ' + m_response.m_reason + "\r\n";
        for (const auto &h : m_response.m_headers)
            head += h.first + ": " + h.second + "\r\n";
        m_total = request.method == "HEAD" ? 0 : m_response.bodySize();
        switch (m_response.m_framing) {
        case Response::Framing::Length:
            head += "Content-Length: " + QByteArray::number(m_response.bodySize()) + "\r\n";
            break;
        case Response::Framing::Chunked:
            head += "Transfer-Encoding: chunked\r\n";
            break;
        case Response::Framing::UntilClose:
            break;
        }
        if (m_closeWhenDone)
            head += "Connection: close\r\n";
        head += "\r\n";
        m_socket->write(head);

        m_sent = 0;
        m_limit = m_total;
        if (m_response.m_stallAfter >= 0)
            m_limit = qMin(m_limit, m_response.m_stallAfter);
        if (m_response.m_closeAfter >= 0)
            m_limit = qMin(m_limit, m_response.m_closeAfter);
        m_phase = Phase::Sending;
        pump();
    }

    // Ends the connection once what was written has gone out: an orderly
    // close, or a reset when the response asks for one.
    void close()
    {
        m_phase = Phase::Done;
        if (!m_response.m_reset) {
            m_socket->disconnectFromHost();
            return;
        }
        if (unsent() > 0) {
            m_phase = Phase::Resetting;
            return;  // bytesWritten brings us back
        }
        // Not from inside the socket's own signal: the TLS socket is still
        // busy there.
        QMetaObject::invokeMethod(this, [this] {
            const linger abortive{1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            m_socket->abort();
        }, Qt::QueuedConnection);
    }

    qint64 unsent() const
    {
        qint64 n = m_socket->bytesToWrite();
        if (auto *ssl = qobject_cast<QSslSocket *>(m_socket))
            n += ssl->encryptedBytesToWrite();
        return n;
    }

    QByteArray bodyPiece(qint64 offset, qint64 size) const
    {
        if (m_response.m_patternSize >= 0)
            return TestServer::patternBytes(offset, size);
        return m_response.m_body.mid(offset, size);
    }

    void pump()
    {
        if (m_phase == Phase::Resetting) {
            close();
            return;
        }
        if (m_phase != Phase::Sending || m_waitingForTimer)
            return;
        const bool isChunked = m_response.m_framing == Response::Framing::Chunked;
        const qint64 piece = m_response.m_pieceBytes > 0 ? m_response.m_pieceBytes : kSendPieceBytes;
        while (m_sent < m_limit) {
            if (unsent() >= kSendHighWater)
                return;  // bytesWritten brings us back
            const qint64 n = qMin(piece, m_limit - m_sent);
            const QByteArray data = bodyPiece(m_sent, n);
            if (isChunked)
                m_socket->write(QByteArray::number(n, 16) + "\r\n" + data + "\r\n");
            else
                m_socket->write(data);
            m_sent += n;
            if (m_response.m_intervalMs > 0) {
                m_waitingForTimer = true;
                QTimer::singleShot(m_response.m_intervalMs, this, [this] {
                    m_waitingForTimer = false;
                    pump();
                });
                return;
            }
        }

        if (m_sent < m_total) {
            if (m_response.m_closeAfter >= 0 && m_sent >= m_response.m_closeAfter) {
                close();
            } else {
                m_phase = Phase::Silent;  // stalled
            }
            return;
        }
        if (isChunked)
            m_socket->write("0\r\n\r\n");
        if (m_closeWhenDone) {
            close();
            return;
        }
        m_phase = Phase::Reading;
        m_response = Response();
        process();
    }

    TestServer::Private *m_server = nullptr;
    QTcpSocket *m_socket = nullptr;
    int m_id = 0;
    Phase m_phase = Phase::Reading;
    QByteArray m_in;
    bool m_haveHead = false;
    RecordedRequest m_request;
    Response m_response;
    bool m_closeWhenDone = false;
    bool m_waitingForTimer = false;
    qint64 m_total = 0;
    qint64 m_limit = 0;
    qint64 m_sent = 0;
};

namespace {

class Listener : public QTcpServer
{
public:
    Listener(TestServer::Private *server, QObject *parent) : QTcpServer(parent), m_server(server) {}

protected:
    void incomingConnection(qintptr descriptor) override
    {
        const int id = ++m_server->connections;
        if (m_server->scheme == TestServer::Http) {
            auto *socket = new QTcpSocket;
            socket->setSocketDescriptor(descriptor);
            new TestServerConnection(m_server, socket, id, this);
            return;
        }
        auto *socket = new QSslSocket;
        socket->setSocketDescriptor(descriptor);
        socket->setSslConfiguration(m_server->tls);
        new TestServerConnection(m_server, socket, id, this);
        socket->startServerEncryption();
    }

private:
    TestServer::Private *m_server = nullptr;
};

QByteArray readCertFile(const QString &name)
{
    QFile file(QStringLiteral(MORVANE_TEST_CERT_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("TestServer: cannot read %s", qPrintable(file.fileName()));
    return file.readAll();
}

} // namespace

// ---------------------------------------------------------------- server

TestServer::TestServer(Scheme scheme)
    : TestServer(scheme, QSsl::SecureProtocols)
{
}

TestServer::TestServer(Scheme scheme, QSsl::SslProtocol protocol, Certificate certificate)
    : d(std::make_unique<Private>())
{
    d->scheme = scheme;
    if (scheme == Https) {
        const QString base = certificate == Certificate::CaSigned ? QStringLiteral("server") : QStringLiteral("selfsigned");
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setLocalCertificate(QSslCertificate(readCertFile(base + ".pem"), QSsl::Pem));
        tls.setPrivateKey(QSslKey(readCertFile(base + ".key"), QSsl::Rsa, QSsl::Pem));
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        tls.setProtocol(protocol);
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
        // OpenSSL 3 offers TLS 1.0 and 1.1 only at security level 0.
        if (protocol == QSsl::TlsV1_0 || protocol == QSsl::TlsV1_1)
            tls.setBackendConfigurationOption("CipherString", QByteArray("DEFAULT:@SECLEVEL=0"));
QT_WARNING_POP
        d->tls = tls;
    }

    d->thread.setObjectName(QStringLiteral("TestServer"));
    d->thread.start();
    d->home = new QObject;
    d->home->moveToThread(&d->thread);
    Private *p = d.get();
    QMetaObject::invokeMethod(d->home, [p] {
        p->listener = new Listener(p, p->home);
        if (!p->listener->listen(QHostAddress::LocalHost, 0))
            qFatal("TestServer: cannot listen: %s", qPrintable(p->listener->errorString()));
        p->port = p->listener->serverPort();
    }, Qt::BlockingQueuedConnection);
}

TestServer::~TestServer()
{
    Private *p = d.get();
    QMetaObject::invokeMethod(d->home, [p] {
        delete p->listener;  // and with it every connection
        p->listener = nullptr;
    }, Qt::BlockingQueuedConnection);
    d->thread.quit();
    d->thread.wait();
    delete d->home;
}

void TestServer::route(const QString &path, const Response &response)
{
    route(path, Handler([response](const RecordedRequest &) { return response; }));
}

void TestServer::route(const QString &path, Handler handler)
{
    QMutexLocker lock(&d->mutex);
    d->routes.insert(path, std::move(handler));
}

void TestServer::routeEarly(const QString &path, EarlyHandler handler)
{
    QMutexLocker lock(&d->mutex);
    d->earlyRoutes.insert(path, std::move(handler));
}

QString TestServer::routeRedirectChain(const QString &prefix, int hops, const QString &target)
{
    for (int i = 1; i <= hops; ++i) {
        const QString next = i == hops ? target : QStringLiteral("%1/%2").arg(prefix).arg(i + 1);
        route(QStringLiteral("%1/%2").arg(prefix).arg(i), Response::redirect(next.toUtf8()));
    }
    return hops > 0 ? QStringLiteral("%1/1").arg(prefix) : target;
}

quint16 TestServer::port() const
{
    return d->port;
}

TestServer::Scheme TestServer::scheme() const
{
    return d->scheme;
}

QUrl TestServer::url(const QString &pathAndQuery) const
{
    return QUrl(urlString(pathAndQuery));
}

QString TestServer::urlString(const QString &pathAndQuery) const
{
    return QStringLiteral("%1://127.0.0.1:%2%3")
        .arg(d->scheme == Https ? QStringLiteral("https") : QStringLiteral("http"))
        .arg(d->port)
        .arg(pathAndQuery);
}

QList<RecordedRequest> TestServer::requests() const
{
    QMutexLocker lock(&d->mutex);
    return d->requests;
}

RecordedRequest TestServer::lastRequest(const QString &path) const
{
    QMutexLocker lock(&d->mutex);
    for (auto it = d->requests.crbegin(); it != d->requests.crend(); ++it) {
        if (path.isEmpty() || it->path == path.toUtf8())
            return *it;
    }
    return {};
}

int TestServer::requestCount() const
{
    QMutexLocker lock(&d->mutex);
    return int(d->requests.size());
}

void TestServer::clearRequests()
{
    QMutexLocker lock(&d->mutex);
    d->requests.clear();
}

int TestServer::connectionCount() const
{
    return d->connections.load();
}

QString TestServer::caFile()
{
    return QStringLiteral(MORVANE_TEST_CERT_DIR "/ca.pem");
}

QByteArray TestServer::patternBytes(qint64 offset, qint64 size)
{
    QByteArray out;
    out.reserve(size);
    const QByteArray &block = patternBlock();
    while (size > 0) {
        const qint64 start = offset % kPatternPeriod;
        const qint64 n = qMin(size, qint64(block.size()) - start);
        out.append(block.constData() + start, n);
        offset += n;
        size -= n;
    }
    return out;
}
