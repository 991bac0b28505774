// bench_prepare [--minutes N]
//
// Prepares a long episode for transcription (2 hours of 128 kbit/s stereo
// MP3 unless told, made by the benchmark) with the program's preparation and
// with Debian's ffmpeg command ("ffmpeg -i in.mp3 -ac 1 -ar 16000 -b:a 32k
// out.mp3"), taking turns, twice each; the run of median time counts. Each
// runs in a child process; its peak resident memory comes from wait4. Then
// prints how many pieces a request limit of 26,214,400 bytes gives and their
// sizes. Prints one figure a line as "name: value unit", then
// "target NAME: measured vs goal". Without the ffmpeg command it says so and
// ends without figures.

#include "../common/benchsupport.h"
#include "base/errors.h"
#include "speechstandin.h"
#include "transcribe/audioprep.h"
#include "transcribe/transcriptionjob.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr double kSpeedGoal = 0.9;
constexpr double kMemoryGoalMiB = 64.0;
constexpr int kRuns = 2;

int prepare(int argc, char *argv[], const QString &in, const QString &out)
{
    QCoreApplication app(argc, argv);
    try {
        const PreparedAudio audio = prepareAudio(in, out);
        const std::vector<AudioPiece> pieces =
            splitAudio(audio, kDefaultServerRequestBytes - kFormAllowanceBytes, 0);
        std::printf("pieces %zu", pieces.size());
        for (const AudioPiece &piece : pieces)
            std::printf(" %lld:%.1f", static_cast<long long>(piece.bytes), piece.seconds);
        std::printf("\n");
    } catch (const AppError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--prepare") == 0)
        return prepare(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication app(argc, argv);
    double minutes = 120;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--minutes"))
            minutes = args[i + 1].toDouble();
    }
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::printf("ffmpeg: not available (apt-get install ffmpeg); nothing measured\n");
        return 0;
    }
    QTemporaryDir work;
    const QString episode = work.filePath(QStringLiteral("episode.mp3"));
    speech::writeRecording(episode, minutes * 60, 128000, 2);
    const QString self = QCoreApplication::applicationFilePath();

    print("episode length", minutes * 60, "s");
    print("episode size", double(QFileInfo(episode).size()) / kMB, "MB");
    print("runs of each", kRuns, "runs");
    std::vector<Run> ours, theirs;
    for (int i = 0; i < kRuns; ++i) {
        ours.push_back(runChild({self, QStringLiteral("--prepare"), episode, work.filePath(QStringLiteral("ours.mp3"))}));
        theirs.push_back(runChild({ffmpeg, QStringLiteral("-nostdin"), QStringLiteral("-loglevel"), QStringLiteral("error"),
                                   QStringLiteral("-y"), QStringLiteral("-i"), episode, QStringLiteral("-ac"),
                                   QStringLiteral("1"), QStringLiteral("-ar"), QStringLiteral("16000"),
                                   QStringLiteral("-b:a"), QStringLiteral("32k"),
                                   work.filePath(QStringLiteral("ffmpeg.mp3"))}));
    }
    const Run o = medianRun(ours), t = medianRun(theirs);
    if (!o.ok || !t.ok) {
        std::printf("a run failed: morvane %d, ffmpeg %d\n", o.ok, t.ok);
        return 1;
    }
    print("morvane preparation wall time", o.seconds, "s");
    print("morvane preparation peak memory", o.peakMiB, "MiB");
    print("morvane prepared size", double(QFileInfo(work.filePath(QStringLiteral("ours.mp3"))).size()) / kMB, "MB");
    print("ffmpeg wall time", t.seconds, "s");
    print("ffmpeg peak memory", t.peakMiB, "MiB");
    print("ffmpeg output size", double(QFileInfo(work.filePath(QStringLiteral("ffmpeg.mp3"))).size()) / kMB, "MB");

    // "pieces N bytes:seconds ..." from our child.
    const QList<QByteArray> words = o.output.trimmed().split(' ');
    print("pieces for a 26,214,400-byte request limit", words.value(1).toDouble(), "pieces");
    for (qsizetype i = 2; i < words.size(); ++i) {
        const QList<QByteArray> piece = words[i].split(':');
        print(QStringLiteral("piece %1 size").arg(i - 1), piece.value(0).toDouble(), "bytes");
        print(QStringLiteral("piece %1 length").arg(i - 1), piece.value(1).toDouble(), "s");
    }
    const double speed = t.seconds / o.seconds;
    printTarget("preparation speed vs ffmpeg", speed, ">=", kSpeedGoal, speed >= kSpeedGoal);
    printTarget("preparation peak memory MiB", o.peakMiB, "<", kMemoryGoalMiB, o.peakMiB < kMemoryGoalMiB);
    return speed >= kSpeedGoal && o.peakMiB < kMemoryGoalMiB ? 0 : 1;
}
