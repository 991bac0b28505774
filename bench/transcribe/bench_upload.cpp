// bench_upload [--file-mb N]
//
// Uploads one recording (200 MB unless told) to a local HTTPS server standing
// in for the transcription service, with the program's request and with
// "curl -F", taking turns, three times each. Both announce the upload with
// "Expect: 100-continue", which the server answers at once; the run of median time counts.
// Each upload runs in a child process started by fork and exec; our child
// reports its resident memory before the request and its high-water mark
// after it. Prints one figure a line as "name: value unit", then
// "target NAME: measured vs goal".

#include "../common/benchsupport.h"
#include "base/errors.h"
#include "testserver.h"
#include "transcribe/transcription.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr double kThroughputGoal = 0.9;
constexpr double kMemoryGoalMiB = 32.0;
constexpr int kRuns = 3;


int upload(int argc, char *argv[], const QString &server, const QString &path)
{
    QCoreApplication app(argc, argv);
    const double idle = statusMiB("VmRSS:");
    try {
        TranscriptionService service;
        service.server = server;
        const TranscriptionReply reply = requestTranscription(service, QStringLiteral("sk-bench"), path);
        if (!reply.ok) {
            std::fprintf(stderr, "%s\n", qPrintable(reply.error));
            return 1;
        }
    } catch (const AppError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
    std::printf("ours %.3f %.3f\n", idle, statusMiB("VmHWM:"));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--upload") == 0)
        return upload(argc, argv, QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));

    QCoreApplication app(argc, argv);
    qint64 fileBytes = 200LL * 1000 * 1000;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--file-mb"))
            fileBytes = args[i + 1].toLongLong() * 1000 * 1000;
    }
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::printf("curl: not available\n");
        return 1;
    }
    QTemporaryDir work;
    const QString path = work.filePath(QStringLiteral("recording.mp3"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        for (qint64 done = 0; done < fileBytes;) {
            const QByteArray piece = TestServer::patternBytes(done, qMin<qint64>(1 << 20, fileBytes - done));
            file.write(piece);
            done += piece.size();
        }
    }

    TestServer server(TestServer::Https);
    server.route("/v1/audio/transcriptions", Response::ok("{\"text\":\"done\"}", "application/json"));
    const QString url = server.urlString("/v1/audio/transcriptions");
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
    const QString self = QCoreApplication::applicationFilePath();

    print("file size", double(fileBytes) / kMB, "MB");
    print("runs of each client", kRuns, "runs");
    std::vector<Run> ours, theirs;
    for (int i = 0; i < kRuns; ++i) {
        ours.push_back(runChild({self, QStringLiteral("--upload"), server.urlString(QStringLiteral("/v1")), path}));
        server.clearRequests();
        theirs.push_back(runChild({curl, QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                                   QStringLiteral("/dev/null"), QStringLiteral("--cacert"), TestServer::caFile(),
                                   QStringLiteral("-H"), QStringLiteral("Authorization: Bearer sk-bench"),
                                   QStringLiteral("-F"), QStringLiteral("model=whisper-1"), QStringLiteral("-F"),
                                   QStringLiteral("file=@") + path, url}));
        server.clearRequests();
    }
    const Run o = medianRun(ours), t = medianRun(theirs);
    if (!o.ok || !t.ok) {
        std::printf("a run failed: morvane %d, curl %d\n", o.ok, t.ok);
        return 1;
    }
    print("morvane upload wall time", o.seconds, "s");
    print("morvane upload throughput", double(fileBytes) / kMB / o.seconds, "MB/s");
    // Our child reports its resident MiB before the request and its peak after.
    const QList<QByteArray> figures = o.output.trimmed().split(' ');
    const double idle = figures.value(1).toDouble(), peak = figures.value(2).toDouble();
    print("morvane idle memory", idle, "MiB");
    print("morvane upload peak memory", peak, "MiB");
    print("curl upload wall time", t.seconds, "s");
    print("curl upload throughput", double(fileBytes) / kMB / t.seconds, "MB/s");
    const double ratio = t.seconds / o.seconds;
    const double above = peak - idle;
    printTarget("upload throughput vs curl", ratio, ">=", kThroughputGoal, ratio >= kThroughputGoal);
    printTarget("upload peak memory above idle MiB", above, "<", kMemoryGoalMiB, above < kMemoryGoalMiB);
    return ratio >= kThroughputGoal && above < kMemoryGoalMiB ? 0 : 1;
}
