// bench_upload [--file-mb N]
//
// Uploads one recording (200 MB unless told) to a local HTTPS server standing
// in for the transcription service, with the program's request and with
// "curl -F", taking turns, three times each; the run of median time counts.
// Each upload runs in a child process started by fork and exec; our child
// reports its resident memory before the request and its high-water mark
// after it. Prints one figure a line as "name: value unit", then
// "target NAME: measured vs goal".

#include "app/errors.h"
#include "transcribe/transcription.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr double kMB = 1000.0 * 1000.0;
constexpr double kThroughputGoal = 0.9;
constexpr double kMemoryGoalMiB = 32.0;
constexpr int kRuns = 3;

struct Run
{
    bool ok = false;
    double seconds = 0;
    double idleMiB = 0;
    double peakMiB = 0;
};

double statusMiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    return 0;
}

Run runChild(const QStringList &arguments)
{
    std::vector<QByteArray> storage;
    for (const QString &a : arguments)
        storage.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0)
        return {};
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execve(argv[0], argv.data(), environ);
        _exit(127);
    }
    close(out[1]);
    QByteArray report;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, n);
    close(out[0]);
    Run run;
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        return run;
    run.seconds = double(clock.nsecsElapsed()) / 1e9;
    run.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    const QList<QByteArray> figures = report.trimmed().split(' ');
    if (figures.size() == 3 && figures[0].startsWith("ours")) {
        run.idleMiB = figures[1].toDouble();
        run.peakMiB = figures[2].toDouble();
    }
    return run;
}

Run median(std::vector<Run> runs)
{
    for (const Run &r : runs) {
        if (!r.ok)
            return r;
    }
    std::sort(runs.begin(), runs.end(), [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    return runs[runs.size() / 2];
}

void print(const char *name, double value, const char *unit)
{
    std::printf("%s: %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

void printTarget(const char *name, double measured, const char *relation, double goal, bool met)
{
    std::printf("target %s: %.3f vs %s %.3f (%s)\n", name, measured, relation, goal, met ? "met" : "missed");
    std::fflush(stdout);
}

int upload(int argc, char *argv[], const QString &path)
{
    QCoreApplication app(argc, argv);
    const double idle = statusMiB("VmRSS:");
    try {
        const TranscriptionReply reply = requestTranscription(TranscriptionService(), QStringLiteral("sk-bench"), path);
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
    if (argc == 3 && qstrcmp(argv[1], "--upload") == 0)
        return upload(argc, argv, QString::fromLocal8Bit(argv[2]));

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
    qputenv("MORVANE_OPENAI_URL", url.toLatin1());
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
    const QString self = QCoreApplication::applicationFilePath();

    print("file size", double(fileBytes) / kMB, "MB");
    print("runs of each client", kRuns, "runs");
    std::vector<Run> ours, theirs;
    for (int i = 0; i < kRuns; ++i) {
        ours.push_back(runChild({self, QStringLiteral("--upload"), path}));
        server.clearRequests();
        theirs.push_back(runChild({curl, QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                                   QStringLiteral("/dev/null"), QStringLiteral("--cacert"), TestServer::caFile(),
                                   QStringLiteral("-H"), QStringLiteral("Authorization: Bearer sk-bench"),
                                   QStringLiteral("-F"), QStringLiteral("model=whisper-1"), QStringLiteral("-F"),
                                   QStringLiteral("file=@") + path, url}));
        server.clearRequests();
    }
    const Run o = median(ours), t = median(theirs);
    if (!o.ok || !t.ok) {
        std::printf("a run failed: morvane %d, curl %d\n", o.ok, t.ok);
        return 1;
    }
    print("morvane upload wall time", o.seconds, "s");
    print("morvane upload throughput", double(fileBytes) / kMB / o.seconds, "MB/s");
    print("morvane idle memory", o.idleMiB, "MiB");
    print("morvane upload peak memory", o.peakMiB, "MiB");
    print("curl upload wall time", t.seconds, "s");
    print("curl upload throughput", double(fileBytes) / kMB / t.seconds, "MB/s");
    const double ratio = t.seconds / o.seconds;
    const double above = o.peakMiB - o.idleMiB;
    printTarget("upload throughput vs curl", ratio, ">=", kThroughputGoal, ratio >= kThroughputGoal);
    printTarget("upload peak memory above idle MiB", above, "<", kMemoryGoalMiB, above < kMemoryGoalMiB);
    return ratio >= kThroughputGoal && above < kMemoryGoalMiB ? 0 : 1;
}
