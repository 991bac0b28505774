#include "net/httpexchange.h"

#include "app/errors.h"
#include "net/blockingwait.h"
#include "platform/largebuffer.h"

#include <QIODevice>
#include <QNetworkProxy>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

// A TLS socket buffers at most this much before we read it, and one read of a
// plain (unbuffered) connection takes at most kReadPiece, so memory stays
// bounded whatever the body size. A wake-up does at most kReadsPerWakeUp
// reads, so that a fast stream still lets the event loop run (repaints,
// timers) between them.
constexpr qint64 kSocketReadBuffer = 1024 * 1024;
constexpr qint64 kReadPiece = 1024 * 1024;
constexpr int kReadsPerWakeUp = 8;

// A body collected in memory gets its announced length reserved up to this.
constexpr qint64 kReserveLimit = 512LL * 1024 * 1024;

// A response head, or a chunk-size or trailer line, longer than this is not
// HTTP; without a bound a server could make us hold any amount of it.
constexpr qsizetype kMaxHeadBytes = 256 * 1024;
constexpr qsizetype kMaxLineBytes = 16 * 1024;

const char kTimedOut[] = "Connection timed out";
const char kNoTlsLibrary[] = "Could not load SSL library.";
const char kClosedEarly[] = "The remote host closed the connection";

