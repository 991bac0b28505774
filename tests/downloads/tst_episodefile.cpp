// One episode's transfer into its file, against the local server: the file
// appears whole or not at all, and a transfer that breaks off is taken up
// again where it stopped.
#include "base/errors.h"
#include "downloads/episodefile.h"
#include "testserver.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "testhelpers.h"

using testhelpers::errorOf;
using testhelpers::kNoError;

namespace {

const qint64 kSize = 300000;

QByteArray episodeBytes()
{
    return TestServer::patternBytes(0, kSize);
}

// The rest of the episode from the Range the request asks for, as a 206.
Response partial(const RecordedRequest &request)
{
    const QByteArray range = request.header("Range");
    const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
    return Response::status(206, "Partial Content", episodeBytes().mid(from), "audio/mpeg")
        .header("Content-Range", "bytes " + QByteArray::number(from) + '-' + QByteArray::number(kSize - 1) + '/'
                                     + QByteArray::number(kSize));
}

QStringList filesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

} // namespace

class TestEpisodeFile : public QObject
{
    Q_OBJECT

private slots:
    void writesWholeFile();
    void resumes_data();
    void resumes();
    void givesUpAndLeavesNothing_data();
    void givesUpAndLeavesNothing();
    void resumeMustBelongToTheFile_data();
    void resumeMustBelongToTheFile();
    void silentServerCostsOneLimit();
    void refusedResumeNamesTheBreak();
    void fileThatCannotBeWritten();
    void diskFullMessage();
    void fullDiskEndsTheTransfer();
    void cancelLeavesNothing();
    void progressCoversTheWholeFile();
    void contentRangeStart_data();
    void contentRangeStart();
};

void TestEpisodeFile::writesWholeFile()
{
    TestServer server;
    server.route("/e.mp3", Response::pattern(kSize));
    server.route("/nothing", Response::ok({}));
    const QString start = server.routeRedirectChain("/r", 9, "/e.mp3");
    QTemporaryDir dir;
    const QString target = dir.filePath("Show.mp3");
    QCOMPARE(EpisodeFileTransfer().download(server.urlString("/e.mp3"), target), kSize);
    QCOMPARE(testhelpers::readFileBytes(target), episodeBytes());
    QCOMPARE(filesIn(dir.path()), QStringList{"Show.mp3"});

    // An empty body and a redirect chain at the limit both give an empty file.
    for (const QString &path : {QStringLiteral("/nothing"), start}) {
        const QString empty = dir.filePath("empty.mp3");
        QCOMPARE(EpisodeFileTransfer().download(server.urlString(path), empty), qint64(0));
        QCOMPARE(testhelpers::readFileBytes(empty), QByteArray());
        QVERIFY(QFile::remove(empty));
    }
}

void TestEpisodeFile::resumes_data()
{
    QTest::addColumn<QString>("answer");  // to a request with Range
    QTest::addColumn<int>("cuts");        // tries cut short before one gets through

    QTest::newRow("206 from where it stopped") << QStringLiteral("206") << 1;
    QTest::newRow("206 after three cuts") << QStringLiteral("206") << 3;
    QTest::newRow("200: the whole file again") << QStringLiteral("200") << 1;
}

void TestEpisodeFile::resumes()
{
    QFETCH(QString, answer);
    QFETCH(int, cuts);

    TestServer server;
    int seen = 0;
    server.route("/e.mp3", [&seen, cuts, answer](const RecordedRequest &request) {
        ++seen;
        Response response = !request.hasHeader("Range") ? Response::pattern(kSize)
            : answer == QLatin1String("206")           ? partial(request)
                                                       : Response::pattern(kSize);
        if (seen <= cuts)
            response.closeAfter(40000).reset();
        return response;
    });
    QTemporaryDir dir;
    const QString target = dir.filePath("Show.mp3");
    QCOMPARE(errorOf([&] { EpisodeFileTransfer().download(server.urlString("/e.mp3"), target); }), kNoError);
    QCOMPARE(testhelpers::readFileBytes(target), episodeBytes());
    QCOMPARE(filesIn(dir.path()), QStringList{"Show.mp3"});

    const QList<RecordedRequest> requests = server.requests();
    QCOMPARE(requests.size(), cuts + 1);
    QVERIFY(!requests[0].hasHeader("Range"));
    for (int i = 1; i < requests.size(); ++i) {
        const QByteArray range = requests[i].header("Range");
        QVERIFY2(range.startsWith("bytes=") && range.endsWith("-") && range != "bytes=0-", range.constData());
    }
}

