// transport_bench [--feed-mb N] [--file-mb N]
//
// Serves a feed and a file from the local test server and fetches each of them
// nine times, taking turns: with our transport (FetchUrl for the feed,
// DownloadTransfer into /dev/null for the file) and with
// "curl -s -o /dev/null -k URL". Every client runs as a child process of this
// one, so that the wall time and the peak memory (wait4's resource usage) are
// measured the same way for both and the server's own memory is not counted.
// Children are started with fork and exec: a child made by posix_spawn (or
// vfork) shares this process's memory until its exec and would report this
// process's high-water mark as its own.
// The run of median time counts. Each client also reports the time of the
// transfer alone, without starting and ending the process (curl's own
// time_total, and ours timed around the call), printed beside the wall time.
// Prints one figure a line as "name: value unit", then
// "target NAME: measured vs goal".

#include "../common/benchsupport.h"
#include "base/errors.h"
#include "net/httpexchange.h"
#include "net/webget.h"
#include "testserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr double kThroughputGoal = 0.95;  // ours / curl's
constexpr double kDownloadMemoryGoalMiB = 32.0;
constexpr int kRuns = 9;  // of each client on each target; the median counts

void printRun(const QString &who, const QString &what, const Run &run, qint64 bytes)
{
    if (!run.ok) {
        std::printf("%s %s: failed\n", qPrintable(who), qPrintable(what));
        return;
    }
    print(qPrintable(QStringLiteral("%1 %2 wall time").arg(who, what)), run.seconds, "s");
    print(qPrintable(QStringLiteral("%1 %2 throughput").arg(who, what)), double(bytes) / kMB / run.seconds, "MB/s");
    print(qPrintable(QStringLiteral("%1 %2 peak memory").arg(who, what)), run.peakMiB, "MiB");
}


// The median of the transfer times the runs printed, in seconds.
double medianTransfer(const std::vector<Run> &runs)
{
    std::vector<double> seconds;
    for (const Run &r : runs)
        seconds.push_back(r.output.trimmed().toDouble());
    std::sort(seconds.begin(), seconds.end());
    return seconds.empty() ? 0 : seconds[seconds.size() / 2];
}

// A sink that drops what it is given, as curl's -o /dev/null does.
class DiscardSink final : public QIODevice
{
public:
    DiscardSink() { open(QIODevice::WriteOnly | QIODevice::Unbuffered); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *, qint64 size) override { return size; }
};

// The child side: one transfer with our transport. Prints the seconds the
// transfer took.
int client(const QString &mode, const QString &url)
{
    try {
        QElapsedTimer clock;
        clock.start();
        bool ok = false;
        if (mode == QLatin1String("--fetch-discard")) {
            // The feed's transfer alone, without FetchUrl's decoding and line
            // handling: tells the transport's share of FetchUrl's time.
            DiscardSink sink;
            ExchangeOptions options;
            options.redirects = RedirectRule::Counted;
            options.inactivityTimeoutMs = kInactivityTimeoutMs;
            options.tls = TlsCheck::None;
            options.sink = &sink;
            const ExchangeResult result = runExchange(QUrl(url), options);
            ok = result.status == 200 && result.bodyBytes > 0;
        } else if (mode == QLatin1String("--fetch")) {
            ok = !FetchUrl(url).isEmpty();
        } else {
            QFile sink(QStringLiteral("/dev/null"));
            if (!sink.open(QIODevice::WriteOnly))
                return 1;
            DownloadTransfer transfer;
            qint64 last = 0;
            transfer.onProgress = [&last](qint64 count, qint64, bool) { last = count; };
            transfer.get(url, &sink);
            ok = last > 0;
        }
        std::printf("%.6f\n", double(clock.nsecsElapsed()) / 1e9);
        return ok ? 0 : 1;
    } catch (const AppError &e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.message()));
        return 1;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 3 && args[1].startsWith(QLatin1String("--")) && !args[1].endsWith(QLatin1String("-mb")))
        return client(args[1], args[2]);

    qint64 feedBytes = 50LL * 1000 * 1000;
    qint64 fileBytes = 1024LL * 1024 * 1024;
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--feed-mb"))
            feedBytes = args[i + 1].toLongLong() * 1000 * 1000;
        else if (args[i] == QLatin1String("--file-mb"))
            fileBytes = args[i + 1].toLongLong() * 1024 * 1024;
    }

    TestServer server;
    server.route("/feed.xml", Response::pattern(feedBytes, "text/xml"));
    server.route("/episode.mp3", Response::pattern(fileBytes, "audio/mpeg"));
    const QString self = QCoreApplication::applicationFilePath();
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));

    print("feed size", double(feedBytes) / kMB, "MB");
    print("file size", double(fileBytes) / kMiB, "MiB");

    struct Target
    {
        QString what;
        QString url;
        QString mode;
        qint64 bytes = 0;
        Run ours;
        Run theirs;
    };
    Target targets[] = {
        {QStringLiteral("feed"), server.urlString("/feed.xml"), QStringLiteral("--fetch"), feedBytes, {}, {}},
        {QStringLiteral("file"), server.urlString("/episode.mp3"), QStringLiteral("--download"), fileBytes, {}, {}},
    };
    print("runs of each client", kRuns, "runs");
    std::vector<Run> bytesOnly;
    for (int i = 0; i < kRuns; ++i)
        bytesOnly.push_back(runChild({self, QStringLiteral("--fetch-discard"), targets[0].url}));
    printRun(QStringLiteral("morvane"), QStringLiteral("feed bytes dropped, not decoded"), medianRun(bytesOnly), feedBytes);
    print(QStringLiteral("morvane feed bytes dropped, not decoded, transfer time"), medianTransfer(bytesOnly), "s");
    for (Target &t : targets) {
        // Ours and curl's runs take turns, so both meet the same conditions.
        std::vector<Run> ours, theirs;
        for (int i = 0; i < kRuns; ++i) {
            ours.push_back(runChild({self, t.mode, t.url}));
            if (!curl.isEmpty())
                theirs.push_back(runChild({curl, QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                           QStringLiteral("-w"), QStringLiteral("%{time_total}"), QStringLiteral("-k"),
                                           t.url}));
        }
        t.ours = medianRun(ours);
        printRun(QStringLiteral("morvane"), t.what, t.ours, t.bytes);
        if (t.ours.ok)
            print(QStringLiteral("morvane %1 transfer time").arg(t.what), medianTransfer(ours), "s");
        if (curl.isEmpty()) {
            std::printf("curl %s: not available\n", qPrintable(t.what));
            continue;
        }
        t.theirs = medianRun(theirs);
        printRun(QStringLiteral("curl"), t.what, t.theirs, t.bytes);
        if (t.theirs.ok)
            print(QStringLiteral("curl %1 transfer time").arg(t.what), medianTransfer(theirs), "s");
    }

    bool allMet = true;
    for (const Target &t : targets) {
        if (!t.ours.ok || !t.theirs.ok) {
            allMet = false;
            continue;
        }
        const double ratio = t.theirs.seconds / t.ours.seconds;  // throughput ratio, whole runs
        const bool met = ratio >= kThroughputGoal;
        allMet = allMet && met;
        printTarget(qPrintable(t.what + QStringLiteral(" throughput vs curl")), ratio, ">=", kThroughputGoal, met);
    }
    const Run &download = targets[1].ours;
    if (download.ok) {
        const bool met = download.peakMiB < kDownloadMemoryGoalMiB;
        allMet = allMet && met;
        printTarget("file download peak memory MiB", download.peakMiB, "<", kDownloadMemoryGoalMiB, met);
    }
    return allMet ? 0 : 1;
}