bool equalsNoCase(const QByteArray &a, const char *b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

using Headers = QList<QPair<QByteArray, QByteArray>>;

// The first header of that name (compared without case), or null.
const QByteArray *findHeader(const Headers &headers, const char *name)
{
    for (const auto &h : headers) {
        if (equalsNoCase(h.first, name))
            return &h.second;
    }
    return nullptr;
}

QByteArray headerValue(const Headers &headers, const char *name)
{
    const QByteArray *value = findHeader(headers, name);
    return value ? *value : QByteArray();
}

bool hasHeader(const Headers &headers, const char *name)
{
    return findHeader(headers, name) != nullptr;
}

struct Hop
{
    QByteArray version;
    int status = 0;
    QByteArray reason;
    Headers headers;
    QByteArray body;
    qint64 bodyBytes = 0;
};

// One request on its own connection, and its response.
class HopRunner
{
public:
    HopRunner(const ExchangeOptions &options, const QByteArray &method, const QByteArray &body)
        : m_options(options), m_method(method), m_body(body) {}

    Hop run(const QUrl &url)
    {
        const QString scheme = url.scheme().toLower();
        const bool secure = scheme == QLatin1String("https");
        if (!secure && scheme != QLatin1String("http"))
            throw AppError(QStringLiteral("Protocol \"%1\" is unknown").arg(url.scheme()));
        if (url.host().isEmpty())
            throw AppError(QStringLiteral("Invalid URL: %1").arg(url.toString()));
        if (secure && !QSslSocket::supportsSsl())
            throw AppError(QString::fromLatin1(kNoTlsLibrary));

        QEventLoop loop;
        QTimer idle;
        std::unique_ptr<QTcpSocket> socket;
        if (secure) {
            auto *ssl = new QSslSocket;
            ssl->setSslConfiguration(m_options.tls ? m_options.tls() : QSslConfiguration::defaultConfiguration());
            socket.reset(ssl);
        } else {
            socket.reset(new QTcpSocket);
        }
        m_socket = socket.get();
        m_unbuffered = !secure;
        m_loop = &loop;
        socket->setProxy(QNetworkProxy::NoProxy);
        socket->setReadBufferSize(kSocketReadBuffer);

        const bool timed = m_options.inactivityTimeoutMs > 0;
        idle.setSingleShot(true);
        if (timed) {
            idle.setInterval(m_options.inactivityTimeoutMs);
            QObject::connect(&idle, &QTimer::timeout, &loop, [this] { fail(QString::fromLatin1(kTimedOut)); });
        }
        auto activity = [&idle, timed] {
            if (timed)
                idle.start();
        };
        const QByteArray request = requestBytes(url);
        auto sendRequest = [this, request, activity] {
            activity();
            m_socket->write(request);
        };
        QObject::connect(socket.get(), &QTcpSocket::readyRead, &loop, [this, activity] {
            activity();
            receive();
        });
        QObject::connect(socket.get(), &QTcpSocket::bytesWritten, &loop, activity);
        QObject::connect(socket.get(), &QTcpSocket::disconnected, &loop, [this] { closedByPeer(); });
        QObject::connect(socket.get(), &QAbstractSocket::errorOccurred, &loop,
                         [this](QAbstractSocket::SocketError error) {
                             if (error == QAbstractSocket::RemoteHostClosedError)
                                 closedByPeer();
                             else
                                 fail(m_socket->errorString());
                         });

        const quint16 port = quint16(url.port(secure ? 443 : 80));
        activity();
        if (secure) {
            auto *ssl = static_cast<QSslSocket *>(socket.get());
            QObject::connect(ssl, &QSslSocket::encrypted, &loop, sendRequest);
            ssl->connectToHostEncrypted(url.host(), port);
        } else {
            QObject::connect(socket.get(), &QTcpSocket::connected, &loop, sendRequest);
            socket->connectToHost(url.host(), port, QIODevice::ReadWrite | QIODevice::Unbuffered);
        }
        if (!m_finished)
            runBlocking(loop);
        idle.stop();
        QObject::disconnect(socket.get(), nullptr, &loop, nullptr);
        socket->abort();

        if (!m_error.isEmpty())
            throw AppError(m_error);
        m_hop.body = std::move(m_memory);
        m_hop.bodyBytes = m_count;
        return std::move(m_hop);
    }

private:
    enum class Stage { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailer, UntilClose, Done };

    QByteArray requestBytes(const QUrl &url) const
    {
        QByteArray target = url.toEncoded(QUrl::RemoveScheme | QUrl::RemoveAuthority | QUrl::RemoveFragment);
        if (target.isEmpty())
            target = "/";
        QByteArray host = QUrl::toAce(url.host());
        if (host.isEmpty())
            host = url.host().toUtf8();
        if (host.contains(':'))
            host = '[' + host + ']';
        if (url.port() != -1)
            host += ':' + QByteArray::number(url.port());

        QByteArray out = m_method + ' ' + target + " HTTP/1.1\r\nHost: " + host + "\r\n";
        const auto &own = m_options.headers;
        for (const auto &h : own)
            out += h.first + ": " + h.second + "\r\n";
        if (!hasHeader(own, "User-Agent"))
            out += "User-Agent: Mozilla/5.0\r\n";
        if (!hasHeader(own, "Accept"))
            out += "Accept: */*\r\n";
        if (!hasHeader(own, "Accept-Encoding"))
            out += "Accept-Encoding: identity\r\n";
        if (m_method != "GET" && m_method != "HEAD")
            out += "Content-Length: " + QByteArray::number(m_body.size()) + "\r\n";
        out += "\r\n";
        if (m_method != "GET" && m_method != "HEAD")
            out += m_body;
        return out;
    }

    void fail(const QString &message)
    {
        if (m_finished)
            return;
        m_error = message.isEmpty() ? QStringLiteral("Network error") : message;
        finish();
    }

    void finish()
    {
        m_finished = true;
        m_loop->quit();
    }

    void closedByPeer()
    {
        if (m_finished)
            return;
        if (m_socket->bytesAvailable() > 0)
            receive();
        if (m_finished)
            return;
        if (m_stage == Stage::UntilClose) {
            m_stage = Stage::Done;
            finish();
            return;
        }
        fail(QString::fromLatin1(kClosedEarly));
    }

    void receive()
    {
        // A plain connection is unbuffered: each read takes the bytes from the
        // system straight into our buffer, until there are none for now or
        // the peer has closed. A TLS connection reads what it has decrypted.
        bool peerClosed = false;
        for (int reads = 0; !m_finished && reads < kReadsPerWakeUp; ++reads) {
            const qint64 most = m_unbuffered ? kReadPiece : m_socket->bytesAvailable();
            if (most <= 0)
                break;
            qint64 got = 0;
            if (m_stage == Stage::Length && m_in.isEmpty() && !m_options.sink) {
                // A body of announced length collected in memory goes straight
                // into its reserved room.
                got = readInto(m_memory, qMin(m_remaining, most), peerClosed);
                if (got > 0) {
                    m_count += got;
                    m_remaining -= got;
                    if (m_remaining == 0)
                        complete();
                }
            } else {
                // m_in keeps its room between reads: a fresh buffer for every
                // read would cost page faults on every piece of a large body.
                got = readInto(m_in, most, peerClosed);
                while (!m_finished && parseStep()) {
                }
            }
            if (got <= 0)
                break;
        }
        if (peerClosed)
            closedByPeer();
    }

    // Appends what the socket has, up to most bytes; the count, 0 when there
    // is nothing now, -1 when the peer has closed or the read failed.
    qint64 readInto(QByteArray &buffer, qint64 most, bool &peerClosed)
    {
        const qsizetype had = buffer.size();
        buffer.resize(had + qsizetype(most));
        const qint64 got = m_socket->read(buffer.data() + had, most);
        buffer.resize(had + qsizetype(qMax<qint64>(got, 0)));
        if (got < 0) {
            if (m_socket->error() == QAbstractSocket::RemoteHostClosedError || !m_socket->isOpen())
                peerClosed = true;
            else
                fail(m_socket->errorString());
        }
        return got;
    }

    // Where the CR LF of the next chunk-size or trailer line is, or -1 while
    // the line is still coming; a line longer than kMaxLineBytes fails.
    qsizetype chunkLineEnd()
    {
        const qsizetype end = m_in.indexOf("\r\n");
        if (end >= 0 && end <= kMaxLineBytes)
            return end;
        if (m_in.size() > kMaxLineBytes)
            fail(QStringLiteral("Invalid chunk in the response"));
        return -1;
    }

    // One step of the response parser; false when it needs more input.
    bool parseStep()
    {
        switch (m_stage) {
        case Stage::Head: {
            const qsizetype end = m_in.indexOf("\r\n\r\n");
            if (end < 0) {
                if (m_in.size() > kMaxHeadBytes)
                    fail(QStringLiteral("Invalid response from the server"));
                return false;
            }
            if (end > kMaxHeadBytes) {
                fail(QStringLiteral("Invalid response from the server"));
                return false;
            }
            const QByteArray head = m_in.left(end);
            m_in.remove(0, end + 4);
            parseHead(head);
            return true;
        }
        case Stage::Length: {
            const qint64 n = qMin<qint64>(m_remaining, m_in.size());
            if (n == 0)
                return false;
            if (n == m_in.size()) {
                deliver(m_in);
                m_in.resize(0);  // keeps its room
            } else {
                deliver(m_in.left(n));
                m_in.remove(0, n);
            }
            m_remaining -= n;
            if (m_remaining == 0)
                complete();
            return true;
        }
        case Stage::ChunkSize: {
            const qsizetype end = chunkLineEnd();
            if (end < 0)
                return false;
            bool ok = false;
            const qint64 size = m_in.left(end).split(';').value(0).trimmed().toLongLong(&ok, 16);
            m_in.remove(0, end + 2);
            if (!ok || size < 0) {
                fail(QStringLiteral("Invalid chunk in the response"));
                return false;
            }
            m_remaining = size;
            m_stage = size == 0 ? Stage::Trailer : Stage::ChunkData;
            return true;
        }
        case Stage::ChunkData: {
            const qint64 n = qMin<qint64>(m_remaining, m_in.size());
            if (n == 0)
                return false;
            deliver(m_in.left(n));
            m_in.remove(0, n);
            m_remaining -= n;
            if (m_remaining == 0)
                m_stage = Stage::ChunkEnd;
            return true;
        }
        case Stage::ChunkEnd:
            if (m_in.size() < 2)
                return false;
            m_in.remove(0, 2);
            m_stage = Stage::ChunkSize;
            return true;
        case Stage::Trailer: {
            const qsizetype end = chunkLineEnd();
            if (end < 0)
                return false;
            m_in.remove(0, end + 2);
            if (end == 0)
                complete();
            return true;
        }
        case Stage::UntilClose:
            if (m_in.isEmpty())
                return false;
            deliver(m_in);
            m_in.resize(0);
            return true;
        case Stage::Done:
            return false;
        }
        return false;
    }

    void parseHead(const QByteArray &head)
    {
        const QList<QByteArray> lines = head.split('\n');
        const QByteArray statusLine = lines.value(0).trimmed();
        const qsizetype sp1 = statusLine.indexOf(' ');
        const qsizetype sp2 = sp1 < 0 ? -1 : statusLine.indexOf(' ', sp1 + 1);
        bool ok = false;
        const int status = statusLine.mid(sp1 + 1, sp2 < 0 ? -1 : sp2 - sp1 - 1).toInt(&ok);
        if (sp1 < 0 || !ok || !statusLine.startsWith("HTTP/")) {
            fail(QStringLiteral("Invalid response from the server"));
            return;
        }
        if (status >= 100 && status <= 199)
            return;  // an interim response: the real one follows

        m_hop.version = statusLine.left(sp1);
        m_hop.status = status;
        m_hop.reason = sp2 < 0 ? QByteArray() : statusLine.mid(sp2 + 1).trimmed();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines[i].trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon > 0)
                m_hop.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }

        m_chunked = headerValue(m_hop.headers, "Transfer-Encoding").toLower().contains("chunked");
        const QByteArray lengthText = headerValue(m_hop.headers, "Content-Length").trimmed();
        bool haveLength = false;
        const qint64 length = lengthText.toLongLong(&haveLength);
        m_announced = haveLength && !m_chunked ? length : -1;
        m_writeToSink = m_options.sink && status >= 200 && status <= 299;
        if (m_writeToSink && m_options.onBodyStart)
            m_options.onBodyStart(m_announced);

        if (m_method == "HEAD" || status == 204 || status == 304) {
            complete();
        } else if (m_chunked) {
            m_stage = Stage::ChunkSize;
        } else if (haveLength) {
            m_remaining = length;
            // One allocation for a body collected in memory, instead of a
            // chain of ever larger copies.
            if (!m_options.sink && length > 0 && length <= kReserveLimit) {
                m_memory.reserve(length);
                adviseLargeBuffer(m_memory.data(), length);
            }
            m_stage = Stage::Length;
            if (length == 0)
                complete();
        } else {
            m_stage = Stage::UntilClose;
        }
    }

    void deliver(const QByteArray &piece)
    {
        if (piece.isEmpty())
            return;
        if (!m_options.sink) {
            m_memory.append(piece);
            m_count += piece.size();
            return;
        }
        if (!m_writeToSink)
            return;  // the body of a redirect or an error: dropped
        if (m_options.sink->write(piece) != piece.size()) {
            QString message = m_options.sink->errorString();
            fail(message.isEmpty() || message == QLatin1String("Unknown error")
                     ? QStringLiteral("Could not write the downloaded data")
                     : message);
            return;
        }
        m_count += piece.size();
        if (m_options.onProgress)
            m_options.onProgress(m_count, m_announced, m_chunked);
    }

    void complete()
    {
        m_stage = Stage::Done;
        finish();
    }

    const ExchangeOptions &m_options;
    const QByteArray m_method;
    const QByteArray m_body;
    QTcpSocket *m_socket = nullptr;
    bool m_unbuffered = false;
    QEventLoop *m_loop = nullptr;
    Stage m_stage = Stage::Head;
    QByteArray m_in;
    qint64 m_remaining = 0;
    qint64 m_announced = -1;
    bool m_chunked = false;
    bool m_writeToSink = false;
    Hop m_hop;
    QByteArray m_memory;
    qint64 m_count = 0;
    bool m_finished = false;
    QString m_error;
};

