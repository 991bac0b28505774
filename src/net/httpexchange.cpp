#include "net/httpexchange.h"

#include "base/errors.h"
#include "net/blockingwait.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QIODevice>
#include <QNetworkProxyFactory>
#include <QSocketNotifier>
#include <QStringDecoder>
#include <QTimer>

#include <curl/curl.h>

#include <map>
#include <memory>
#include <new>
#include <vector>

namespace {

// A response head longer than this is not HTTP; without a bound a server
// could make us hold any amount of it.
constexpr qsizetype kMaxHeadBytes = 256 * 1024;

// How often a transfer looks at its cancel flag.
constexpr int kCancelCheckMs = 100;

// libcurl hands the body over in pieces of at most this size.
constexpr long kReceiveBufferBytes = 256 * 1024;

const char kTimedOut[] = "Connection timed out";
const char kNoTlsLibrary[] = "Could not load SSL library.";
const char kInvalidResponse[] = "Invalid response from the server";
const char kHeadCutShort[] = "The server's reply ended before its headers did";

// libcurl's process-wide set-up, once, before the first handle; the static's
// initialisation is thread-safe.
bool curlReady()
{
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

bool curlHasTls()
{
    return (curl_version_info(CURLVERSION_NOW)->features & CURL_VERSION_SSL) != 0;
}

bool equalsNoCase(const QByteArray &a, const char *b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

const QByteArray *findHeader(const HeaderList &headers, const char *name)
{
    for (const auto &h : headers) {
        if (equalsNoCase(h.first, name))
            return &h.second;
    }
    return nullptr;
}

// Whether the environment names a proxy the way curl reads it; then libcurl
// takes it (and no_proxy) from there itself.
bool environmentNamesProxy()
{
    for (const char *name : {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"}) {
        if (!qEnvironmentVariableIsEmpty(name))
            return true;
    }
    return false;
}

// Whether the program runs in a desktop session, the only place with proxy
// settings of a desktop. Asking for them costs a noticeable part of a second
// the first time (Qt hands the question to libproxy), so a program started
// outside a session (a script, a test) does not ask.
bool inDesktopSession()
{
    return !qEnvironmentVariableIsEmpty("XDG_CURRENT_DESKTOP") || !qEnvironmentVariableIsEmpty("DESKTOP_SESSION");
}

// The desktop's proxy for the URL as Qt reads it, in libcurl's form; empty
// for a direct connection.
QByteArray desktopProxyFor(const QUrl &url)
{
    if (!inDesktopSession())
        return {};
    const QList<QNetworkProxy> proxies = QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(url));
    for (const QNetworkProxy &proxy : proxies) {
        const char *scheme = nullptr;
        if (proxy.type() == QNetworkProxy::HttpProxy)
            scheme = "http";
        else if (proxy.type() == QNetworkProxy::Socks5Proxy)
            scheme = "socks5h";
        else
            continue;
        QUrl address;
        address.setScheme(QString::fromLatin1(scheme));
        address.setHost(proxy.hostName());
        address.setPort(proxy.port());
        address.setUserName(proxy.user());
        address.setPassword(proxy.password());
        return address.toEncoded();
    }
    return {};
}

class CurlList
{
public:
    CurlList() = default;
    CurlList(const CurlList &) = delete;
    CurlList &operator=(const CurlList &) = delete;
    ~CurlList() { curl_slist_free_all(m_list); }

    void append(const QByteArray &line) { m_list = curl_slist_append(m_list, line.constData()); }
    curl_slist *get() const { return m_list; }

private:
    curl_slist *m_list = nullptr;
};

struct Hop
{
    QByteArray version;
    int status = 0;
    QByteArray reason;
    HeaderList headers;
    QByteArray body;
    qint64 bodyBytes = 0;
};

// One request on its own easy handle, driven by its own multi handle through
// socket notifiers and a timer of the calling thread.
class HopRunner
{
public:
    HopRunner(const ExchangeOptions &options, const QByteArray &method, const QByteArray &body,
              const QDeadlineTimer &deadline)
        : m_options(options), m_method(method), m_body(body), m_deadline(deadline)
    {
    }

    HopRunner(const HopRunner &) = delete;
    HopRunner &operator=(const HopRunner &) = delete;

    ~HopRunner()
    {
        if (m_multi && m_easy)
            curl_multi_remove_handle(m_multi, m_easy);
        if (m_easy)
            curl_easy_cleanup(m_easy);
        if (m_mime)
            curl_mime_free(m_mime);
        if (m_multi)
            curl_multi_cleanup(m_multi);
    }

    Hop run(const QUrl &url)
    {
        const QString scheme = url.scheme().toLower();
        const bool secure = scheme == QLatin1String("https");
        if (!secure && scheme != QLatin1String("http"))
            throw AppError(QStringLiteral("Protocol \"%1\" is unknown").arg(url.scheme()));
        if (url.host().isEmpty())
            throw AppError(QStringLiteral("Invalid URL: %1").arg(url.toString()));
        if (!curlReady())
            throw AppError(QStringLiteral("The network library could not be started"));
        if (secure && !curlHasTls())
            throw AppError(QString::fromLatin1(kNoTlsLibrary));
        if (m_deadline.hasExpired())
            throw AppError(totalTimeoutText());
        if (m_options.cancel && m_options.cancel->load())
            throw AppError(QStringLiteral("Cancelled"));

        m_multi = curl_multi_init();
        m_easy = curl_easy_init();
        if (!m_multi || !m_easy)
            throw AppError(QStringLiteral("Out of memory"));
        configure(url, secure);

        m_curlTimer.setSingleShot(true);
        QObject::connect(&m_curlTimer, &QTimer::timeout, &m_loop, [this] { drive(CURL_SOCKET_TIMEOUT, 0); });
        m_idle.setSingleShot(true);
        if (m_options.inactivityTimeoutMs > 0) {
            m_idle.setInterval(m_options.inactivityTimeoutMs);
            QObject::connect(&m_idle, &QTimer::timeout, &m_loop, [this] {
                // A timer that fires after the end changes nothing.
                if (!m_finished)
                    m_timedOut = true;
                fail(QString::fromLatin1(kTimedOut));
            });
            m_idle.start();
        }
        QTimer cancelCheck;
        if (m_options.cancel) {
            QObject::connect(&cancelCheck, &QTimer::timeout, &m_loop, [this] {
                if (m_options.cancel->load())
                    fail(QStringLiteral("Cancelled"));
            });
            cancelCheck.start(kCancelCheckMs);
        }
        QTimer overall;
        if (!m_deadline.isForever()) {
            overall.setSingleShot(true);
            QObject::connect(&overall, &QTimer::timeout, &m_loop, [this] {
                if (m_options.totalTimeoutAsInactivity && !m_finished)
                    m_timedOut = true;
                fail(totalTimeoutText());
            });
            overall.start(int(qMin<qint64>(m_deadline.remainingTime(), INT_MAX)));
        }

        curl_multi_setopt(m_multi, CURLMOPT_SOCKETFUNCTION, &HopRunner::onSocket);
        curl_multi_setopt(m_multi, CURLMOPT_SOCKETDATA, this);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERFUNCTION, &HopRunner::onTimer);
        curl_multi_setopt(m_multi, CURLMOPT_TIMERDATA, this);
        if (curl_multi_add_handle(m_multi, m_easy) != CURLM_OK)
            throw AppError(QStringLiteral("The request could not be started"));

        if (!m_finished)
            runBlocking(m_loop);
        m_curlTimer.stop();
        m_idle.stop();
        overall.stop();
        cancelCheck.stop();

        if (!m_error.isEmpty()) {
            if (m_timedOut && bodyUnderway())
                throw TransferBrokenError(m_error, m_count, m_announced);
            throw AppError(m_error);
        }
        // A status line without the end of its head is no reply at all,
        // whatever libcurl made of it.
        if (!m_headDone && m_hop.status > 0
            && (m_code == CURLE_OK || m_code == CURLE_PARTIAL_FILE || m_code == CURLE_GOT_NOTHING
                || m_code == CURLE_RECV_ERROR || m_code == CURLE_WEIRD_SERVER_REPLY))
            throw AppError(QString::fromLatin1(kHeadCutShort));
        if (m_code != CURLE_OK) {
            if (bodyUnderway() && (m_code == CURLE_PARTIAL_FILE || m_code == CURLE_RECV_ERROR))
                throw TransferBrokenError(breakCause(), m_count, m_announced);
            throw AppError(curlMessage(url, secure));
        }
        if (!m_headDone)
            throw AppError(QString::fromLatin1(kHeadCutShort));
        m_hop.body = std::move(m_memory);
        m_hop.bodyBytes = m_count;
        return std::move(m_hop);
    }

private:
    // A file part of the body, read as it is sent.
    struct PartSource
    {
        QIODevice *device = nullptr;
        qint64 size = 0;
        qint64 position = 0;
        HopRunner *runner = nullptr;
    };

    struct Watch
    {
        std::unique_ptr<QSocketNotifier> read;
        std::unique_ptr<QSocketNotifier> write;
    };

    void configure(const QUrl &url, bool secure)
    {
        m_errorText[0] = '\0';
        CURL *e = m_easy;
        m_url = url.toEncoded(QUrl::RemoveFragment);
        curl_easy_setopt(e, CURLOPT_URL, m_url.constData());
        curl_easy_setopt(e, CURLOPT_ERRORBUFFER, m_errorText);
        curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(e, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);
        curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kReceiveBufferBytes);
        curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

        curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HopRunner::onHeader);
        curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HopRunner::onBody);
        curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &HopRunner::onTransferInfo);
        curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);

        if (!m_options.multipart.isEmpty()) {
            setMultipartBody();
        } else if (m_method == "GET") {
            curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        } else if (m_method == "HEAD") {
            curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        } else {
            curl_easy_setopt(e, CURLOPT_POST, 1L);
            curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(m_body.size()));
            curl_easy_setopt(e, CURLOPT_POSTFIELDS, m_body.constData());
            if (m_method != "POST")
                curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, m_method.constData());
        }

        bool ownAgent = false;
        for (const auto &h : m_options.headers) {
            m_headerList.append(h.first + ": " + h.second);
            ownAgent = ownAgent || equalsNoCase(h.first, "User-Agent");
        }
        if (!ownAgent)
            m_headerList.append("User-Agent: Mozilla/5.0");
        // A form body goes at once, without waiting for a "100 Continue"; a
        // multipart one (a recording, perhaps of many megabytes) waits for the
        // server's word first, so that a refusal comes before the upload.
        if (m_options.multipart.isEmpty())
            m_headerList.append("Expect:");
        else
            m_headerList.append("Expect: 100-continue");
        curl_easy_setopt(e, CURLOPT_HTTPHEADER, m_headerList.get());

        for (const QByteArray &entry : m_options.resolve)
            m_resolveList.append(entry);
        if (m_resolveList.get())
            curl_easy_setopt(e, CURLOPT_RESOLVE, m_resolveList.get());

        if (!environmentNamesProxy()) {
            const QByteArray proxy = desktopProxyFor(url);
            if (!proxy.isEmpty())
                curl_easy_setopt(e, CURLOPT_PROXY, proxy.constData());
        }

        if (m_options.connectTimeoutMs > 0)
            curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, long(m_options.connectTimeoutMs));

        if (secure)
            configureTls();
    }

    void setMultipartBody()
    {
        m_mime = curl_mime_init(m_easy);
        for (const FormPart &part : m_options.multipart) {
            curl_mimepart *p = curl_mime_addpart(m_mime);
            curl_mime_name(p, part.name.constData());
            if (part.file) {
                part.file->seek(0);  // a second request sends the file again
                // libcurl asks for the file's bytes as it sends them, and may
                // ask to start again from the beginning.
                m_sources.push_back(std::make_unique<PartSource>(PartSource{part.file, part.file->size(), 0, this}));
                curl_mime_data_cb(p, curl_off_t(m_sources.back()->size), &HopRunner::readPart, &HopRunner::seekPart,
                                  nullptr, m_sources.back().get());
                curl_mime_filename(p, part.fileName.constData());
            } else {
                curl_mime_data(p, part.value.constData(), size_t(part.value.size()));
            }
            if (!part.contentType.isEmpty())
                curl_mime_type(p, part.contentType.constData());
        }
        curl_easy_setopt(m_easy, CURLOPT_MIMEPOST, m_mime);
    }

    static size_t readPart(char *buffer, size_t size, size_t count, void *data)
    {
        auto *source = static_cast<PartSource *>(data);
        const qint64 want = qMin<qint64>(qint64(size * count), source->size - source->position);
        if (want <= 0)
            return 0;
        const qint64 got = source->device->read(buffer, want);
        if (got <= 0) {
            // Shorter than it was when the request began (another program
            // cut it): the body can never reach its announced length.
            source->runner->fail(got < 0 ? QStringLiteral("The file cannot be read: %1").arg(source->device->errorString())
                                         : QStringLiteral("The file became shorter while it was being sent."));
            return CURL_READFUNC_ABORT;
        }
        source->position += got;
        return size_t(got);
    }

    static int seekPart(void *data, curl_off_t offset, int origin)
    {
        auto *source = static_cast<PartSource *>(data);
        if (origin != SEEK_SET)
            return CURL_SEEKFUNC_CANTSEEK;
        if (!source->device->seek(qint64(offset)))
            return CURL_SEEKFUNC_FAIL;
        source->position = qint64(offset);
        return CURL_SEEKFUNC_OK;
    }

    void configureTls()
    {
        CURL *e = m_easy;
        if (m_options.tls == TlsCheck::None) {
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 0L);
            curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 0L);
            curl_easy_setopt(e, CURLOPT_SSLVERSION, long(CURL_SSLVERSION_TLSv1_0));
            // OpenSSL 3 refuses TLS 1.0/1.1 at its default security level.
            // These transfers do not verify the server anyway, so accept the
            // old ciphers and signatures too. TLS 1.3 has its own cipher
            // suites and is untouched.
            curl_easy_setopt(e, CURLOPT_SSL_CIPHER_LIST, "DEFAULT:@SECLEVEL=0");
            return;
        }
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
        const QString extra = qEnvironmentVariable("MORVANE_CA_FILE");
        if (extra.isEmpty())
            return;
        // libcurl takes one bundle: the system's, with the extra file after it.
        char *systemBundle = nullptr;
        curl_easy_getinfo(e, CURLINFO_CAINFO, &systemBundle);
        for (const QString &path : {systemBundle ? QString::fromLocal8Bit(systemBundle) : QString(), extra}) {
            QFile file(path);
            if (!path.isEmpty() && file.open(QIODevice::ReadOnly))
                m_caBundle += file.readAll() + '\n';
        }
        curl_blob blob{m_caBundle.data(), size_t(m_caBundle.size()), CURL_BLOB_NOCOPY};
        curl_easy_setopt(e, CURLOPT_CAINFO_BLOB, &blob);
    }

    // Whether the body of the reply had begun to come: a failure from here
    // on is a break in the body.
    bool bodyUnderway() const { return m_headDone && m_keepBody; }

    QString breakCause() const
    {
        if (QByteArray(m_errorText).contains("reset"))
            return QStringLiteral("The connection was reset");
        return QStringLiteral("The connection closed");
    }

    QString curlMessage(const QUrl &url, bool secure) const
    {
        const QByteArray text(m_errorText);
        const QString authority = url.host() + QLatin1Char(':') + QString::number(url.port(secure ? 443 : 80));
        // Where the TLS library cannot give a working context (no usable
        // random source or algorithms), https cannot be had at all.
        if (secure
            && (m_code == CURLE_SSL_ENGINE_INITFAILED
                || text.startsWith("Insufficient randomness")
                || text.startsWith("SSL: couldn't create a context")))
            return QString::fromLatin1(kNoTlsLibrary);
        // libcurl refuses a header line too long to hold as "out of memory".
        if (m_code == CURLE_OUT_OF_MEMORY && !m_headDone)
            return QString::fromLatin1(kInvalidResponse);
        switch (m_code) {
        case CURLE_COULDNT_RESOLVE_PROXY:
            return QStringLiteral("Could not find the proxy %1").arg(afterColon(text));
        case CURLE_COULDNT_RESOLVE_HOST:
            return QStringLiteral("Could not find the server %1").arg(url.host());
        case CURLE_COULDNT_CONNECT: {
            // "Failed to connect to 127.0.0.1 port 18899 after 0 ms: ..." names
            // where libcurl tried: the server, or else the proxy in between.
            const QString tried = connectTarget(text);
            if (!tried.isEmpty() && tried != authority)
                return QStringLiteral("Could not connect to the proxy %1").arg(tried);
            return QStringLiteral("Could not connect to the server %1").arg(authority);
        }
        case CURLE_GOT_NOTHING:
            return QStringLiteral("The server closed the connection without replying");
        default:
            break;
        }
        long tunnelStatus = 0;
        curl_easy_getinfo(m_easy, CURLINFO_HTTP_CONNECTCODE, &tunnelStatus);
        if (tunnelStatus >= 300)
            return QStringLiteral("The proxy refused the tunnel to %1 with status %2").arg(authority).arg(tunnelStatus);
        if (!text.isEmpty())
            return QString::fromUtf8(text).trimmed();
        return QString::fromUtf8(curl_easy_strerror(m_code));
    }

    // What follows the first ": " of a libcurl message.
    static QString afterColon(const QByteArray &text)
    {
        const qsizetype colon = text.indexOf(": ");
        return QString::fromUtf8(colon < 0 ? text : text.mid(colon + 2)).trimmed();
    }

    // "host:port" of "Failed to connect to host port N ..."; empty when the
    // message is not of that form.
    static QString connectTarget(const QByteArray &text)
    {
        static const QByteArray lead = "Failed to connect to ";
        if (!text.startsWith(lead))
            return {};
        const QList<QByteArray> words = text.mid(lead.size()).split(' ');
        if (words.size() < 3 || words[1] != "port")
            return {};
        QByteArray host = words[0];
        if (host.startsWith('[') && host.endsWith(']'))
            host = host.mid(1, host.size() - 2);
        return QString::fromUtf8(host) + QLatin1Char(':') + QString::fromUtf8(words[2]);
    }

    // ------------------------------------------------------------ event loop

    static int onSocket(CURL *, curl_socket_t socket, int what, void *self, void *)
    {
        static_cast<HopRunner *>(self)->watch(socket, what);
        return 0;
    }

    static int onTimer(CURLM *, long timeoutMs, void *self)
    {
        QTimer &timer = static_cast<HopRunner *>(self)->m_curlTimer;
        if (timeoutMs < 0)
            timer.stop();
        else
            timer.start(int(qMin<long>(timeoutMs, INT_MAX)));
        return 0;
    }

    void watch(curl_socket_t socket, int what)
    {
        if (what == CURL_POLL_REMOVE) {
            // The notifier may be the one whose signal runs right now: it is
            // switched off here and destroyed with the runner.
            auto it = m_watches.find(socket);
            if (it == m_watches.end())
                return;
            for (auto *n : {&it->second.read, &it->second.write}) {
                if (*n) {
                    (*n)->setEnabled(false);
                    m_retired.push_back(std::move(*n));
                }
            }
            m_watches.erase(it);
            return;
        }
        Watch &w = m_watches[socket];
        arm(w.read, socket, QSocketNotifier::Read, (what & CURL_POLL_IN) != 0, CURL_CSELECT_IN);
        arm(w.write, socket, QSocketNotifier::Write, (what & CURL_POLL_OUT) != 0, CURL_CSELECT_OUT);
    }

    void arm(std::unique_ptr<QSocketNotifier> &notifier, curl_socket_t socket, QSocketNotifier::Type type,
             bool on, int event)
    {
        if (!on) {
            if (notifier)
                notifier->setEnabled(false);
            return;
        }
        if (!notifier) {
            notifier = std::make_unique<QSocketNotifier>(qintptr(socket), type);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, &m_loop,
                             [this, socket, event] { drive(socket, event); });
        }
        notifier->setEnabled(true);
    }

    void drive(curl_socket_t socket, int events)
    {
        if (m_finished)
            return;
        int running = 0;
        curl_multi_socket_action(m_multi, socket, events, &running);
        int left = 0;
        while (CURLMsg *message = curl_multi_info_read(m_multi, &left)) {
            if (message->msg == CURLMSG_DONE && !m_finished) {
                m_code = message->data.result;
                finish();
            }
        }
    }

    QString totalTimeoutText() const
    {
        return m_options.totalTimeoutAsInactivity ? QString::fromLatin1(kTimedOut) : m_options.totalTimeoutMessage;
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
        m_loop.quit();
    }

    void activity()
    {
        if (m_options.inactivityTimeoutMs > 0)
            m_idle.start();
    }

    // Runs a callback's work; nothing is thrown back into libcurl: a failure
    // ends the transfer with its message, thrown later on this thread.
    template<typename Work>
    bool guarded(Work &&work)
    {
        try {
            return work();
        } catch (const AppError &e) {
            fail(e.message());
        } catch (const std::bad_alloc &) {
            fail(QStringLiteral("Out of memory"));
        } catch (const std::exception &e) {
            fail(QString::fromLocal8Bit(e.what()));
        } catch (...) {
            fail(QStringLiteral("Unexpected error during the transfer"));
        }
        return false;
    }

    // ------------------------------------------------------------ response

    static size_t onHeader(char *data, size_t size, size_t count, void *self)
    {
        auto *runner = static_cast<HopRunner *>(self);
        const size_t bytes = size * count;
        return runner->guarded([&] { return runner->header(QByteArray(data, qsizetype(bytes))); }) ? bytes : 0;
    }

    static size_t onBody(char *data, size_t size, size_t count, void *self)
    {
        auto *runner = static_cast<HopRunner *>(self);
        const size_t bytes = size * count;
        return runner->guarded([&] { return runner->body(data, qint64(bytes)); }) ? bytes : 0;
    }

    static int onTransferInfo(void *self, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent)
    {
        auto *runner = static_cast<HopRunner *>(self);
        if (received != runner->m_received || sent != runner->m_sent) {
            runner->m_received = received;
            runner->m_sent = sent;
            runner->activity();
        }
        return runner->m_finished ? 1 : 0;
    }

    bool header(const QByteArray &line)
    {
        activity();
        m_headBytes += line.size();
        if (m_headBytes > kMaxHeadBytes) {
            fail(QString::fromLatin1(kInvalidResponse));
            return false;
        }
        if (line.startsWith("HTTP/")) {
            // A new response head: an interim one, or the real one after it.
            const QByteArray status = line.trimmed();
            const qsizetype sp1 = status.indexOf(' ');
            const qsizetype sp2 = sp1 < 0 ? -1 : status.indexOf(' ', sp1 + 1);
            m_hop = Hop();
            m_headDone = false;
            m_hop.version = status.left(sp1);
            m_hop.status = status.mid(sp1 + 1, sp2 < 0 ? -1 : sp2 - sp1 - 1).toInt();
            m_hop.reason = sp2 < 0 ? QByteArray() : status.mid(sp2 + 1).trimmed();
            m_headBytes = line.size();
            return true;
        }
        if (line.trimmed().isEmpty())
            return m_hop.status >= 100 && m_hop.status <= 199 ? true : headComplete();
        if ((line.startsWith(' ') || line.startsWith('\t')) && !m_hop.headers.isEmpty()) {
            m_hop.headers.last().second += ' ' + line.trimmed();  // a folded line
            return true;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            m_hop.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        return true;
    }

    bool headComplete()
    {
        m_headDone = true;
        // Content-Length values that disagree leave the body's end unknown.
        QByteArray length;
        for (const auto &h : std::as_const(m_hop.headers)) {
            if (!equalsNoCase(h.first, "Content-Length"))
                continue;
            for (const QByteArray &value : h.second.split(',')) {
                const QByteArray v = value.trimmed();
                if (!length.isEmpty() && v != length) {
                    fail(QString::fromLatin1(kInvalidResponse) + QStringLiteral(": conflicting Content-Length"));
                    return false;
                }
                length = v;
            }
        }
        m_chunked = headerValue(m_hop.headers, "Transfer-Encoding").toLower().contains("chunked");
        bool haveLength = false;
        const qint64 announced = length.toLongLong(&haveLength);
        m_announced = haveLength && !m_chunked ? announced : -1;
        m_keepBody = !m_options.sink || (m_hop.status >= 200 && m_hop.status <= 299);
        const bool errorHead = m_options.maxErrorBodyBytes >= 0 && !(m_hop.status >= 200 && m_hop.status <= 299);
        if (m_keepBody && !errorHead && m_options.maxBodyBytes >= 0 && m_announced > m_options.maxBodyBytes) {
            fail(m_options.tooLargeMessage);
            return false;
        }
        if (m_options.sink && m_keepBody && m_options.onBodyStart)
            m_options.onBodyStart(m_hop.status, m_hop.headers);
        return !m_finished;
    }

    bool body(const char *data, qint64 bytes)
    {
        activity();
        if (!m_keepBody)
            return true;  // the body of a redirect or an error: dropped
        if (m_options.maxErrorBodyBytes >= 0 && !(m_hop.status >= 200 && m_hop.status <= 299)) {
            // Only the head of an error's body is kept.
            bytes = qMin(bytes, m_options.maxErrorBodyBytes - m_count);
            if (bytes <= 0)
                return true;
        }
        if (m_options.maxBodyBytes >= 0 && m_count + bytes > m_options.maxBodyBytes) {
            fail(m_options.tooLargeMessage);
            return false;
        }
        if (!m_options.sink) {
            // Room grows with what arrives, never with what was announced.
            m_memory.append(data, qsizetype(bytes));
            m_count += bytes;
            return true;
        }
        if (m_options.sink->write(data, bytes) != bytes) {
            const QString message = m_options.sink->errorString();
            fail(message.isEmpty() || message == QLatin1String("Unknown error")
                     ? QStringLiteral("Could not write the downloaded data")
                     : message);
            return false;
        }
        m_count += bytes;
        if (m_options.onProgress)
            m_options.onProgress(m_count, m_announced, m_chunked);
        return true;
    }

    const ExchangeOptions &m_options;
    const QByteArray m_method;
    const QByteArray m_body;
    const QDeadlineTimer m_deadline;

    CURLM *m_multi = nullptr;
    CURL *m_easy = nullptr;
    QByteArray m_url;
    CurlList m_headerList;
    CurlList m_resolveList;
    curl_mime *m_mime = nullptr;
    std::vector<std::unique_ptr<PartSource>> m_sources;
    QByteArray m_caBundle;
    char m_errorText[CURL_ERROR_SIZE] = {};

    QEventLoop m_loop;
    QTimer m_curlTimer;
    QTimer m_idle;
    std::map<curl_socket_t, Watch> m_watches;
    std::vector<std::unique_ptr<QSocketNotifier>> m_retired;
    curl_off_t m_received = 0;
    curl_off_t m_sent = 0;

    bool m_finished = false;
    bool m_timedOut = false;
    CURLcode m_code = CURLE_OK;
    QString m_error;

    Hop m_hop;
    qint64 m_headBytes = 0;
    bool m_headDone = false;
    qint64 m_announced = -1;
    bool m_chunked = false;
    bool m_keepBody = true;
    QByteArray m_memory;
    qint64 m_count = 0;
};

