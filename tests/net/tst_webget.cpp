#include "base/errors.h"
#include "net/webget.h"
#include "testserver.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <functional>

#include "testhelpers.h"

Q_DECLARE_METATYPE(Response)

namespace {

using testhelpers::errorOf;
using testhelpers::kNoError;

QByteArray utf16(const QString &text, bool littleEndian)
{
    QByteArray out = littleEndian ? QByteArray("\xFF\xFE", 2) : QByteArray("\xFE\xFF", 2);
    for (const QChar c : text) {
        const char lo = char(c.unicode() & 0xFF);
        const char hi = char(c.unicode() >> 8);
        out.append(littleEndian ? lo : hi);
        out.append(littleEndian ? hi : lo);
    }
    return out;
}

struct ProgressEvent
{
    qint64 count = 0;
    qint64 announced = 0;
    bool chunked = false;
};

} // namespace

class TestWebGet : public QObject
{
    Q_OBJECT

private slots:
    void decodesBody_data();
    void decodesBody();
    void followsRedirects_data();
    void followsRedirects();
    void failsWithStatusLine_data();
    void failsWithStatusLine();
    void failsWithTransportMessage();
    void sendsProgramHeaders();
    void usesNewConnectionPerRequest();
    void fetchesOverTls_data();
    void fetchesOverTls();
    void inactivityEndsStalledTransfer_data();
    void inactivityEndsStalledTransfer();
    void slowLivingTransferGoesOn();
    void oversizedHeadIsError();
    void closedMidBodyIsError_data();
    void closedMidBodyIsError();
    void keepsProcessingEventsWhileBlocking();
    void worksOnWorkerThread();

    void downloadReportsProgress_data();
    void downloadReportsProgress();
    void downloadWritesAsItArrives();
    void downloadReportsRedirects_data();
    void downloadReportsRedirects();
    void downloadFailsOnErrorStatus();
    void downloadSendsDefaultUserAgent();

    void progressPercent_data();
    void progressPercent();
};

void TestWebGet::decodesBody_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("chunked");
    QTest::addColumn<QString>("expected");

    const QString accents = QStringLiteral("Caf\u00e9 \u00fcber \u20ac");
    const QString accentsOut = accents + QStringLiteral("\r\nline 2\r\n");
    const QString accentsIn = accents + QStringLiteral("\nline 2\n");

    QTest::newRow("utf-8 without BOM") << accentsIn.toUtf8() << QByteArray("text/xml") << false << accentsOut;
    QTest::newRow("utf-8 with BOM") << QByteArray("\xEF\xBB\xBF") + accentsIn.toUtf8()
                                    << QByteArray("text/xml") << false << accentsOut;
    QTest::newRow("utf-16 LE") << utf16(accentsIn, true) << QByteArray("text/xml") << false << accentsOut;
    QTest::newRow("utf-16 BE") << utf16(accentsIn, false) << QByteArray("text/xml") << false << accentsOut;
    QTest::newRow("windows-1252 accents")
        << QByteArray("Caf\xE9 \xFC" "ber \x80\n\x93quoted\x94\n") << QByteArray("text/xml; charset=utf-8") << false
        << QStringLiteral("Caf\u00e9 \u00fcber \u20ac\r\n\u201cquoted\u201d\r\n");
    QTest::newRow("ISO-8859-1 declared, UTF-8 body")
        << QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<t>Caf\u00e9</t>").toUtf8()
        << QByteArray("text/xml; charset=ISO-8859-1") << false
        << QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\r\n<t>Caf\u00e9</t>\r\n");
    QTest::newRow("LF line ends") << QByteArray("a\nb\n\nc") << QByteArray() << false
                                  << QStringLiteral("a\r\nb\r\n\r\nc\r\n");
    QTest::newRow("CR line ends") << QByteArray("a\rb\r") << QByteArray() << false << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("CR LF kept") << QByteArray("a\r\nb") << QByteArray() << false << QStringLiteral("a\r\nb\r\n");
    QTest::newRow("NUL cuts") << QByteArray("one\ntw\0o\nthree", 15) << QByteArray() << false
                              << QStringLiteral("one\r\ntw\r\n");
    QTest::newRow("windows-1252 after a utf-8 start")
        << QByteArray("caf\xC3\xA9\r\nna\xEFve\r\n") << QByteArray() << false
        << QStringLiteral("caf\u00c3\u00a9\r\nna\u00efve\r\n");
    QTest::newRow("empty body") << QByteArray() << QByteArray() << false << QString();
    QTest::newRow("chunked body") << accentsIn.toUtf8() << QByteArray("text/xml") << true << accentsOut;
}

