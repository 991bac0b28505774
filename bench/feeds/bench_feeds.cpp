// Feed parsing and episode list filling on a large generated podcast feed.
// Prints one figure a line as "name: value unit" and each target as
// "target NAME: measured vs goal". With --window-retrieval-only it measures
// only the retrieval in a main window that stays up (see windowRetrievalOnly).

#include "base/textcodec.h"
#include "feeds/episodemodel.h"
#include "feeds/rssparser.h"

#include "app/main.h"
#include "base/userdialogs.h"
#include "testserver.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QHeaderView>
#include <QProcess>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int ItemCount = 5000;
constexpr int Runs = 5;

QByteArray paragraph(int n)
{
    static const char *const words[] = {"podcast", "episode", "guest", "interview", "music", "science",
                                        "history", "&amp;", "listener", "questions", "season", "story",
                                        "links:", "https://example.com/notes", "thanks", "sponsor"};
    QByteArray p;
    unsigned seed = unsigned(n) * 2654435761u;
    while (p.size() < 2600) {
        seed = seed * 1103515245u + 12345u;
        p += words[(seed >> 16) % (sizeof words / sizeof *words)];
        p += (seed >> 8) % 11 == 0 ? ". " : " ";
    }
    return p;
}

QByteArray generateFeed()
{
    static const char *const days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static const char *const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    QByteArray feed;
    feed.reserve(16 * 1024 * 1024);
    feed += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            "<rss version=\"2.0\" xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\""
            " xmlns:content=\"http://purl.org/rss/1.0/modules/content/\">\r\n<channel>\r\n"
            "<title>The Long Show</title>\r\n<link>https://show.example/</link>\r\n"
            "<description>A show with very many episodes.</description>\r\n"
            "<itunes:author>Someone</itunes:author>\r\n<itunes:explicit>false</itunes:explicit>\r\n";
    for (int i = ItemCount; i >= 1; --i) {
        const QByteArray n = QByteArray::number(i);
        feed += "<item>\r\n  <title>Episode " + n + ": Caf\xC3\xA9 talk &amp; more</title>\r\n"
                "  <description><![CDATA[<p>" + paragraph(i) + "</p>]]></description>\r\n"
                "  <pubDate>" + days[i % 7] + ", " + QByteArray::number(i % 28 + 1).rightJustified(2, '0') + " "
                + months[i % 12] + " " + QByteArray::number(2000 + i % 24) + " 06:00:00 +0000</pubDate>\r\n"
                "  <enclosure url=\"https://cdn.show.example/audio/episode-" + n
                + ".mp3?source=feed\" length=\"" + QByteArray::number(40000000 + i * 13)
                + "\" type=\"audio/mpeg\"/>\r\n"
                "  <guid isPermaLink=\"false\">show-example-" + n + "-7f3a</guid>\r\n"
                "  <itunes:title>Episode " + n + "</itunes:title>\r\n"
                "  <itunes:episode>" + n + "</itunes:episode>\r\n"
                "  <itunes:duration>01:02:" + QByteArray::number(10 + i % 50) + "</itunes:duration>\r\n"
                "  <itunes:explicit>false</itunes:explicit>\r\n"
                "  <itunes:image href=\"https://cdn.show.example/art/" + n + ".jpg\"/>\r\n"
                "  <itunes:summary>Summary of episode " + n + " with a guest.</itunes:summary>\r\n"
                "</item>\r\n";
    }
    feed += "</channel>\r\n</rss>\r\n";
    return feed;
}

// Best of Runs, in milliseconds.
double bestMs(const std::function<void()> &work, int runs = Runs)
{
    std::vector<double> times;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer timer;
        timer.start();
        work();
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return *std::min_element(times.begin(), times.end());
}

void figure(const char *name, double value, const char *unit)
{
    std::printf("%s: %.2f %s\n", name, value, unit);
}

