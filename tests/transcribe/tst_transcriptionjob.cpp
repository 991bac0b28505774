// A whole transcription against a local stand-in of the service that decodes
// every piece it is sent and says where in the recording it starts.
#include "speechstandin.h"
#include "testserver.h"
#include "transcribe/transcriptionjob.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <thread>

#include "testhelpers.h"

using End = TranscriptionOutcome::End;
Q_DECLARE_METATYPE(End)

namespace {

constexpr double kRecordingSeconds = 90;

bool inGap(double t)
{
    const double within = std::fmod(t + speech::kSlotSeconds, speech::kSlotSeconds);
    return within >= speech::kWordSeconds - 0.04 || within <= 0.04;
}

QString joinedTexts(const QList<speech::HeardPiece> &pieces, qsizetype count)
{
    QStringList texts;
    for (qsizetype i = 0; i < count; ++i)
        texts.append(QString::fromUtf8(pieces[i].text));
    return texts.join(QLatin1Char(' '));
}

} // namespace

class TestTranscriptionJob : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void limitsOfServers();
    void longRecordingInPieces_data();
    void longRecordingInPieces();
    void refusedPiecesAreHalved();
    void fittingFileSentAsItIs();
    void failureKeepsEarlierParts();
    void unreadableFileSendsNothing_data();
    void unreadableFileSendsNothing();
    void cancel_data();
    void cancel();

private:
    TranscriptionJob job(const speech::SpeechStandIn &service, const QString &path) const;
    // Checks that the pieces heard cover the recording in order, without gap
    // or overlap, each cut lying in a silence.
    void verifyCoverage(const QList<speech::HeardPiece> &heard, double seconds);

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestTranscriptionJob::initTestCase()
{
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestTranscriptionJob::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_work = std::make_unique<QTemporaryDir>();
}