void TestWebGet::decodesBody()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(bool, chunked);
    QFETCH(QString, expected);

    TestServer server;
    Response response = Response::ok(body, contentType);
    if (chunked)
        response.chunked().slow(5, 0);
    server.route("/feed", response);
    QCOMPARE(FetchUrl(server.urlString("/feed")), expected);

    // The text is decoded as the bytes arrive; pieces of three bytes cut
    // through multi-byte sequences, byte-order marks and CR LF pairs.
    Response inPieces = Response::ok(body, contentType);
    if (chunked)
        inPieces.chunked();
    server.route("/pieces", inPieces.slow(3, 2));
    QCOMPARE(FetchUrl(server.urlString("/pieces")), expected);
}

void TestWebGet::followsRedirects_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("requestsSeen");

    const QString text = QStringLiteral("final\r\n");
    QTest::newRow("none") << 0 << 302 << text << 1;
    QTest::newRow("1 (302)") << 1 << 302 << text << 2;
    QTest::newRow("8 (301), the most followed") << 8 << 301 << text << 9;
    QTest::newRow("8 (307)") << 8 << 307 << text << 9;
    QTest::newRow("9 gives empty, no error") << 9 << 302 << QString() << 9;
    QTest::newRow("12 gives empty, no error") << 12 << 303 << QString() << 9;
}

void TestWebGet::followsRedirects()
{
    QFETCH(int, hops);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QFETCH(int, requestsSeen);

    TestServer server;
    server.route("/final", Response::ok("final\n"));
    for (int i = 1; i <= hops; ++i) {
        const QByteArray next = i == hops ? "/final" : "/r/" + QByteArray::number(i + 1);
        server.route(QStringLiteral("/r/%1").arg(i), Response::redirect(next, status));
    }
    const QString start = hops > 0 ? QStringLiteral("/r/1") : QStringLiteral("/final");
    QCOMPARE(FetchUrl(server.urlString(start)), expected);
    QCOMPARE(server.requestCount(), requestsSeen);
}

void TestWebGet::failsWithStatusLine_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<Response>("response");
    QTest::addColumn<QString>("expected");

    for (const int scheme : {int(TestServer::Http), int(TestServer::Https)}) {
        const char *s = scheme == TestServer::Http ? "http" : "https";
        QTest::addRow("%s 404", s) << scheme << Response::status(404, "Not Found", "<html>gone</html>")
                                   << QStringLiteral("HTTP/1.1 404 Not Found");
        QTest::addRow("%s 500", s) << scheme << Response::status(500, "Internal Server Error")
                                   << QStringLiteral("HTTP/1.1 500 Internal Server Error");
    }
    QTest::newRow("3xx without Location") << int(TestServer::Http) << Response::status(302, "Found", "moved")
                                          << QStringLiteral("HTTP/1.1 302 Found");
    QTest::newRow("304 with Location")
        << int(TestServer::Http) << Response::status(304, "Not Modified").header("Location", "/elsewhere")
        << QStringLiteral("HTTP/1.1 304 Not Modified");
    QTest::newRow("redirect to 404") << int(TestServer::Http) << Response::redirect("/missing")
                                     << QStringLiteral("HTTP/1.1 404 Not Found");
}

