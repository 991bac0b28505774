// The request to the transcription service, against a local HTTPS server that
// checks what the service would.
#include "base/errors.h"
#include "multipart.h"
#include "testserver.h"
#include "transcribe/transcription.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "testhelpers.h"

using testhelpers::errorOf;
using testhelpers::kNoError;

Q_DECLARE_METATYPE(Response)

namespace {

QByteArray audioBytes()
{
    QByteArray bytes;
    for (int i = 0; i < 70000; ++i)
        bytes.append(char(i * 7 % 256));  // every byte value, CR LF and boundary-like runs included
    return bytes + "\r\n--x\r\n";
}

} // namespace

class TestTranscription : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void mimeTypeOf_data();
    void mimeTypeOf();
    void fileSizeOf();
    void transcriptFile_data();
    void transcriptFile();
    void serverProblem_data();
    void serverProblem();

    void sendsWhatTheServiceExpects();
    void readsReply_data();
    void readsReply();
    void silentServerTimesOut();
    void chosenServerAndModelWithoutKey();
    void unreadableFileReachesCaller();
    void addresses_data();
    void addresses();
    void languageAndPrompt();
    void keyWithControlCharacterRefused();
    void earlyRefusalReachesTheProgram();
    void fileShortenedWhileSent();

private:
    QTemporaryDir m_dir;
};

void TestTranscription::initTestCase()
{
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestTranscription::mimeTypeOf_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("own");
    QTest::addColumn<QString>("sent");

    QTest::newRow("Episode.MP3") << "/p/Episode.MP3" << "audio/mpeg" << "audio/mpeg";
    QTest::newRow("talk.mpga") << "/p/talk.mpga" << "audio/mpeg" << "audio/mpeg";
    QTest::newRow("clip.webm") << "/p/clip.webm" << "video/webm" << "video/webm";
    QTest::newRow("movie.mp4") << "/p/movie.mp4" << "video/mp4" << "video/mp4";
    QTest::newRow("voice.m4a") << "/p/voice.m4a" << "audio/mp4" << "audio/mp4";
    QTest::newRow("old.mpeg") << "/p/old.mpeg" << "video/mpeg" << "video/mpeg";
    QTest::newRow("raw.WAV") << "/p/raw.WAV" << "audio/wav" << "audio/wav";
    QTest::newRow("recording.ogg: the system's table") << "/p/recording.ogg" << "" << "audio/ogg";
    QTest::newRow("no extension") << "/p/recording" << "" << "application/octet-stream";
    QTest::newRow("dot in a folder name") << "/p/my.files/talk" << "" << "application/octet-stream";
    QTest::newRow("unknown extension") << "/p/talk.zzq" << "" << "application/octet-stream";
}

void TestTranscription::mimeTypeOf()
{
    QFETCH(QString, path);
    QFETCH(QString, own);
    QFETCH(QString, sent);
    QCOMPARE(MimeTypeOf(path), own);
    QCOMPARE(uploadTypeOf(path), sent);
}

void TestTranscription::fileSizeOf()
{
    QCOMPARE(FileSizeOf(m_dir.filePath("missing.mp3")), qint64(-1));
    QCOMPARE(FileSizeOf(m_dir.path()), qint64(-1));
    testhelpers::writeFileBytes(m_dir.filePath("empty.mp3"), QByteArray());
    QCOMPARE(FileSizeOf(m_dir.filePath("empty.mp3")), qint64(0));
    QFile sparse(m_dir.filePath("sparse.mp3"));
    QVERIFY(sparse.open(QIODevice::WriteOnly));
    const qint64 big = 5LL * 1024 * 1024 * 1024 + 3;
    if (!sparse.resize(big))
        QSKIP("this file system cannot hold a sparse file of 5 GiB");
    sparse.close();
    QCOMPARE(FileSizeOf(sparse.fileName()), big);
}

void TestTranscription::transcriptFile_data()
{
    QTest::addColumn<QString>("audio");
    QTest::addColumn<QString>("transcript");
    QTest::newRow("mp3") << "/pods/Episode 1.mp3" << "/pods/Episode 1.txt";
    QTest::newRow("last extension only") << "/pods/a.b.mp3" << "/pods/a.b.txt";
    QTest::newRow("none") << "/pods/talk" << "/pods/talk.txt";
    QTest::newRow("dot in the folder") << "/my.pods/talk" << "/my.pods/talk.txt";
}