void TestTranscriptionJob::cleanup()
{
    // Nothing is left behind, whatever the way out.
    QCOMPARE(QDir(m_work->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

TranscriptionJob TestTranscriptionJob::job(const speech::SpeechStandIn &service, const QString &path) const
{
    TranscriptionJob j;
    j.service.server = service.server();
    j.key = QStringLiteral("sk-test");
    j.path = path;
    j.workRoot = m_work->path();
    return j;
}

void TestTranscriptionJob::verifyCoverage(const QList<speech::HeardPiece> &heard, double seconds)
{
    QVERIFY(!heard.isEmpty());
    double expected = 0;
    for (qsizetype i = 0; i < heard.size(); ++i) {
        const speech::HeardPiece &piece = heard[i];
        QVERIFY2(std::abs(piece.start - expected) < 0.12,
                 qPrintable(QStringLiteral("piece %1 starts at %2, not %3").arg(i + 1).arg(piece.start).arg(expected)));
        if (i > 0)
            QVERIFY2(inGap(piece.start), qPrintable(QStringLiteral("cut at %1").arg(piece.start)));
        expected = piece.start + piece.seconds;
    }
    QVERIFY2(std::abs(expected - seconds) < 0.25, qPrintable(QString::number(expected)));
}

void TestTranscriptionJob::limitsOfServers()
{
    TranscriptionService openai;
    QCOMPARE(limitsOf(openai).requestBytes, qint64(26214400));
    QCOMPARE(limitsOf(openai).pieceSeconds, 0.0);
    openai.model = QStringLiteral("gpt-4o-mini-transcribe");
    QCOMPARE(limitsOf(openai).pieceSeconds, 1400.0);
    TranscriptionService own;
    own.server = QStringLiteral("http://127.0.0.1:8080/v1");
    own.model = QStringLiteral("gpt-4o-transcribe");
    QCOMPARE(limitsOf(own).requestBytes, qint64(-1));
    QCOMPARE(limitsOf(own).pieceSeconds, 0.0);
}

void TestTranscriptionJob::longRecordingInPieces_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("requestBytes");
    QTest::addColumn<double>("pieceSeconds");
    QTest::addColumn<QString>("model");
    QTest::newRow("MP3 over the size") << "talk.mp3" << qint64(120000) << 0.0 << "whisper-1";
    QTest::newRow("M4A over the size") << "talk.m4a" << qint64(150000) << 0.0 << "whisper-1";
    QTest::newRow("Opus over the length") << "talk.opus" << qint64(-1) << 30.0 << "gpt-4o-transcribe";
    QTest::newRow("WAV over both") << "talk.wav" << qint64(100000) << 20.0 << "gpt-4o-mini-transcribe";
}

void TestTranscriptionJob::longRecordingInPieces()
{
    QFETCH(QString, name);
    QFETCH(qint64, requestBytes);
    QFETCH(double, pieceSeconds);
    QFETCH(QString, model);
    const QString path = m_dir->filePath(name);
    speech::writeRecording(path, kRecordingSeconds, 64000);
    speech::SpeechStandIn service(requestBytes, pieceSeconds);
    TranscriptionJob j = job(service, path);
    j.service.model = model;
    j.service.language = QStringLiteral("en");
    j.limits.requestBytes = requestBytes;
    j.limits.pieceSeconds = pieceSeconds;
    QStringList statuses;
    j.onStatus = [&](const QString &s) { statuses.append(s); };
    const TranscriptionOutcome outcome = j.run(std::atomic<bool>(false));

    const QList<speech::HeardPiece> heard = service.heard();
    QVERIFY2(outcome.end == End::Done, qPrintable(outcome.error));
    QCOMPARE(service.refused(), 0);
    QVERIFY(heard.size() >= 3);
    QCOMPARE(outcome.parts, int(heard.size()));
    verifyCoverage(heard, kRecordingSeconds);
    for (qsizetype i = 0; i < heard.size(); ++i) {
        const speech::HeardPiece &piece = heard[i];
        QCOMPARE(piece.model, model.toUtf8());
        QCOMPARE(piece.language, QByteArray("en"));
        QCOMPARE(piece.fileName, QFileInfo(name).completeBaseName().toUtf8() + ".mp3");
        if (requestBytes >= 0)
            QVERIFY(piece.bodyBytes <= requestBytes);
        if (pieceSeconds > 0)
            QVERIFY(piece.seconds <= pieceSeconds);
        // Each piece after the first carries the end of the text before it.
        QCOMPARE(piece.hadPrompt, i > 0);
        QCOMPARE(QString::fromUtf8(piece.prompt), promptAfter(joinedTexts(heard, i)));
    }
    QCOMPARE(outcome.text, joinedTexts(heard, heard.size()));

    QVERIFY(statuses.contains(QStringLiteral("Preparing audio... 0%")));
    QVERIFY(statuses.contains(QStringLiteral("Preparing audio... 100%")));
    QVERIFY(statuses.contains(QStringLiteral("Transcribing part 1 of %1...").arg(heard.size())));
    QCOMPARE(statuses.last(), QStringLiteral("Transcribing part %1 of %1...").arg(heard.size()));
}

void TestTranscriptionJob::refusedPiecesAreHalved()
{
    // A server that says nothing of its limit until it refuses: the file goes
    // as it is, then prepared, then in ever smaller pieces until they pass.
    const QString path = m_dir->filePath("talk.mp3");
    speech::writeRecording(path, kRecordingSeconds, 128000);
    speech::SpeechStandIn service(110000);
    TranscriptionJob j = job(service, path);
    j.smallestPieceBytes = 40000;
    const TranscriptionOutcome outcome = j.run(std::atomic<bool>(false));
    QVERIFY2(outcome.end == End::Done, qPrintable(outcome.error));
    // The original (1.4 MB), the prepared whole (360 kB), then halves of 180
    // and 90 kB: the last passes and serves for the rest, in five pieces as
    // each cut falls in a silence a little before its 90 kB.
    QCOMPARE(service.refused(), 3);
    const QList<speech::HeardPiece> heard = service.heard();
    QCOMPARE(heard.size(), 5);
    for (const speech::HeardPiece &piece : heard)
        QVERIFY(piece.bodyBytes <= 110000);
    verifyCoverage(heard, kRecordingSeconds);

    // At the smallest size the refusal is the answer.
    speech::SpeechStandIn strict(30000);
    TranscriptionJob k = job(strict, path);
    k.smallestPieceBytes = 40000;
    const TranscriptionOutcome refused = k.run(std::atomic<bool>(false));
    QCOMPARE(refused.end, End::Failed);
    QVERIFY2(refused.error.contains("Maximum content size limit (30000) exceeded"), qPrintable(refused.error));
    QCOMPARE(refused.failedPart, 1);
    QCOMPARE(strict.heard().size(), 0);
}

void TestTranscriptionJob::fittingFileSentAsItIs()
{
    const QString path = m_dir->filePath("short.mp3");
    speech::writeRecording(path, 12, 128000);
    speech::SpeechStandIn service(400000, 30);
    TranscriptionJob j = job(service, path);
    j.service.model = QStringLiteral("gpt-4o-transcribe");
    j.limits = {400000, 30};
    QStringList statuses;
    j.onStatus = [&](const QString &s) { statuses.append(s); };
    const TranscriptionOutcome outcome = j.run(std::atomic<bool>(false));
    QVERIFY2(outcome.end == End::Done, qPrintable(outcome.error));
    QCOMPARE(outcome.parts, 0);
    const QList<speech::HeardPiece> heard = service.heard();
    QCOMPARE(heard.size(), 1);
    QVERIFY(heard[0].file == testhelpers::readFileBytes(path));
    QCOMPARE(heard[0].fileName, QByteArray("short.mp3"));
    QVERIFY(!heard[0].hadPrompt);
    QCOMPARE(statuses, QStringList{"Please wait..."});
}

void TestTranscriptionJob::failureKeepsEarlierParts()
{
    const QString path = m_dir->filePath("talk.mp3");
    speech::writeRecording(path, kRecordingSeconds, 64000);
    speech::SpeechStandIn service;
    service.failAfter(1, 500, "{\"error\":{\"message\":\"The server had an error\"}}");
    TranscriptionJob j = job(service, path);
    j.limits.pieceSeconds = 40;
    const TranscriptionOutcome outcome = j.run(std::atomic<bool>(false));
    QCOMPARE(outcome.end, End::Failed);
    QCOMPARE(outcome.failedPart, 2);
    QCOMPARE(outcome.parts, 3);
    QVERIFY(outcome.requestFailed);
    QCOMPARE(outcome.error, QStringLiteral("{\"error\":{\"message\":\"The server had an error\"}}"));
    const QList<speech::HeardPiece> heard = service.heard();
    QCOMPARE(heard.size(), 1);
    QCOMPARE(outcome.text, QString::fromUtf8(heard[0].text));
}

void TestTranscriptionJob::unreadableFileSendsNothing_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<QString>("model");
    QTest::newRow("too large to go as it is") << qint64(300000) << "whisper-1";
    QTest::newRow("length unknown") << qint64(20000) << "gpt-4o-transcribe";
}

void TestTranscriptionJob::unreadableFileSendsNothing()
{
    QFETCH(qint64, size);
    QFETCH(QString, model);
    const QString path = m_dir->filePath("junk.mp3");
    QByteArray bytes;
    for (qint64 i = 0; i < size; ++i)
        bytes.append(char((quint32(i) * 2654435761u) >> 24));
    testhelpers::writeFileBytes(path, bytes);
    speech::SpeechStandIn service;
    TranscriptionJob j = job(service, path);
    j.service.model = model;
    j.limits = {100000, model == "whisper-1" ? 0.0 : 1400.0};
    const TranscriptionOutcome outcome = j.run(std::atomic<bool>(false));
    QCOMPARE(outcome.end, End::Failed);
    QVERIFY2(outcome.error.startsWith("The audio of this file cannot be read"), qPrintable(outcome.error));
    QVERIFY(!outcome.requestFailed);
    QCOMPARE(service.http().requestCount(), 0);
}

void TestTranscriptionJob::cancel_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("during preparation") << "preparing";
    QTest::newRow("during the upload of a piece") << "piece";
    QTest::newRow("during the upload of the file as it is") << "whole";
}

void TestTranscriptionJob::cancel()
{
    QFETCH(QString, when);
    const QString path = m_dir->filePath("talk.wav");
    speech::writeRecording(path, kRecordingSeconds);
    speech::SpeechStandIn service;
    service.http().route("/v1/audio/transcriptions", Response::noAnswer());
    TranscriptionJob j = job(service, path);
    if (when != "whole")
        j.limits.pieceSeconds = 30;
    std::atomic<bool> cancel{false};
    j.onStatus = [&](const QString &s) {
        if (when == "preparing" && s == QLatin1String("Preparing audio... 20%"))
            cancel = true;
    };
    std::thread canceller([&] {
        if (when == "preparing")
            return;
        while (service.http().requestCount() == 0)
            std::this_thread::yield();
        cancel = true;
    });
    const TranscriptionOutcome outcome = j.run(cancel);
    canceller.join();
    QCOMPARE(outcome.end, End::Cancelled);
    QCOMPARE(outcome.text, QString());
    QCOMPARE(service.http().requestCount(), when == "preparing" ? 0 : 1);
}

QTEST_GUILESS_MAIN(TestTranscriptionJob)
#include "tst_transcriptionjob.moc"
