// "Find Podcasts...": the directory's replies read, the search running beside
// the window, and the chosen results added to the feed list, against a local
// server standing in for the directory.
#include "app/main.h"
#include "feeds/feedlistfile.h"
#include "feeds/findpodcasts.h"
#include "feeds/podcastsearch.h"
#include "scripteddialogs.h"
#include "testhelpers.h"
#include "testserver.h"
#include "testwindow.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using testhelpers::readFileBytes;
using testhelpers::writeFileBytes;

namespace {

// Three results in the directory's form, the second without a feed address.
QByteArray threeResults()
{
    return readFileBytes(QStringLiteral(MORVANE_TEST_DATA_DIR "/search-results.json"));
}

QString searchAddress(const TestServer &server)
{
    return server.urlString("/search?media=podcast&entity=podcast&limit=50&term=");
}

} // namespace

class TestFindPodcasts : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void parse_data();
    void parse();
    void searchAddressOfWords();
    void replies_data();
    void replies();
    void emptyWordsSendNothing();
    void slowSearchOvertaken();
    void addChosenOnce();
    void addressSettingWrittenWhenChanged();

private:
    // A main window whose settings point the search at the server, and its
    // Find Podcasts window, shown.
    TFindPodcasts *openWindow(const TestServer &server, const QStringList &feeds = {});
    QString dataFile(const char *name) const { return m_dir->filePath(QLatin1String(name)); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAppForm> m_window;
};

void TestFindPodcasts::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void TestFindPodcasts::cleanup()
{
    m_window.reset();
    m_dialogs.verifyDone();
}

TFindPodcasts *TestFindPodcasts::openWindow(const TestServer &server, const QStringList &feeds)
{
    writeFileBytes(dataFile("settings.ini"),
                   "\xEF\xBB\xBF[Settings]\r\nPodcastSearch=" + searchAddress(server).toUtf8() + "\r\n\r\n");
    m_window = makeTestWindow(m_dialogs, m_dir->path(), feeds);
    m_window->FindPodcasts1->trigger();
    TFindPodcasts *find = m_window->findPodcasts();
    if (find && !QTest::qWaitForWindowExposed(find))
        return nullptr;
    return find;
}

void TestFindPodcasts::parse_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("rows"); // title | author | episodes | feed
    QTest::newRow("results, one without feed")
        << threeResults()
        << QStringList{"Night Sky|Ann Astro|120|https://night.example/feed.xml",
                       "Stars & Co|B. Côté|-1|http://stars.example/rss?x=1&y=2"};
    QTest::newRow("no results") << QByteArray("{\"resultCount\":0,\"results\":[]}") << QStringList();
    QTest::newRow("odd values") << QByteArray("{\"results\":[7,{\"feedUrl\":\"  \"},{\"feedUrl\":\"http://a.example/\",\n        \"collectionName\":5,\"trackCount\":\"many\"}]}")
                                << QStringList{"||-1|http://a.example/"};
}

void TestFindPodcasts::parse()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, rows);
    QStringList got;
    for (const PodcastFound &p : parsePodcastSearch(reply))
        got << QStringList{p.title, p.author, QString::number(p.episodes), p.feedUrl}.join('|');
    QCOMPARE(got, rows);
    for (const QByteArray &bad : {QByteArray("<html>Search</html>"), QByteArray("[1,2]"), QByteArray("{\"results\":{}}"),
                                 QByteArray()})
        QCOMPARE(testhelpers::errorOf([&] { parsePodcastSearch(bad); }), "The directory's reply is not understood.");
}

void TestFindPodcasts::searchAddressOfWords()
{
    QCOMPARE(QString::fromLatin1(kDefaultPodcastSearch),
             "https://itunes.apple.com/search?media=podcast&entity=podcast&limit=50&term=");
    QCOMPARE(podcastSearchUrl(kDefaultPodcastSearch, "  night \t sky&stars/ü "),
             "https://itunes.apple.com/search?media=podcast&entity=podcast&limit=50&term=night%20sky%26stars%2F%C3%BC");
}

void TestFindPodcasts::replies_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("status");
    QTest::newRow("results") << 0 << 2 << "2 podcasts found.";
    QTest::newRow("empty result") << 1 << 0 << "No podcasts found.";
    QTest::newRow("error status") << 2 << 0 << "HTTP/1.1 503 Service Unavailable";
    QTest::newRow("not JSON") << 3 << 0 << "The directory's reply is not understood.";
    QTest::newRow("too large") << 4 << 0 << "The directory's reply is too large.";
}