void TestEpisodeFile::givesUpAndLeavesNothing_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("requests");

    // A server that starts again and breaks off at the same place brings
    // nothing new: it is not asked a third time.
    QTest::newRow("every try cut") << QStringLiteral("cut") << 2;
    QTest::newRow("resume answered 416") << QStringLiteral("416") << 2;
    QTest::newRow("206 from the wrong place") << QStringLiteral("wrong") << 2;
    QTest::newRow("error status at once") << QStringLiteral("404") << 1;
}

void TestEpisodeFile::givesUpAndLeavesNothing()
{
    QFETCH(QString, answer);
    QFETCH(int, requests);

    TestServer server;
    server.route("/e.mp3", [answer](const RecordedRequest &request) {
        if (answer == QLatin1String("404"))
            return Response::status(404, "Not Found", "gone");
        if (!request.hasHeader("Range") || answer == QLatin1String("cut"))
            return Response::pattern(kSize).closeAfter(40000).reset();
        if (answer == QLatin1String("416"))
            return Response::status(416, "Range Not Satisfiable");
        return Response::status(206, "Partial Content", episodeBytes().mid(10))
            .header("Content-Range", "bytes 10-" + QByteArray::number(kSize - 1) + '/' + QByteArray::number(kSize));
    });
    QTemporaryDir dir;
    const QString error = errorOf([&] {
        EpisodeFileTransfer().download(server.urlString("/e.mp3"), dir.filePath("Show.mp3"));
    });
    QVERIFY(error != kNoError);
    QVERIFY(!error.isEmpty());
    QCOMPARE(server.requestCount(), requests);
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void TestEpisodeFile::resumeMustBelongToTheFile_data()
{
    // How the server answers the resume of a transfer whose first reply
    // (ETag "v1", 300000 bytes) broke off after 40000 bytes.
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("expected");  // the file, or empty: the row fails and nothing is left

    const QByteArray newer = TestServer::patternBytes(7, kSize + 5000);
    QTest::newRow("206 of the same file") << QStringLiteral("same") << episodeBytes();
    QTest::newRow("206 of a longer file") << QStringLiteral("longer") << QByteArray();
    QTest::newRow("206 of a shorter file") << QStringLiteral("shorter") << QByteArray();
    QTest::newRow("206 of another ETag") << QStringLiteral("etag") << QByteArray();
    QTest::newRow("206 that stops short of the end") << QStringLiteral("short range") << QByteArray();
    QTest::newRow("200 of a newer file: all of it") << QStringLiteral("newer") << newer;
}

void TestEpisodeFile::resumeMustBelongToTheFile()
{
    QFETCH(QString, answer);
    QFETCH(QByteArray, expected);

    const QByteArray newer = TestServer::patternBytes(7, kSize + 5000);
    TestServer server;
    server.route("/e.mp3", [answer, newer](const RecordedRequest &request) {
        if (!request.hasHeader("Range"))
            return Response::pattern(kSize).header("ETag", "\"v1\"").closeAfter(40000).reset();
        const QByteArray from = QByteArray::number(kSize - 260000);
        if (answer == QLatin1String("newer"))
            return Response::ok(newer, "audio/mpeg").header("ETag", "\"v2\"");
        QByteArray etag = "\"v1\"";
        qint64 total = kSize;
        qint64 last = kSize - 1;
        if (answer == QLatin1String("longer"))
            total = last = kSize + 1000;
        if (answer == QLatin1String("shorter"))
            total = last = kSize - 1000;
        if (answer == QLatin1String("etag"))
            etag = "\"v2\"";
        if (answer == QLatin1String("short range"))
            last = kSize - 1000;
        if (last == total)
            --last;
        return Response::status(206, "Partial Content", episodeBytes().mid(40000, last - 40000 + 1), "audio/mpeg")
            .header("ETag", etag)
            .header("Content-Range", "bytes " + from + '-' + QByteArray::number(last) + '/' + QByteArray::number(total));
    });
    QTemporaryDir dir;
    const QString target = dir.filePath("Show.mp3");
    const QString error = errorOf([&] { EpisodeFileTransfer().download(server.urlString("/e.mp3"), target); });
    const QList<RecordedRequest> requests = server.requests();
    QCOMPARE(requests.size(), 2);
    QCOMPARE(requests[1].header("Range"), QByteArray("bytes=40000-"));
    QCOMPARE(requests[1].header("If-Range"), QByteArray("\"v1\""));
    if (expected.isEmpty()) {
        QVERIFY2(error.startsWith(QLatin1String("The connection was reset after 40000 of 300000 bytes, and the "
                                                "server would not resume the download (")),
                 qPrintable(error));
        QCOMPARE(filesIn(dir.path()), QStringList());
        return;
    }
    QCOMPARE(error, kNoError);
    QCOMPARE(testhelpers::readFileBytes(target), expected);
    QCOMPARE(filesIn(dir.path()), QStringList{"Show.mp3"});
}

void TestEpisodeFile::silentServerCostsOneLimit()
{
    // The first try brings 40000 bytes and goes quiet; the resume brings
    // nothing: it is the last try.
    TestServer server;
    server.route("/e.mp3", [](const RecordedRequest &request) {
        return request.hasHeader("Range") ? partial(request).stallAfter(0)
                                          : Response::pattern(kSize).header("Last-Modified", "Tue, 01 Dec 2026 10:00:00 GMT").stallAfter(40000);
    });
    QTemporaryDir dir;
    EpisodeFileTransfer transfer;
    transfer.inactivityTimeoutMs = 300;
    QCOMPARE(errorOf([&] { transfer.download(server.urlString("/e.mp3"), dir.filePath("Show.mp3")); }),
             QStringLiteral("Connection timed out after 40000 of 300000 bytes"));
    QCOMPARE(server.requestCount(), 2);
    QCOMPARE(server.requests().at(1).header("If-Range"), QByteArray("Tue, 01 Dec 2026 10:00:00 GMT"));
    QCOMPARE(filesIn(dir.path()), QStringList());

    // A server that sends nothing at all is not asked again.
    TestServer silent;
    silent.route("/e.mp3", Response::noAnswer());
    QCOMPARE(errorOf([&] { transfer.download(silent.urlString("/e.mp3"), dir.filePath("Show.mp3")); }),
             QStringLiteral("Connection timed out"));
    QCOMPARE(silent.requestCount(), 1);
}

void TestEpisodeFile::refusedResumeNamesTheBreak()
{
    TestServer server;
    server.route("/e.mp3", [](const RecordedRequest &request) {
        return request.hasHeader("Range") ? Response::status(416, "Range Not Satisfiable")
                                          : Response::pattern(kSize).closeAfter(40000);
    });
    QTemporaryDir dir;
    QCOMPARE(errorOf([&] { EpisodeFileTransfer().download(server.urlString("/e.mp3"), dir.filePath("Show.mp3")); }),
             QStringLiteral("The connection closed after 40000 of 300000 bytes, and the server would not resume the "
                            "download (HTTP/1.1 416 Range Not Satisfiable)"));
}

void TestEpisodeFile::fileThatCannotBeWritten()
{
    // The folder of the target is a file: nothing can be created there, and
    // nothing is asked of the server.
    TestServer server;
    server.route("/e.mp3", Response::pattern(kSize));
    QTemporaryDir dir;
    testhelpers::writeFileBytes(dir.filePath("folder"), "in the way");
    const QString error = errorOf([&] {
        EpisodeFileTransfer().download(server.urlString("/e.mp3"), dir.filePath("folder/Show.mp3"));
    });
    QVERIFY(error != kNoError);
    QCOMPARE(server.requestCount(), 0);
}

void TestEpisodeFile::diskFullMessage()
{
    // /dev/full refuses every write as a full disk does.
    QFile full(QStringLiteral("/dev/full"));
    if (!full.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        QSKIP("/dev/full cannot be opened here");
    QCOMPARE(full.write(QByteArray(4096, 'x')), qint64(-1));
    QCOMPARE(fileWriteMessage(full, QStringLiteral("/home/me/Podcasts")),
             QStringLiteral("The disk is full: /home/me/Podcasts"));

    // Any other failure keeps the file's own words.
    QFile readOnly(QStringLiteral("/proc/self/cmdline"));
    QVERIFY(readOnly.open(QIODevice::ReadOnly));
    QCOMPARE(readOnly.write("x"), qint64(-1));
    QVERIFY(!fileWriteMessage(readOnly, QStringLiteral("/x")).startsWith(QLatin1String("The disk is full")));
}

void TestEpisodeFile::fullDiskEndsTheTransfer()
{
    // A folder on a small filesystem, made by whoever runs the tests (a
    // tmpfs of a few hundred kilobytes, say). Making one here would take
    // mount privileges, which a test must not rely on.
    const QString folder = qEnvironmentVariable("MORVANE_TEST_SMALL_FOLDER");
    if (folder.isEmpty())
        QSKIP("MORVANE_TEST_SMALL_FOLDER does not name a folder on a small filesystem");
    TestServer server;
    server.route("/e.mp3", Response::pattern(64LL * 1024 * 1024));
    QTemporaryDir dir(folder + QLatin1String("/full-XXXXXX"));
    QVERIFY(dir.isValid());
    QCOMPARE(errorOf([&] { EpisodeFileTransfer().download(server.urlString("/e.mp3"), dir.filePath("Show.mp3")); }),
             QStringLiteral("The disk is full: ") + dir.path());
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void TestEpisodeFile::cancelLeavesNothing()
{
    TestServer server;
    server.route("/e.mp3", Response::pattern(kSize).stallAfter(50000));
    QTemporaryDir dir;
    std::atomic<bool> cancel{false};
    QTimer::singleShot(200, [&cancel] { cancel = true; });
    EpisodeFileTransfer transfer;
    transfer.cancel = &cancel;
    QCOMPARE(errorOf([&] { transfer.download(server.urlString("/e.mp3"), dir.filePath("Show.mp3")); }),
             QStringLiteral("Cancelled"));
    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(filesIn(dir.path()), QStringList());
}

void TestEpisodeFile::progressCoversTheWholeFile()
{
    // After a resume the counts go on from where the file stood, against the
    // whole file's length.
    TestServer server;
    server.route("/e.mp3", [](const RecordedRequest &request) {
        return request.hasHeader("Range") ? partial(request) : Response::pattern(kSize).closeAfter(100000).reset();
    });
    QTemporaryDir dir;
    QList<QPair<qint64, qint64>> seen;
    EpisodeFileTransfer transfer;
    transfer.onProgress = [&seen](qint64 count, qint64 length, bool) { seen.append({count, length}); };
    transfer.download(server.urlString("/e.mp3"), dir.filePath("Show.mp3"));
    QVERIFY(seen.size() >= 2);
    for (qsizetype i = 0; i < seen.size(); ++i) {
        QCOMPARE(seen[i].second, kSize);
        if (i > 0)
            QVERIFY(seen[i].first > seen[i - 1].first);
    }
    QCOMPARE(seen.last().first, kSize);
}

void TestEpisodeFile::contentRangeStart_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<qint64>("start");
    QTest::newRow("plain") << QByteArray("bytes 100-199/200") << qint64(100);
    QTest::newRow("unknown total") << QByteArray("bytes 0-9/*") << qint64(0);
    QTest::newRow("beyond 4 GiB") << QByteArray("bytes 5000000000-5000000009/5000000010") << qint64(5000000000);
    QTest::newRow("unsatisfied") << QByteArray("bytes */200") << qint64(-1);
    QTest::newRow("other unit") << QByteArray("items 1-2/3") << qint64(-1);
    QTest::newRow("empty") << QByteArray() << qint64(-1);
}

void TestEpisodeFile::contentRangeStart()
{
    QFETCH(QByteArray, value);
    QFETCH(qint64, start);
    QCOMPARE(::contentRangeStart(value), start);
}

QTEST_GUILESS_MAIN(TestEpisodeFile)
#include "tst_episodefile.moc"