void TestTranscription::transcriptFile()
{
    QFETCH(QString, audio);
    QFETCH(QString, transcript);
    QCOMPARE(transcriptPathOf(audio), transcript);
    QCOMPARE(transcriptFileBytes(QString()), QByteArray("\xEF\xBB\xBF"));
    QCOMPARE(transcriptFileBytes(QStringLiteral("Caf\u00e9\nsecond\r\nthird\rlast")),
             QByteArray("\xEF\xBB\xBF" "Caf\xC3\xA9\r\nsecond\r\nthird\r\nlast"));
}

void TestTranscription::serverProblem_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("OpenAI") << "https://api.openai.com/v1" << true;
    QTest::newRow("https anywhere") << "https://whisper.example.org/v1" << true;
    QTest::newRow("http loopback") << "http://127.0.0.1:8080/v1" << true;
    QTest::newRow("http localhost") << "http://localhost:9000/v1" << true;
    QTest::newRow("http IPv6 loopback") << "http://[::1]:9000/v1" << true;
    QTest::newRow("http 192.168") << "http://192.168.1.20:8080/v1" << true;
    QTest::newRow("http 10/8") << "http://10.1.2.3/v1" << true;
    QTest::newRow("http 172.16/12") << "http://172.20.0.5/v1" << true;
    QTest::newRow("http 172.32 is public") << "http://172.32.0.5/v1" << false;
    QTest::newRow("http public address") << "http://8.8.8.8/v1" << false;
    QTest::newRow("http name") << "http://whisper.example.org/v1" << false;
    QTest::newRow("other scheme") << "ftp://127.0.0.1/v1" << false;
    QTest::newRow("not an address") << "api.openai.com" << false;
}

void TestTranscription::serverProblem()
{
    QFETCH(QString, server);
    QFETCH(bool, accepted);
    QCOMPARE(::serverProblem(server).isEmpty(), accepted);
}

void TestTranscription::sendsWhatTheServiceExpects()
{
    TestServer server(TestServer::Https);
    server.route("/v1/audio/transcriptions", Response::ok("{\"text\": \"Hello there.\"}", "application/json"));
    const QString path = m_dir.filePath("Episode 7.MP3");
    testhelpers::writeFileBytes(path, audioBytes());

    TranscriptionService service;
    service.server = server.urlString("/v1");  // https on the loopback, trusted through MORVANE_CA_FILE
    // The ends of a pasted key are trimmed: a line end there would otherwise
    // end the header.
    const TranscriptionReply reply = requestTranscription(service, QStringLiteral("sk-test \r\n"), path);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    QCOMPARE(reply.text, QStringLiteral("Hello there."));

    const RecordedRequest request = server.lastRequest("/v1/audio/transcriptions");
    QCOMPARE(request.method, QByteArray("POST"));
    QVERIFY(request.encrypted);
    QVERIFY2(request.head.contains("\r\nAuthorization: Bearer sk-test\r\n"), request.head.constData());
    QVERIFY2(request.head.contains("\r\nExpect: 100-continue\r\n"), request.head.constData());
    const QList<ReceivedPart> parts = partsOf(request);
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0].name, QByteArray("model"));
    QCOMPARE(parts[0].data, QByteArray("whisper-1"));
    QCOMPARE(parts[0].fileName, QByteArray());
    QCOMPARE(parts[0].contentType, QByteArray());
    QCOMPARE(parts[1].name, QByteArray("file"));
    QCOMPARE(parts[1].fileName, QByteArray("Episode 7.MP3"));
    QCOMPARE(parts[1].contentType, QByteArray("audio/mpeg"));
    QVERIFY(parts[1].data == audioBytes());
}

void TestTranscription::readsReply_data()
{
    QTest::addColumn<Response>("response");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("error");

    QTest::newRow("200 with text") << Response::ok("{\"text\":\"Caf\xC3\xA9 talk\"}", "application/json") << true
                                   << QStringLiteral("Caf\u00e9 talk") << QString();
    QTest::newRow("200 with empty text") << Response::ok("{\"text\":\"\"}", "application/json") << true << QString()
                                         << QString();
    QTest::newRow("200 not JSON") << Response::ok("<html>busy</html>", "text/html") << false << QString()
                                  << QStringLiteral("The transcription service sent a reply that cannot be read: it is "
                                                    "not a JSON object with a \"text\" string.");
    QTest::newRow("200 text not a string") << Response::ok("{\"text\":5}", "application/json") << false << QString()
                                           << QStringLiteral("The transcription service sent a reply that cannot be "
                                                             "read: it is not a JSON object with a \"text\" string.");
    const QByteArray denied = "{\"error\":{\"message\":\"Incorrect API key provided\"}}";
    QTest::newRow("401 with its body") << Response::status(401, "Unauthorized", denied, "application/json") << false
                                       << QString() << QString::fromLatin1(denied);
    QTest::newRow("502 without a body: its status line")
        << Response::status(502, "Bad Gateway") << false << QString() << QStringLiteral("HTTP/1.1 502 Bad Gateway");
    QByteArray huge(300 * 1024, 'e');
    QTest::newRow("an error of 300 KiB: its first 64 KiB")
        << Response::status(500, "Internal Server Error", huge, "text/plain") << false << QString()
        << QString(64 * 1024, QLatin1Char('e'));
}