void TestWebGet::failsWithStatusLine()
{
    QFETCH(int, scheme);
    QFETCH(Response, response);
    QFETCH(QString, expected);

    TestServer server{TestServer::Scheme(scheme)};
    server.route("/page", response);
    QCOMPARE(errorOf([&] { FetchUrl(server.urlString("/page")); }), expected);
    QCOMPARE(errorOf([&] {
        QTemporaryDir dir;
        QFile file(dir.filePath("f"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        DownloadTransfer().get(server.urlString("/page"), &file);
    }), expected);
}

void TestWebGet::failsWithTransportMessage()
{
    QString url;
    {
        TestServer gone;
        url = gone.urlString("/feed");
    }
    // The program's own words, naming where it failed.
    QCOMPARE(errorOf([&] { FetchUrl(url); }),
             QStringLiteral("Could not connect to the server 127.0.0.1:%1").arg(QUrl(url).port()));
}

void TestWebGet::sendsProgramHeaders()
{
    TestServer server;
    server.route("/feed", Response::ok("x"));
    FetchUrl(server.urlString("/feed?a=1"));
    const RecordedRequest request = server.lastRequest("/feed");
    QCOMPARE(request.method, QByteArray("GET"));
    QCOMPARE(request.target, QByteArray("/feed?a=1"));
    QCOMPARE(request.version, QByteArray("HTTP/1.1"));
    QCOMPARE(request.header("User-Agent"),
             QByteArray("Mozilla/5.0 (Windows NT 6.1) AppleWebKit/537.36 (KHTML, like Gecko) "
                        "Chrome/41.0.2228.0 Safari/537.36"));
    const QByteArray encoding = request.header("Accept-Encoding").toLower();
    for (const char *compressed : {"gzip", "deflate", "br", "compress", "zstd"})
        QVERIFY2(!encoding.contains(compressed), encoding.constData());
}

void TestWebGet::usesNewConnectionPerRequest()
{
    TestServer server;
    server.route("/feed", Response::ok("x"));
    FetchUrl(server.urlString("/feed"));
    FetchUrl(server.urlString("/feed"));
    const QList<RecordedRequest> requests = server.requests();
    QCOMPARE(requests.size(), 2);
    QVERIFY(requests[0].connection != requests[1].connection);
}

void TestWebGet::fetchesOverTls_data()
{
    QTest::addColumn<int>("protocol");
    QTest::addColumn<int>("certificate");

    QTest::newRow("CA-signed, any version") << int(QSsl::SecureProtocols) << int(TestServer::Certificate::CaSigned);
    QTest::newRow("self-signed") << int(QSsl::SecureProtocols) << int(TestServer::Certificate::SelfSigned);
    QTest::newRow("TLS 1.3 only") << int(QSsl::TlsV1_3) << int(TestServer::Certificate::SelfSigned);
    QTest::newRow("TLS 1.2 only") << int(QSsl::TlsV1_2) << int(TestServer::Certificate::SelfSigned);
QT_WARNING_PUSH
QT_WARNING_DISABLE_DEPRECATED
    QTest::newRow("TLS 1.0 only") << int(QSsl::TlsV1_0) << int(TestServer::Certificate::SelfSigned);
QT_WARNING_POP
}

void TestWebGet::fetchesOverTls()
{
    QFETCH(int, protocol);
    QFETCH(int, certificate);

    TestServer server(TestServer::Https, QSsl::SslProtocol(protocol), TestServer::Certificate(certificate));
    server.route("/feed", Response::ok("<rss/>", "text/xml"));
    QCOMPARE(FetchUrl(server.urlString("/feed")), QStringLiteral("<rss/>\r\n"));
    QVERIFY(server.lastRequest("/feed").encrypted);
}

void TestWebGet::inactivityEndsStalledTransfer_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("download");
    QTest::addColumn<QString>("expected");

    // Once the body has begun, the message tells how much of it came.
    for (const bool download : {false, true}) {
        const char *kind = download ? "download" : "fetch";
        QTest::addRow("%s: never answers", kind) << Response::noAnswer() << download
                                                 << QStringLiteral("Connection timed out");
        QTest::addRow("%s: stalls mid-body", kind) << Response::pattern(100000).stallAfter(1000) << download
                                                   << QStringLiteral("Connection timed out after 1000 of 100000 bytes");
        QTest::addRow("%s: stalls chunked", kind) << Response::pattern(100000).chunked().stallAfter(1000) << download
                                                  << QStringLiteral("Connection timed out after 1000 bytes");
    }
}

void TestWebGet::inactivityEndsStalledTransfer()
{
    QFETCH(Response, response);
    QFETCH(bool, download);
    QFETCH(QString, expected);

    TestServer server;
    server.route("/stall", response);
    const QString url = server.urlString("/stall");
    const QString error = errorOf([&] {
        if (!download) {
            FetchUrl(url, 300);
            return;
        }
        QTemporaryDir dir;
        QFile file(dir.filePath("f"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        DownloadTransfer transfer;
        transfer.inactivityTimeoutMs = 300;
        transfer.get(url, &file);
    });
    QCOMPARE(error, expected);
    QCOMPARE(kInactivityTimeoutMs, 120000);
}

void TestWebGet::slowLivingTransferGoesOn()
{
    // 40 pieces 50 ms apart take twice as long as the 1 s without a byte that
    // would end the transfer.
    TestServer server;
    server.route("/slow", Response::pattern(40 * 64).slow(64, 50));
    QCOMPARE(FetchUrl(server.urlString("/slow"), 1000).size(), 40 * 65);
}

void TestWebGet::oversizedHeadIsError()
{
    // A response head of megabytes is refused instead of being collected.
    TestServer server;
    server.route("/big", Response::ok("body").header("X-Filler", QByteArray(2 * 1024 * 1024, 'a')));
    server.route("/fine", Response::ok("body").header("X-Filler", QByteArray(8 * 1024, 'a')));
    QCOMPARE(errorOf([&] { FetchUrl(server.urlString("/big")); }), "Invalid response from the server");
    QCOMPARE(FetchUrl(server.urlString("/fine")), "body\r\n");
}

void TestWebGet::closedMidBodyIsError_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("download");

    for (const bool download : {false, true}) {
        const char *kind = download ? "download" : "fetch";
        QTest::addRow("%s: announced length", kind) << Response::pattern(500000).closeAfter(200000) << download;
        QTest::addRow("%s: chunked", kind) << Response::pattern(500000).chunked().closeAfter(200000) << download;
    }
}

void TestWebGet::closedMidBodyIsError()
{
    QFETCH(Response, response);
    QFETCH(bool, download);

    for (const auto scheme : {TestServer::Http, TestServer::Https}) {
        TestServer server(scheme);
        server.route("/cut", response);
        const QString url = server.urlString("/cut");
        const QString error = errorOf([&] {
            if (!download) {
                FetchUrl(url);
                return;
            }
            QTemporaryDir dir;
            QFile file(dir.filePath("f"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            DownloadTransfer().get(url, &file);
        });
        QVERIFY2(error != kNoError, qPrintable(server.urlString("/cut")));
        QVERIFY(!error.isEmpty());
    }
}

void TestWebGet::keepsProcessingEventsWhileBlocking()
{
    // A timer of the calling thread fires while the call waits: on the window
    // thread the same loop keeps the windows painted.
    TestServer server;
    server.route("/slow", Response::pattern(20 * 64).slow(64, 20));
    bool fired = false;
    QTimer::singleShot(0, [&fired] { fired = true; });
    FetchUrl(server.urlString("/slow"));
    QVERIFY(fired);
}

void TestWebGet::worksOnWorkerThread()
{
    TestServer server;
    server.route("/feed", Response::ok("worker"));
    server.route("/file", Response::pattern(3 * 1024 * 1024));
    QTemporaryDir dir;
    QString text;
    qint64 written = 0;
    QString error;
    std::unique_ptr<QThread> thread(QThread::create([&] {
        try {
            text = FetchUrl(server.urlString("/feed"));
            QFile file(dir.filePath("f"));
            if (!file.open(QIODevice::WriteOnly))
                return;
            written = DownloadTransfer().get(server.urlString("/file"), &file).bytesWritten;
        } catch (const AppError &e) {
            error = e.message();
        }
    }));
    thread->start();
    QVERIFY(thread->wait());  // this thread blocks; the server still answers
    QCOMPARE(error, QString());
    QCOMPARE(text, QStringLiteral("worker\r\n"));
    QCOMPARE(written, qint64(3 * 1024 * 1024));
}

void TestWebGet::downloadReportsProgress_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<bool>("chunked");

    const qint64 size = 1000000;
    QTest::newRow("announced length") << Response::pattern(size).slow(100000, 0) << size << size << false;
    QTest::newRow("chunked") << Response::pattern(size).chunked().slow(100000, 0) << size << qint64(-1) << true;
    QTest::newRow("until close") << Response::pattern(size).untilClose() << size << qint64(-1) << false;
    QTest::newRow("empty") << Response::ok({}) << qint64(0) << qint64(0) << false;
}

void TestWebGet::downloadReportsProgress()
{
    QFETCH(Response, response);
    QFETCH(qint64, size);
    QFETCH(qint64, announced);
    QFETCH(bool, chunked);

    TestServer server;
    server.route("/file", response);
    QTemporaryDir dir;
    QFile file(dir.filePath("episode.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));

    QList<ProgressEvent> events;
    DownloadTransfer transfer;
    transfer.onProgress = [&events](qint64 count, qint64 length, bool isChunked) {
        events.append({count, length, isChunked});
    };
    const DownloadTransfer::Result result = transfer.get(server.urlString("/file"), &file);
    file.close();

    QCOMPARE(result.bytesWritten, size);
    QCOMPARE(result.redirects, 0);
    if (size == 0) {
        QVERIFY(events.isEmpty());
        return;
    }
    QVERIFY(!events.isEmpty());
    qint64 previous = 0;
    for (const ProgressEvent &e : std::as_const(events)) {
        QVERIFY(e.count > previous);
        previous = e.count;
        QCOMPARE(e.announced, announced);
        QCOMPARE(e.chunked, chunked);
    }
    QCOMPARE(events.last().count, size);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == TestServer::patternBytes(0, size));
}

void TestWebGet::downloadWritesAsItArrives()
{
    // Each piece is on disk when its progress is announced, long before the
    // transfer ends.
    const qint64 size = 8 * 65536;
    TestServer server;
    server.route("/file", Response::pattern(size).slow(65536, 20));
    QTemporaryDir dir;
    const QString path = dir.filePath("episode.mp3");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QList<qint64> onDisk;
    QList<qint64> counts;
    DownloadTransfer transfer;
    transfer.onProgress = [&](qint64 count, qint64, bool) {
        counts.append(count);
        onDisk.append(QFileInfo(path).size());
    };
    transfer.get(server.urlString("/file"), &file);
    QVERIFY(counts.size() >= 2);
    QVERIFY(counts.first() < size);
    QCOMPARE(onDisk, counts);
}

void TestWebGet::downloadReportsRedirects_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<qint64>("written");
    QTest::addColumn<bool>("limitReached");

    QTest::newRow("3") << 3 << qint64(5000) << false;
    QTest::newRow("8") << 8 << qint64(5000) << false;
    QTest::newRow("9: nothing written") << 9 << qint64(0) << true;
}

void TestWebGet::downloadReportsRedirects()
{
    QFETCH(int, hops);
    QFETCH(qint64, written);
    QFETCH(bool, limitReached);

    TestServer server;
    server.route("/file", Response::pattern(5000));
    const QString start = server.routeRedirectChain("/d", hops, "/file");
    QTemporaryDir dir;
    QFile file(dir.filePath("episode.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));

    QStringList locations;
    QList<int> counts;
    DownloadTransfer transfer;
    transfer.onRedirect = [&](const QString &location, int count) {
        locations.append(location);
        counts.append(count);
    };
    const DownloadTransfer::Result result = transfer.get(server.urlString(start), &file);
    file.close();

    QCOMPARE(result.bytesWritten, written);
    QCOMPARE(result.redirectLimitReached, limitReached);
    QCOMPARE(result.redirects, hops);
    QCOMPARE(file.size(), written);
    QCOMPARE(counts.size(), hops);
    for (int i = 0; i < hops; ++i) {
        QCOMPARE(counts[i], i + 1);
        QCOMPARE(locations[i], i + 1 == hops ? QStringLiteral("/file") : QStringLiteral("/d/%1").arg(i + 2));
    }
}

void TestWebGet::downloadFailsOnErrorStatus()
{
    // The page of an error status never reaches the file.
    TestServer server;
    server.route("/file", Response::status(404, "Not Found", "<html>missing</html>"));
    QTemporaryDir dir;
    QFile file(dir.filePath("episode.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(errorOf([&] { DownloadTransfer().get(server.urlString("/file"), &file); }),
             QStringLiteral("HTTP/1.1 404 Not Found"));
    QCOMPARE(file.size(), qint64(0));
}

void TestWebGet::downloadSendsDefaultUserAgent()
{
    TestServer server;
    server.route("/file", Response::pattern(10));
    QTemporaryDir dir;
    QFile file(dir.filePath("episode.mp3"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    DownloadTransfer().get(server.urlString("/file"), &file);
    const RecordedRequest request = server.lastRequest("/file");
    QCOMPARE(request.method, QByteArray("GET"));
    QVERIFY(request.header("User-Agent") != QByteArray(kFetchUserAgent));
    QVERIFY(!request.header("Accept-Encoding").toLower().contains("gzip"));
}

void TestWebGet::progressPercent_data()
{
    QTest::addColumn<qint64>("count");
    QTest::addColumn<qint64>("length");
    QTest::addColumn<QString>("transferEncoding");
    QTest::addColumn<int>("expected");

    QTest::newRow("quarter") << qint64(250000) << qint64(1000000) << QString() << 25;
    QTest::newRow("truncated") << qint64(999999) << qint64(1000000) << QString() << 99;
    QTest::newRow("done") << qint64(1000000) << qint64(1000000) << QString() << 100;
    QTest::newRow("beyond 2^31") << qint64(3000000000000) << qint64(4000000000000) << QString() << 75;
    QTest::newRow("chunked") << qint64(5) << qint64(10) << QStringLiteral("chunked") << -1;
    QTest::newRow("Chunked, gzip") << qint64(5) << qint64(10) << QStringLiteral("gzip, Chunked") << -1;
    QTest::newRow("length 0") << qint64(5) << qint64(0) << QString() << -1;
    QTest::newRow("length unknown") << qint64(5) << qint64(-1) << QString() << -1;
}

void TestWebGet::progressPercent()
{
    QFETCH(qint64, count);
    QFETCH(qint64, length);
    QFETCH(QString, transferEncoding);
    QFETCH(int, expected);

    QCOMPARE(::progressPercent(count, length, transferEncoding), expected);
}

QTEST_GUILESS_MAIN(TestWebGet)
#include "tst_webget.moc"
