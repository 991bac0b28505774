// Audio preparation and splitting, on recordings the test makes.
#include "base/errors.h"
#include "speechstandin.h"
#include "transcribe/audioprep.h"
#include "transcribe/transcriptionjob.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

#include "testhelpers.h"

extern "C" {
#include <libavformat/avformat.h>
}

namespace {

constexpr double kRecordingSeconds = 90;

// Whether a time of the recording lies in one of its silent gaps (with a
// little room for the encoder's frames).
bool inGap(double t)
{
    const double within = std::fmod(t + speech::kSlotSeconds, speech::kSlotSeconds);
    return within >= speech::kWordSeconds - 0.04 || within <= 0.04;
}

} // namespace

class TestAudioPrep : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void preparesEveryFormat_data();
    void preparesEveryFormat();
    void piecesCutInSilence_data();
    void piecesCutInSilence();
    void unreadableFile();
    void cancelDuringPreparation();
    void promptIsTheEndOfTheText();
    void staleWorkFoldersRemoved();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAudioPrep::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void TestAudioPrep::preparesEveryFormat_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("MP3") << "talk.mp3";
    QTest::newRow("AAC in M4A") << "talk.m4a";
    QTest::newRow("Ogg Opus") << "talk.opus";
    QTest::newRow("Ogg") << "talk.ogg";
    QTest::newRow("WAV") << "talk.wav";
    QTest::newRow("FLAC") << "talk.flac";
}

void TestAudioPrep::preparesEveryFormat()
{
    QFETCH(QString, name);
    const QString input = m_dir->filePath(name);
    speech::writeRecording(input, 20);
    QList<int> progress;
    const PreparedAudio audio =
        prepareAudio(input, m_dir->filePath("prepared.mp3"), nullptr, [&](int percent) { progress.append(percent); });
    QVERIFY(!progress.isEmpty());
    QCOMPARE(progress.last(), 100);
    QVERIFY(std::is_sorted(progress.begin(), progress.end()));

    // Mono 16 kHz MP3 of about 32 kbit/s, as long as the recording.
    QVERIFY2(std::abs(audio.seconds() - 20) < 0.2, qPrintable(QString::number(audio.seconds())));
    QCOMPARE(audio.bytes(), QFileInfo(audio.path).size());
    const double kbits = audio.bytes() * 8 / audio.seconds() / 1000;
    QVERIFY2(kbits > 30 && kbits < 34, qPrintable(QString::number(kbits)));
    AVFormatContext *probe = nullptr;
    QCOMPARE(avformat_open_input(&probe, QFile::encodeName(audio.path).constData(), nullptr, nullptr), 0);
    QVERIFY(avformat_find_stream_info(probe, nullptr) >= 0);
    const AVCodecParameters *p = probe->streams[0]->codecpar;
    const int rate = p->sample_rate, channels = p->ch_layout.nb_channels;
    const AVCodecID codec = p->codec_id;
    avformat_close_input(&probe);
    QCOMPARE(codec, AV_CODEC_ID_MP3);
    QCOMPARE(rate, 16000);
    QCOMPARE(channels, 1);

    // It still says the same: the word at 9 s starts where it should.
    const std::vector<float> samples = speech::decodeMono16k(audio.path);
    const std::vector<float> from9(samples.begin() + 9 * 16000 - 4000, samples.end());
    QVERIFY2(std::abs(speech::startOf(from9) - (9 - 0.25)) < 0.12, qPrintable(QString::number(speech::startOf(from9))));
}

void TestAudioPrep::piecesCutInSilence_data()
{
    QTest::addColumn<qint64>("maxBytes");
    QTest::addColumn<double>("maxSeconds");
    QTest::newRow("by size") << qint64(100000) << 0.0;
    QTest::newRow("by length") << qint64(-1) << 30.0;
    QTest::newRow("both") << qint64(60000) << 20.0;
}

