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
// The run of median time counts. Prints one figure a line as
// "name: value unit", then "target NAME: measured vs goal".

#include "app/errors.h"
#include "net/httpexchange.h"
#include "net/webget.h"
#include "testserver.h"
#include "../common/benchsupport.h"

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


// The child side: one transfer with our transport.
int client(const QString &mode, const QString &url)
{
    try {
        if (mode == QLatin1String("--fetch-bytes")) {
            // The feed's transfer alone, without FetchUrl's decoding and line
            // handling: tells the transport's share of FetchUrl's time.
            ExchangeOptions options;
            options.redirects = RedirectRule::Counted;
            options.inactivityTimeoutMs = kInactivityTimeoutMs;
            options.tls = TlsCheck::None;
            return runExchange(QUrl(url), options).body.isEmpty() ? 1 : 0;
        }
        if (mode == QLatin1String("--fetch")) {
            const QString text = FetchUrl(url);
            return text.isEmpty() ? 1 : 0;
        }
        QFile sink(QStringLiteral("/dev/null"));
        if (!sink.open(QIODevice::WriteOnly))
            return 1;
        DownloadTransfer transfer;
        qint64 last = 0;
        transfer.onProgress = [&last](qint64 count, qint64, bool) { last = count; };
        transfer.get(url, &sink);
        return last > 0 ? 0 : 1;
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
        bytesOnly.push_back(runChild({self, QStringLiteral("--fetch-bytes"), targets[0].url}));
    printRun(QStringLiteral("morvane"), QStringLiteral("feed transfer without decoding"), medianRun(bytesOnly), feedBytes);
    for (Target &t : targets) {
        // Ours and curl's runs take turns, so both meet the same conditions.
        std::vector<Run> ours, theirs;
        for (int i = 0; i < kRuns; ++i) {
            ours.push_back(runChild({self, t.mode, t.url}));
            if (!curl.isEmpty())
                theirs.push_back(runChild({curl, QStringLiteral("-s"), QStringLiteral("-o"), QStringLiteral("/dev/null"),
                                           QStringLiteral("-k"), t.url}));
        }
        t.ours = medianRun(ours);
        printRun(QStringLiteral("morvane"), t.what, t.ours, t.bytes);
        if (curl.isEmpty()) {
            std::printf("curl %s: not available\n", qPrintable(t.what));
            continue;
        }
        t.theirs = medianRun(theirs);
        printRun(QStringLiteral("curl"), t.what, t.theirs, t.bytes);
    }

    bool allMet = true;
    for (const Target &t : targets) {
        if (!t.ours.ok || !t.theirs.ok) {
            allMet = false;
            continue;
        }
        const double ratio = t.theirs.seconds / t.ours.seconds;  // throughput ratio
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