bool isRedirectStatus(int status)
{
    return status >= 300 && status <= 399;
}

} // namespace

QString ExchangeResult::statusLine() const
{
    QString line = QString::fromLatin1(version.isEmpty() ? QByteArray("HTTP/1.1") : version)
        + QStringLiteral(" %1").arg(status);
    if (!reasonPhrase.isEmpty())
        line += QLatin1Char(' ') + QString::fromLatin1(reasonPhrase);
    return line;
}

ExchangeResult runExchange(const QUrl &url, const ExchangeOptions &options)
{
    ExchangeResult result;
    QUrl current = url;
    QByteArray method = options.method;
    QByteArray body = options.body;
    int browserRedirects = 0;
    for (;;) {
        Hop hop = HopRunner(options, method, body).run(current);
        result.version = hop.version;
        result.status = hop.status;
        result.reasonPhrase = hop.reason;
        result.contentType = headerValue(hop.headers, "Content-Type");
        const QByteArray location = headerValue(hop.headers, "Location");
        const bool redirect = isRedirectStatus(hop.status) && hop.status != 304 && !location.isEmpty();

        if (redirect && options.redirects == RedirectRule::Counted) {
            ++result.redirects;
            const QString text = QString::fromUtf8(location);
            if (options.onRedirect)
                options.onRedirect(text, result.redirects);
            if (result.redirects < kRedirectLimit) {
                current = current.resolved(QUrl(text));
                continue;
            }
            // At the limit the redirect is not followed: its body is dropped
            // and the exchange ends quietly with nothing.
            result.redirectLimitReached = true;
            return result;
        }
        if (redirect && options.redirects == RedirectRule::Browser && hop.status != 300
            && hop.status != 305) {
            const QUrl next = current.resolved(QUrl(QString::fromUtf8(location)));
            const bool downgrade = current.scheme().toLower() == QLatin1String("https")
                && next.scheme().toLower() != QLatin1String("https");
            if (!downgrade) {
                if (++browserRedirects > options.maxRedirects)
                    throw AppError(QStringLiteral("Too many redirects"));
                if (hop.status == 303 || (method == "POST" && (hop.status == 301 || hop.status == 302))) {
                    method = "GET";
                    body.clear();
                }
                current = next;
                continue;
            }
        }
        result.body = std::move(hop.body);
        result.bodyBytes = hop.bodyBytes;
        return result;
    }
}