void TestTranscription::readsReply()
{
    QFETCH(Response, response);
    QFETCH(bool, ok);
    QFETCH(QString, text);
    QFETCH(QString, error);

    TestServer server(TestServer::Https);
    server.route("/v1/audio/transcriptions", response);
    const QString path = m_dir.filePath("a.mp3");
    testhelpers::writeFileBytes(path, "ID3");
    TranscriptionService service;
    service.server = server.urlString("/v1");
    const TranscriptionReply reply = requestTranscription(service, QStringLiteral("k"), path);
    QCOMPARE(reply.ok, ok);
    QCOMPARE(reply.text, text);
    QCOMPARE(reply.error, error);
}

void TestTranscription::silentServerTimesOut()
{
    TestServer server(TestServer::Https);
    server.route("/v1/audio/transcriptions", Response::noAnswer());
    const QString path = m_dir.filePath("a.mp3");
    testhelpers::writeFileBytes(path, "ID3");
    TranscriptionService service;
    service.server = server.urlString("/v1");
    service.replyTimeoutMs = 500;
    const TranscriptionReply reply = requestTranscription(service, QStringLiteral("k"), path);
    QVERIFY(!reply.ok);
    QCOMPARE(reply.error, QStringLiteral("Connection timed out"));
    QCOMPARE(TranscriptionService().replyTimeoutMs, 600000);
    QCOMPARE(TranscriptionService().connectTimeoutMs, 10000);
}

void TestTranscription::chosenServerAndModelWithoutKey()
{
    TestServer server;  // plain http on the loopback: allowed for a server of one's own
    server.route("/v1/audio/transcriptions", Response::ok("{\"text\":\"local\"}", "application/json"));
    const QString path = m_dir.filePath("a.wav");
    testhelpers::writeFileBytes(path, "RIFF");
    TranscriptionService service;
    service.server = server.urlString("/v1/");
    service.model = QStringLiteral("gpt-4o-mini-transcribe");
    const TranscriptionReply reply = requestTranscription(service, QString(), path);
    QVERIFY2(reply.ok, qPrintable(reply.error));
    const RecordedRequest request = server.lastRequest("/v1/audio/transcriptions");
    QVERIFY(!request.hasHeader("Authorization"));
    const QList<ReceivedPart> parts = partsOf(request);
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0].data, QByteArray("gpt-4o-mini-transcribe"));
    QCOMPARE(parts[1].contentType, QByteArray("audio/wav"));
}

void TestTranscription::unreadableFileReachesCaller()
{
    TestServer server(TestServer::Https);
    TranscriptionService service;
    service.server = server.urlString("/v1");
    QVERIFY(errorOf([&] { requestTranscription(service, QStringLiteral("k"), m_dir.filePath("gone.mp3")); })
            != kNoError);
    QCOMPARE(server.requestCount(), 0);
}

void TestTranscription::addresses_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("url");
    QTest::newRow("OpenAI") << "https://api.openai.com/v1" << "https://api.openai.com/v1/audio/transcriptions";
    QTest::newRow("trailing slash") << "https://h.example/v1/" << "https://h.example/v1/audio/transcriptions";
    QTest::newRow("whole address") << "http://127.0.0.1:8000/v1/audio/transcriptions"
                                   << "http://127.0.0.1:8000/v1/audio/transcriptions";
    QTest::newRow("whisper.cpp's server") << "http://127.0.0.1:8080/inference" << "http://127.0.0.1:8080/inference";
    QTest::newRow("whisper.cpp's server, slash") << "http://127.0.0.1:8080/inference/" << "http://127.0.0.1:8080/inference";
}

