// bench_downloads [--episode-mb N] [--batch N]
//
// Serves one large episode and a batch of small ones (100 KB each) from the
// local test server, and downloads them with the program's Download command
// (the real window, offscreen, and its worker) and with curl, taking turns,
// three times each; the run of median time counts. curl's batch is one curl
// process per file, so much of its time is starting processes; the batch is
// therefore also fetched by one wget process that reads the 200 URLs from a
// file and takes each on a new connection (wget --no-http-keep-alive -i),
// when wget is there. Every download runs in a
// child process started by fork and exec, so that the figures are the child's
// own. Files go to a folder on /dev/shm where there is one, so that both
// clients wait for the same memory, not for a disk. Prints one figure a line
// as "name: value unit", then "target NAME: measured vs goal".

#include "app/main.h"
#include "feeds/episodemodel.h"
#include "scripteddialogs.h"
#include "testserver.h"
#include "../common/benchsupport.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

using namespace bench;

constexpr qint64 kSmallEpisode = 100 * 1000;
constexpr double kThroughputGoal = 0.95;
constexpr double kMemoryGoalMiB = 32.0;
constexpr int kRuns = 3;

// The figures our children print: the batch's own seconds (without the start
// of the process), the resident MiB before it and the peak MiB after it.
struct Report
{
    double seconds = 0;
    double idleMiB = 0;
    double peakMiB = 0;
};

Report reportOf(const Run &run)
{
    const QList<QByteArray> figures = run.output.trimmed().split(' ');
    Report report;
    if (figures.size() == 3)
        report = {figures[0].toDouble(), figures[1].toDouble(), figures[2].toDouble()};
    return report;
}

// A run of our own child, timed by its report.
Run reported(Run run)
{
    if (run.ok)
        run.seconds = reportOf(run).seconds;
    return run;
}