void target(const char *name, bool met, const QString &detail)
{
    std::printf("target %s: %s (%s)\n", name, qPrintable(detail), met ? "met" : "MISSED");
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
           + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for a while, so that whatever listens to the window
// (an accessibility client, say) has its turn.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// The retrieval in a main window that stays up between runs, with time for
// the desktop around it to settle before and after each: for measuring with
// an AT-SPI client connected (run under a display, with
// QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1). Prints each run.
int windowRetrievalOnly(const QByteArray &bytes)
{
    TestServer server(TestServer::Http);
    server.route(QStringLiteral("/feed.xml"), Response::ok(bytes, "application/rss+xml"));
    QTemporaryDir programDir;
    QFile list(programDir.filePath(QStringLiteral("list.txt")));
    if (!list.open(QIODevice::WriteOnly) || list.write(server.urlString(QStringLiteral("/feed.xml")).toUtf8()) < 0)
        return 1;
    list.close();
    QtUserDialogs dialogs;
    AppEnvironment env;
    env.dialogs = &dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = env.configFolder = env.desktopFolder = programDir.path();
    TAppForm form(env);
    form.show();
    form.ListBox1->setFocus();
    form.ListBox1->selectRow(0);
    settle(3000);
    for (int run = 1; run <= 3; ++run) {
        const double cpuBefore = cpuSeconds();
        QElapsedTimer timer;
        timer.start();
        form.RetrieveEpisodes1->trigger();
        QCoreApplication::processEvents();
        form.ListView1->viewport()->repaint();
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        settle(3000);
        std::printf("window_retrieval_run_%d: %.2f ms, %.2f s of CPU with the 3 s after it (%d rows)\n", run, ms,
                    cpuSeconds() - cpuBefore, form.episodeModel()->rowCount());
    }
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    QTemporaryDir dir;
    if (!dir.isValid())
        return 1;
    const QString path = dir.filePath(QStringLiteral("feed.xml"));
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(generateFeed()) < 0)
            return 1;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 1;
    const QByteArray bytes = file.readAll();
    if (app.arguments().contains(QStringLiteral("--window-retrieval-only")))
        return windowRetrievalOnly(bytes);
    figure("feed_size", double(bytes.size()) / (1024.0 * 1024.0), "MiB");
    std::printf("feed_items: %d items\n", ItemCount);

    // Decoding and parsing, the text already in memory.
    QString text;
    const double decodeMs = bestMs([&] { text = decodeText(bytes); });
    FeedParseResult result;
    const double parseMs = bestMs([&] { result = parseFeed(text); });
    const double bothMs = bestMs([&] { result = parseFeed(decodeText(bytes)); });
    if (result.outcome != FeedParseResult::ChannelsFound || result.rows.size() != ItemCount) {
        std::printf("error: parse gave %lld rows\n", static_cast<long long>(result.rows.size()));
        return 1;
    }
    figure("decode_text", decodeMs, "ms");
    figure("parse_feed", parseMs, "ms");
    figure("decode_and_parse", bothMs, "ms");

    // xmllint on the same file, as a child process.
    double xmllintMs = -1;
    {
        bool ran = true;
        xmllintMs = bestMs([&] {
            QProcess lint;
            lint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), path});
            ran = ran && lint.waitForFinished(60000) && lint.exitStatus() == QProcess::NormalExit
                  && lint.exitCode() == 0;
        });
        if (!ran)
            xmllintMs = -1;
    }
    figure("xmllint_noout", xmllintMs, "ms");

    // Filling the episode list in one batch, then laying out and painting it.
    EpisodeModel model;
    QTableView view;
    view.setModel(&model);
    view.verticalHeader()->hide();
    view.resize(800, 600);
    view.show();
    QCoreApplication::processEvents();
    auto fillMs = [&](int rows) {
        const EpisodeRows slice = result.rows.mid(0, rows);
        return bestMs([&] {
            model.clear();
            QCoreApplication::processEvents();
            EpisodeRows copy = slice;
            model.setRows(std::move(copy));
            view.scrollToBottom();
            QCoreApplication::processEvents();
            view.viewport()->repaint();
        });
    };
    const double fill1250 = fillMs(1250);
    const double fill2500 = fillMs(2500);
    const double fill5000 = fillMs(5000);
    figure("list_fill_1250", fill1250, "ms");
    figure("list_fill_2500", fill2500, "ms");
    figure("list_fill_5000", fill5000, "ms");
    figure("list_fill_per_row_1250", fill1250 * 1000.0 / 1250, "us");
    figure("list_fill_per_row_5000", fill5000 * 1000.0 / 5000, "us");

    // The whole retrieval as the user sees it: a click on the feed in the main
    // window, the feed fetched from the local server, parsed, and its rows shown.
    double retrievalMs = -1;
    {
        TestServer server(TestServer::Http);
        server.route(QStringLiteral("/feed.xml"), Response::ok(bytes, "application/rss+xml"));
        QTemporaryDir programDir;
        QFile list(programDir.filePath(QStringLiteral("list.txt")));
        if (!list.open(QIODevice::WriteOnly) || list.write(server.urlString(QStringLiteral("/feed.xml")).toUtf8()) < 0)
            return 1;
        list.close();
        QtUserDialogs dialogs;
        AppEnvironment env;
        env.dialogs = &dialogs;
        env.versionFile = QCoreApplication::applicationFilePath();
        env.programFolder = env.configFolder = env.desktopFolder = programDir.path();
        TAppForm form(env);
        form.show();
        QCoreApplication::processEvents();
        form.ListBox1->selectRow(0);
        retrievalMs = bestMs([&] {
            form.RetrieveEpisodes1->trigger();
            QCoreApplication::processEvents();
            form.ListView1->viewport()->repaint();
        });
        if (form.episodeModel()->rowCount() != ItemCount) {
            std::printf("error: retrieval gave %d rows\n", form.episodeModel()->rowCount());
            return 1;
        }
    }
    figure("retrieval_from_local_server", retrievalMs, "ms");

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    figure("peak_rss", double(usage.ru_maxrss) / 1024.0, "MiB");

    if (xmllintMs > 0)
        target("parse_within_2x_xmllint", parseMs <= 2 * xmllintMs,
               QStringLiteral("%1 ms vs %2 ms").arg(parseMs, 0, 'f', 1).arg(2 * xmllintMs, 0, 'f', 1));
    else
        target("parse_within_2x_xmllint", false, QStringLiteral("xmllint did not run"));
    target("retrieval_under_1s", retrievalMs < 1000.0,
           QStringLiteral("%1 ms vs 1000 ms").arg(retrievalMs, 0, 'f', 1));
    // Linear: 4 times the rows may cost at most 4 times as long, with 25 % for noise.
    const double ratio = fill5000 / fill1250;
    target("list_fill_linear", ratio <= 4.0 * 1.25,
           QStringLiteral("%1x the time for 4x the rows vs at most 5.0x").arg(ratio, 0, 'f', 2));
    return 0;
}