void TestTranscription::addresses()
{
    QFETCH(QString, server);
    QFETCH(QString, url);
    TranscriptionService service;
    service.server = server;
    QCOMPARE(service.url(), url);
}

void TestTranscription::languageAndPrompt()
{
    TestServer server;
    server.route("/inference", Response::ok("{\"text\":\"ok\"}", "application/json"));
    const QString path = m_dir.filePath("a.mp3");
    testhelpers::writeFileBytes(path, "ID3");
    TranscriptionService service;
    service.server = server.urlString("/inference");
    service.language = QStringLiteral(" de ");
    const TranscriptionReply reply =
        requestTranscription(service, QString(), path, QStringLiteral("Das Ende des Textes davor."));
    QVERIFY2(reply.ok, qPrintable(reply.error));
    const QList<ReceivedPart> parts = partsOf(server.lastRequest("/inference"));
    QCOMPARE(parts.size(), 4);
    QCOMPARE(parts[0].name, QByteArray("model"));
    QCOMPARE(parts[1].name, QByteArray("language"));
    QCOMPARE(parts[1].data, QByteArray("de"));
    QCOMPARE(parts[2].name, QByteArray("prompt"));
    QCOMPARE(parts[2].data, QByteArray("Das Ende des Textes davor."));
    QCOMPARE(parts[3].name, QByteArray("file"));
}

void TestTranscription::keyWithControlCharacterRefused()
{
    TestServer server(TestServer::Https);
    server.route("/v1/audio/transcriptions", Response::ok("{\"text\":\"ok\"}", "application/json"));
    const QString path = m_dir.filePath("a.mp3");
    testhelpers::writeFileBytes(path, "ID3");
    TranscriptionService service;
    service.server = server.urlString("/v1");
    QVERIFY(keyProblem(QStringLiteral(" sk-a \r\n")).isEmpty());
    for (const QString &key : {QStringLiteral("sk-a\r\nX-Injected: yes"), QStringLiteral("sk-a\tb"),
                               QStringLiteral("sk-\x7f")}) {
        QVERIFY(!keyProblem(key).isEmpty());
        const TranscriptionReply reply = requestTranscription(service, key, path);
        QVERIFY(!reply.ok);
        QCOMPARE(reply.error, keyProblem(key));
    }
    QCOMPARE(server.requestCount(), 0);
}

void TestTranscription::earlyRefusalReachesTheProgram()
{
    // The server refuses on the head alone and closes the connection without
    // reading the upload.
    TestServer server(TestServer::Https);
    const QByteArray refusal = "{\"error\":{\"message\":\"Maximum content size limit (26214400) exceeded\"}}";
    server.routeEarly("/v1/audio/transcriptions", [&](const RecordedRequest &) -> std::optional<Response> {
        return Response::status(413, "Request Entity Too Large", refusal, "application/json");
    });
    const QString path = m_dir.filePath("big.mp3");
    QByteArray bytes;
    while (bytes.size() < 8 * 1024 * 1024)
        bytes += audioBytes();
    testhelpers::writeFileBytes(path, bytes);
    TranscriptionService service;
    service.server = server.urlString("/v1");
    const TranscriptionReply reply = requestTranscription(service, QStringLiteral("k"), path);
    QVERIFY(!reply.ok);
    QCOMPARE(reply.status, 413);
    QCOMPARE(reply.error, QString::fromLatin1(refusal));
    QCOMPARE(server.lastRequest().body, QByteArray());
}

void TestTranscription::fileShortenedWhileSent()
{
    // The server reads slowly enough for the file to be cut meanwhile.
    TestServer server;
    server.route("/v1/audio/transcriptions", Response::ok("{\"text\":\"ok\"}", "application/json"));
    const QString path = m_dir.filePath("growing.mp3");
    testhelpers::writeFileBytes(path, QByteArray(16 * 1024 * 1024, 'a'));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    TranscriptionService service;
    service.server = server.urlString("/v1");
    bool cut = false;
    server.routeEarly("/v1/audio/transcriptions", [&](const RecordedRequest &) -> std::optional<Response> {
        // Before the body is sent: another program shortens the file.
        cut = file.resize(1000);
        return std::nullopt;
    });
    const TranscriptionReply reply = requestTranscription(service, QStringLiteral("k"), path);
    QVERIFY(cut);
    QVERIFY(!reply.ok);
    QCOMPARE(reply.error, QStringLiteral("The file became shorter while it was being sent."));
}

QTEST_GUILESS_MAIN(TestTranscription)
#include "tst_transcription.moc"