// The child: the Download command of a real window over count rows whose URLs
// are base + "/1" ... base + "/count", into folder. Prints the batch's seconds,
// the resident MiB before it and the peak MiB after it.
int downloadWithWindow(const QString &base, int count, const QString &folder)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "bench_downloads";
    char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    QTemporaryDir data;
    ScriptedDialogs dialogs;
    AppEnvironment env;
    env.dialogs = &dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = data.path();
    env.configFolder = data.path();
    env.desktopFolder = data.path();
    QFile(data.filePath("list.txt")).open(QIODevice::WriteOnly);
    TAppForm window(env);
    window.Edit1->setText(folder);
    EpisodeRows rows;
    for (int i = 1; i <= count; ++i)
        rows.append({QStringLiteral("Episode %1").arg(i), base + QStringLiteral("/%1").arg(i), QString(), QString()});
    window.episodeModel()->setRows(rows);
    window.ListView1->selectAll();

    const double idle = statusMiB("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    window.BitBtn1->click();
    while (window.downloader() || !window.BitBtn1->isEnabled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const bool allDone = std::all_of(window.episodeModel()->rows().cbegin(), window.episodeModel()->rows().cend(),
                                     [](const EpisodeRow &r) { return r.status == QLatin1String("Downloaded"); });
    std::printf("%.6f %.3f %.3f\n", seconds, idle, statusMiB("VmHWM:"));
    return allDone && dialogs.boxes().isEmpty() ? 0 : 1;
}

// The child for curl's batch: one curl process per file, one after another.
int downloadWithCurl(const QString &curl, const QString &base, int count, const QString &folder)
{
    QDir().mkpath(folder);
    QElapsedTimer clock;
    clock.start();
    for (int i = 1; i <= count; ++i) {
        const QStringList arguments{curl, QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                                    folder + QStringLiteral("/%1.mp3").arg(i), base + QStringLiteral("/%1").arg(i)};
        if (!runChild(arguments).ok)
            return 1;
    }
    std::printf("%.6f 0 0\n", double(clock.nsecsElapsed()) / 1e9);
    return 0;
}

// The child for wget's batch: one wget process fetching every URL from a list,
// one after another, each on a new connection.
int downloadWithWget(const QString &wget, const QString &base, int count, const QString &folder)
{
    QDir().mkpath(folder);
    QTemporaryDir lists;
    QFile urls(lists.filePath(QStringLiteral("urls.txt")));
    if (!urls.open(QIODevice::WriteOnly))
        return 1;
    for (int i = 1; i <= count; ++i)
        urls.write((base + QStringLiteral("/%1\n").arg(i)).toUtf8());
    urls.close();
    QElapsedTimer clock;
    clock.start();
    const QStringList arguments{wget, QStringLiteral("-q"), QStringLiteral("--no-http-keep-alive"),
                                QStringLiteral("--tries=1"), QStringLiteral("-P"), folder,
                                QStringLiteral("-i"), urls.fileName()};
    if (!runChild(arguments).ok)
        return 1;
    std::printf("%.6f 0 0\n", double(clock.nsecsElapsed()) / 1e9);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--window") == 0)
        return downloadWithWindow(QString::fromLocal8Bit(argv[2]), atoi(argv[3]), QString::fromLocal8Bit(argv[4]));
    if (argc == 6 && qstrcmp(argv[1], "--curl-batch") == 0)
        return downloadWithCurl(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]),
                                QString::fromLocal8Bit(argv[5]));
    if (argc == 6 && qstrcmp(argv[1], "--wget-batch") == 0)
        return downloadWithWget(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]), atoi(argv[4]),
                                QString::fromLocal8Bit(argv[5]));

    QCoreApplication app(argc, argv);
    qint64 episodeBytes = 1024LL * 1024 * 1024;
    int batch = 200;
    const QStringList args = app.arguments();
    for (qsizetype i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--episode-mb"))
            episodeBytes = args[i + 1].toLongLong() * 1024 * 1024;
        else if (args[i] == QLatin1String("--batch"))
            batch = args[i + 1].toInt();
    }
    const QString curl = QStandardPaths::findExecutable(QStringLiteral("curl"));
    if (curl.isEmpty()) {
        std::printf("curl: not available\n");
        return 1;
    }
    const QString wget = QStandardPaths::findExecutable(QStringLiteral("wget"));
    if (wget.isEmpty())
        std::printf("wget: not available, the batch is compared with curl alone\n");
    // The windows of the children want a runtime folder of their own.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        QFile::setPermissions(runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    const QString shm = QStringLiteral("/dev/shm");
    QTemporaryDir work(QFileInfo(shm).isDir() ? shm + QStringLiteral("/bench_downloads-XXXXXX") : QString());
    const QString self = QCoreApplication::applicationFilePath();

    TestServer server;
    server.route("/big/1", Response::pattern(episodeBytes, "audio/mpeg"));
    for (int i = 1; i <= batch; ++i)
        server.route(QStringLiteral("/small/%1").arg(i), Response::pattern(kSmallEpisode, "audio/mpeg"));

    print(QStringLiteral("episode size"), double(episodeBytes) / kMiB, "MiB");
    print(QStringLiteral("batch"), batch, "episodes");
    print(QStringLiteral("runs of each client"), kRuns, "runs");

    std::vector<Run> oursBig, curlBig, oursBatch, curlBatch, wgetBatch;
    const QString folder = work.filePath(QStringLiteral("pods"));
    auto clean = [&folder] { QDir(folder).removeRecursively(); };
    for (int i = 0; i < kRuns; ++i) {
        oursBig.push_back(reported(runChild({self, QStringLiteral("--window"), server.urlString("/big"), QStringLiteral("1"), folder})));
        clean();
        QDir().mkpath(folder);
        curlBig.push_back(runChild({curl, QStringLiteral("-s"), QStringLiteral("-f"), QStringLiteral("-o"),
                                    folder + QStringLiteral("/big.mp3"), server.urlString("/big/1")}));
        clean();
        oursBatch.push_back(reported(runChild({self, QStringLiteral("--window"), server.urlString("/small"),
                                               QString::number(batch), folder})));
        clean();
        curlBatch.push_back(reported(runChild({self, QStringLiteral("--curl-batch"), curl, server.urlString("/small"),
                                               QString::number(batch), folder})));
        clean();
        if (!wget.isEmpty()) {
            wgetBatch.push_back(reported(runChild({self, QStringLiteral("--wget-batch"), wget,
                                                   server.urlString("/small"), QString::number(batch), folder})));
            clean();
        }
    }
    const Run ob = medianRun(oursBig), cb = medianRun(curlBig), os = medianRun(oursBatch), cs = medianRun(curlBatch);
    if (!ob.ok || !cb.ok || !os.ok || !cs.ok) {
        std::printf("a run failed: morvane episode %d, curl episode %d, morvane batch %d, curl batch %d\n", ob.ok,
                    cb.ok, os.ok, cs.ok);
        return 1;
    }
    print(QStringLiteral("morvane episode wall time"), ob.seconds, "s");
    print(QStringLiteral("morvane episode throughput"), double(episodeBytes) / kMB / ob.seconds, "MB/s");
    const Report memory = reportOf(ob);
    print(QStringLiteral("morvane idle memory"), memory.idleMiB, "MiB");
    print(QStringLiteral("morvane episode peak memory"), memory.peakMiB, "MiB");
    print(QStringLiteral("curl episode wall time"), cb.seconds, "s");
    print(QStringLiteral("curl episode throughput"), double(episodeBytes) / kMB / cb.seconds, "MB/s");
    print(QStringLiteral("morvane batch wall time"), os.seconds, "s");
    print(QStringLiteral("curl batch wall time"), cs.seconds, "s");
    const Run ws = wget.isEmpty() ? Run() : medianRun(wgetBatch);
    const bool wgetMet = wget.isEmpty() || (ws.ok && os.seconds <= ws.seconds);
    if (!wget.isEmpty() && !ws.ok)
        std::printf("a run failed: wget batch\n");
    else if (!wget.isEmpty())
        print(QStringLiteral("wget batch wall time"), ws.seconds, "s");

    const double ratio = cb.seconds / ob.seconds;
    const double above = memory.peakMiB - memory.idleMiB;
    printTarget("episode throughput vs curl", ratio, ">=", kThroughputGoal, ratio >= kThroughputGoal);
    printTarget("batch time vs curl s", os.seconds, "<=", cs.seconds, os.seconds <= cs.seconds);
    if (!wget.isEmpty() && ws.ok)
        printTarget("batch time vs wget s", os.seconds, "<=", ws.seconds, wgetMet);
    printTarget("episode peak memory above idle MiB", above, "<", kMemoryGoalMiB, above < kMemoryGoalMiB);
    return ratio >= kThroughputGoal && os.seconds <= cs.seconds && wgetMet && above < kMemoryGoalMiB ? 0 : 1;
}