void TestFindPodcasts::replies()
{
    QFETCH(int, kind);
    QFETCH(int, rows);
    QFETCH(QString, status);
    TestServer directory;
    const Response responses[] = {
        Response::ok(threeResults(), "application/json"),
        Response::ok("{\"resultCount\":0,\"results\":[]}", "application/json"),
        Response::status(503, "Service Unavailable", "{\"errorMessage\":\"busy\"}", "application/json"),
        Response::ok("<!DOCTYPE html><html><body>Search</body></html>", "text/html"),
        Response::pattern(kMaxSearchReplyBytes + 1, "application/json"),
    };
    directory.route("/search", responses[kind]);
    TFindPodcasts *find = openWindow(directory);
    QVERIFY(find);
    find->Edit1->setText("night sky");
    QTest::keyClick(find->Edit1, Qt::Key_Return);
    QVERIFY(find->searching());
    QCOMPARE(find->statusText(), "Searching...");
    QTRY_VERIFY(!find->searching());
    QCOMPARE(find->statusText(), status);
    QCOMPARE(find->results()->rowCount(), rows);
    QCOMPARE(directory.lastRequest("/search").target,
             QByteArray("/search?media=podcast&entity=podcast&limit=50&term=night%20sky"));
    if (rows == 2) {
        const QStandardItemModel *r = find->results();
        QCOMPARE(r->headerData(TFindPodcasts::FeedAddress, Qt::Horizontal).toString(), "Feed Address");
        QCOMPARE(r->index(0, TFindPodcasts::Title).data().toString(), "Night Sky");
        QCOMPARE(r->index(0, TFindPodcasts::Author).data().toString(), "Ann Astro");
        QCOMPARE(r->index(0, TFindPodcasts::Episodes).data().toString(), "120");
        QCOMPARE(r->index(1, TFindPodcasts::Episodes).data().toString(), "");
        QCOMPARE(r->index(1, TFindPodcasts::FeedAddress).data().toString(), "http://stars.example/rss?x=1&y=2");
    }
    // Whatever the outcome, nothing but the window's own line told it.
    QVERIFY(m_dialogs.boxes().isEmpty());
}

void TestFindPodcasts::emptyWordsSendNothing()
{
    TestServer directory;
    directory.route("/search", Response::ok(threeResults()));
    TFindPodcasts *find = openWindow(directory);
    QVERIFY(find);
    find->Edit1->setText("  \t ");
    find->Button1->click();
    QVERIFY(!find->searching());
    QCOMPARE(find->statusText(), "Please enter what to search for.");
    QCOMPARE(directory.requestCount(), 0);
}

void TestFindPodcasts::slowSearchOvertaken()
{
    TestServer directory;
    directory.route("/search", [](const RecordedRequest &request) {
        if (request.target.endsWith("term=slow"))
            return Response::noAnswer();
        return Response::ok(threeResults(), "application/json");
    });
    TFindPodcasts *find = openWindow(directory);
    QVERIFY(find);
    QTest::keyClicks(find->Edit1, "slow");
    QTest::keyClick(find->Edit1, Qt::Key_Return);
    QTRY_COMPARE(directory.requestCount(), 1);
    QVERIFY(find->searching());
    // The window takes typing while the search waits.
    find->Edit1->selectAll();
    QTest::keyClicks(find->Edit1, "fast");
    QCOMPARE(find->Edit1->text(), "fast");
    find->Button1->click();
    QTRY_VERIFY(!find->searching());
    QCOMPARE(find->statusText(), "2 podcasts found.");
    QCOMPARE(find->results()->rowCount(), 2);
    QCOMPARE(directory.lastRequest("/search").target.right(9), QByteArray("term=fast"));
    // The overtaken search ends after the new one has shown its results, and
    // leaves them alone.
    QVERIFY(find->overtakenSearches() <= 1);
    QTRY_COMPARE(find->overtakenSearches(), 0);
    QCOMPARE(find->statusText(), "2 podcasts found.");
    QCOMPARE(find->results()->rowCount(), 2);
}

void TestFindPodcasts::addChosenOnce()
{
    TestServer directory;
    directory.route("/search", Response::ok(threeResults(), "application/json"));
    TFindPodcasts *find = openWindow(directory, {"http://stars.example/rss?x=1&y=2", "http://old.example/feed"});
    QVERIFY(find);
    QVERIFY(!find->Button2->isEnabled());
    find->Edit1->setText("stars");
    find->Button1->click();
    QTRY_VERIFY(!find->searching());
    QCOMPARE(find->results()->rowCount(), 2);
    for (int row : {0, 1})
        find->ListView1->selectionModel()->select(find->results()->index(row, 0),
                                                  QItemSelectionModel::Select | QItemSelectionModel::Rows);
    QVERIFY(find->Button2->isEnabled());
    find->Button2->click();
    const QStringList after{"http://stars.example/rss?x=1&y=2", "http://old.example/feed", "https://night.example/feed.xml"};
    QCOMPARE(find->statusText(), "1 feed added.");
    QCOMPARE(m_window->feedUrls(), after);
    QCOMPARE(readFeedListFile(dataFile("list.txt")), after);
    find->Button2->click();
    QCOMPARE(find->statusText(), "0 feeds added.");
    QCOMPARE(m_window->feedUrls(), after);
}

void TestFindPodcasts::addressSettingWrittenWhenChanged()
{
    QFile::remove(dataFile("settings.ini"));
    m_window = makeTestWindow(m_dialogs, m_dir->path(), {});
    m_window->FindPodcasts1->trigger();
    TFindPodcasts *find = m_window->findPodcasts();
    QVERIFY(find);
    QCOMPARE(find->Edit2->text(), QString::fromLatin1(kDefaultPodcastSearch));
    QVERIFY(!readFileBytes(dataFile("settings.ini")).contains("PodcastSearch"));
    // Closing hides the window; the command shows the same one again.
    find->Button3->click();
    QVERIFY(!find->isVisible());
    m_window->FindPodcasts1->trigger();
    QCOMPARE(m_window->findPodcasts(), find);
    QVERIFY(find->isVisible());

    find->Edit2->setFocus();
    find->Edit2->selectAll();
    QTest::keyClicks(find->Edit2, "http://127.0.0.1:1/s?term=");
    QVERIFY(readFileBytes(dataFile("settings.ini")).contains("PodcastSearch=http://127.0.0.1:1/s?term=\r\n"));
}

QTEST_MAIN(TestFindPodcasts)
#include "tst_findpodcasts.moc"