QSslConfiguration unverifiedTlsConfiguration()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
    // Old feed hosts still speak TLS 1.0 and 1.1; Qt marks these deprecated.
    tls.setProtocol(QSsl::TlsV1_0OrLater);
QT_WARNING_POP
    // OpenSSL 3 refuses TLS 1.0/1.1 at its default security level. The GET
    // transfers do not verify the server anyway, so accept the old ciphers
    // and signatures too. TLS 1.3 has its own cipher suites and is untouched.
    if (QSslSocket::activeBackend() == QLatin1String("openssl"))
        tls.setBackendConfigurationOption("CipherString", QByteArray("DEFAULT:@SECLEVEL=0"));
    return tls;
}

QSslConfiguration verifyingTlsConfiguration()
{
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    const QString extra = qEnvironmentVariable("MORVANE_CA_FILE");
    if (!extra.isEmpty())
        tls.addCaCertificates(extra, QSsl::Pem);
    return tls;
}

QByteArray charsetOf(const QByteArray &contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray part = parts[i].trimmed();
        const qsizetype eq = part.indexOf('=');
        if (eq < 0 || part.left(eq).trimmed().toLower() != "charset")
            continue;
        QByteArray value = part.mid(eq + 1).trimmed();
        if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
            value = value.mid(1, value.size() - 2);
        return value.toLower();
    }
    return {};
}

QString decodeWithCharset(const QByteArray &body, const QByteArray &charset,
                          const QByteArray &fallback)
{
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.constData(), QStringConverter::Flag::Stateless);
        if (decoder.isValid())
            return decoder.decode(body);
    }
    QStringDecoder decoder(fallback.constData(), QStringConverter::Flag::Stateless);
    if (decoder.isValid())
        return decoder.decode(body);
    return QString::fromLatin1(body);
}