void TestAudioPrep::piecesCutInSilence()
{
    QFETCH(qint64, maxBytes);
    QFETCH(double, maxSeconds);
    const QString input = m_dir->filePath("long.mp3");
    speech::writeRecording(input, kRecordingSeconds);
    const PreparedAudio audio = prepareAudio(input, m_dir->filePath("prepared.mp3"));
    const std::vector<AudioPiece> pieces = splitAudio(audio, maxBytes, maxSeconds);
    QVERIFY(pieces.size() >= 3);
    int next = 0;
    double start = 0;
    for (size_t i = 0; i < pieces.size(); ++i) {
        const AudioPiece &piece = pieces[i];
        QCOMPARE(piece.first, next);
        QVERIFY(piece.end > piece.first);
        if (maxBytes >= 0)
            QVERIFY(piece.bytes <= maxBytes);
        if (maxSeconds > 0)
            QVERIFY(piece.seconds <= maxSeconds);
        QVERIFY(std::abs(piece.startSeconds - start) < 1e-9);
        next = piece.end;
        start += piece.seconds;

        // Written out, the piece holds its stretch of the recording, from a
        // silence on.
        const QString file = m_dir->filePath(QStringLiteral("piece%1.mp3").arg(i));
        writePiece(audio, piece, file);
        QCOMPARE(QFileInfo(file).size(), piece.bytes);
        const double heardStart = speech::startOf(speech::decodeMono16k(file));
        if (i > 0) {
            QVERIFY2(inGap(heardStart), qPrintable(QString::number(heardStart)));
            QVERIFY2(std::abs(heardStart - (piece.startSeconds - 0.069)) < 0.1, qPrintable(QString::number(heardStart)));
        }
    }
    QCOMPARE(next, int(audio.frames.size()));
}

void TestAudioPrep::unreadableFile()
{
    const QString junk = m_dir->filePath("junk.mp3");
    QByteArray bytes;
    for (int i = 0; i < 50000; ++i)
        bytes.append(char((i * 2654435761u) >> 24));
    testhelpers::writeFileBytes(junk, bytes);
    const AudioProbe probe = probeAudio(junk);
    QVERIFY(!probe.ok);
    QVERIFY(probe.error.startsWith("The audio of this file cannot be read"));
    const QString error = testhelpers::errorOf([&] { prepareAudio(junk, m_dir->filePath("out.mp3")); });
    QVERIFY2(error.startsWith("The audio of this file cannot be read"), qPrintable(error));
    QVERIFY(!probeAudio(m_dir->filePath("missing.mp3")).ok);
}

void TestAudioPrep::cancelDuringPreparation()
{
    const QString input = m_dir->filePath("long.wav");
    speech::writeRecording(input, kRecordingSeconds);
    std::atomic<bool> cancel{false};
    int last = -1;
    const QString error = testhelpers::errorOf([&] {
        prepareAudio(input, m_dir->filePath("out.mp3"), &cancel, [&](int percent) {
            last = percent;
            if (percent >= 30)
                cancel = true;
        });
    });
    QCOMPARE(error, QStringLiteral("Cancelled"));
    QVERIFY(last >= 30 && last < 100);
}

void TestAudioPrep::promptIsTheEndOfTheText()
{
    QStringList words;
    for (int i = 1; i <= 250; ++i)
        words.append(QStringLiteral("w%1").arg(i));
    const QString prompt = promptAfter(words.join("  \n"));
    QVERIFY(prompt.startsWith("w51 w52 "));
    QVERIFY(prompt.endsWith(" w250"));
    QCOMPARE(prompt.split(' ').size(), 200);
    QCOMPARE(promptAfter(QStringLiteral(" Short text. ")), QStringLiteral("Short text."));
    QCOMPARE(promptAfter(QString()), QString());
    // One endless word is cut to a bounded prompt.
    QVERIFY(promptAfter(QString(10000, QLatin1Char('x'))).size() <= 2000);
}

void TestAudioPrep::staleWorkFoldersRemoved()
{
    QDir root(m_dir->path());
    // One left by a process that is gone, one with no lock at all, one of a
    // run that goes on, and a folder of something else.
    QVERIFY(root.mkpath("morvane-transcribe-dead01"));
    testhelpers::writeFileBytes(root.filePath("morvane-transcribe-dead01/owner.lock"),
                                "2147483000\nmorvane\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    testhelpers::writeFileBytes(root.filePath("morvane-transcribe-dead01/prepared.mp3"), "frames");
    QVERIFY(root.mkpath("morvane-transcribe-nolock"));
    QVERIFY(root.mkpath("morvane-transcribe-alive1"));
    QLockFile alive(root.filePath("morvane-transcribe-alive1/owner.lock"));
    QVERIFY(alive.tryLock(0));
    QVERIFY(root.mkpath("other-folder"));

    removeStaleWorkFolders(root.path());
    QCOMPARE(root.entryList(QDir::Dirs | QDir::NoDotAndDotDot), (QStringList{"morvane-transcribe-alive1", "other-folder"}));
}

QTEST_GUILESS_MAIN(TestAudioPrep)
#include "tst_audioprep.moc"