bool isRedirectStatus(int status)
{
    return status >= 300 && status <= 399;
}

} // namespace

TransferBrokenError::TransferBrokenError(const QString &cause, qint64 received, qint64 expected)
    : AppError(describe(cause, received, expected)), m_cause(cause)
{
}

QString TransferBrokenError::describe(const QString &cause, qint64 received, qint64 expected)
{
    if (expected >= 0)
        return QStringLiteral("%1 after %2 of %3 bytes").arg(cause).arg(received).arg(expected);
    return QStringLiteral("%1 after %2 bytes").arg(cause).arg(received);
}

QString ExchangeResult::statusLine() const
{
    QString line = QString::fromLatin1(version.isEmpty() ? QByteArray("HTTP/1.1") : version)
        + QStringLiteral(" %1").arg(status);
    if (!reasonPhrase.isEmpty())
        line += QLatin1Char(' ') + QString::fromLatin1(reasonPhrase);
    return line;
}

QByteArray headerValue(const HeaderList &headers, const char *name)
{
    const QByteArray *value = findHeader(headers, name);
    return value ? *value : QByteArray();
}

QByteArray ExchangeResult::header(const char *name) const
{
    return headerValue(headers, name);
}

ExchangeResult runExchange(const QUrl &url, const ExchangeOptions &options)
{
    const QDeadlineTimer deadline = options.totalTimeoutMs > 0 ? QDeadlineTimer(options.totalTimeoutMs)
                                                               : QDeadlineTimer(QDeadlineTimer::Forever);
    ExchangeResult result;
    QUrl current = url;
    QByteArray method = options.method;
    QByteArray body = options.body;
    int browserRedirects = 0;
    for (;;) {
        Hop hop = HopRunner(options, method, body, deadline).run(current);
        result.version = hop.version;
        result.status = hop.status;
        result.reasonPhrase = hop.reason;
        result.headers = std::move(hop.headers);
        const QByteArray location = result.header("Location");
        const bool redirect = isRedirectStatus(hop.status) && hop.status != 304 && !location.isEmpty();

        // A relative Location keeps the user name and password of the URL it
        // came from; an absolute one carries its own, if any.
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
