// "Fetch Podcast List": the maker's directory merged into the feed list, over
// https or, when that fails, http, with the local test servers standing in for
// the maker's server; and the first start without list.txt fetching it alone.
#include "app/main.h"
#include "feeds/episodemodel.h"
#include "feeds/feedlistfile.h"
#include "feeds/podcastdirectory.h"
#include "net/postform.h"
#include "net/servicerequest.h"
#include "scripteddialogs.h"
#include "testhelpers.h"
#include "testproxy.h"
#include "testserver.h"

#include <QAction>
#include <QMenu>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;
using testhelpers::EnvironmentGuard;
using testhelpers::errorOf;
using testhelpers::readFileBytes;
using testhelpers::writeFileBytes;

namespace {

const QString kPath = QStringLiteral("/php/podcasts.php");
const QString kDeadHost = QStringLiteral("127.0.0.1:9");

QString hostOf(const TestServer &server)
{
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

// A transport message without the milliseconds it reports ("after 0 ms"),
// which differ from one attempt to the next.
QString withoutTimes(QString message)
{
    static const QRegularExpression times(QStringLiteral("\\d+ ms"));
    return message.replace(times, QStringLiteral("N ms"));
}

} // namespace

class TestPodcastDirectory : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void merge_data();
    void merge();
    void httpsAnswers_data();
    void httpsAnswers();
    void httpAfterHttpsFails();
    void bothFail();
    void errorReasonShownAsWritten();
    void trickleEndsAtTimeOut();
    void firstStartFetchesAlone();
    void placeholderHostSendsNothing_data();
    void placeholderHostSendsNothing();

private:
    std::unique_ptr<TAppForm> makeWindow(const QString &host, const QString &serviceSettings = QString());
    QString listFile() const { return m_dir->filePath("list.txt"); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<EnvironmentGuard> m_host;
};

void TestPodcastDirectory::initTestCase()
{
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestPodcastDirectory::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void TestPodcastDirectory::cleanup()
{
    m_host.reset();
    m_dialogs.verifyDone();
}

std::unique_ptr<TAppForm> TestPodcastDirectory::makeWindow(const QString &host, const QString &serviceSettings)
{
    const QByteArray hostBytes = host.toLatin1();
    m_host = std::make_unique<EnvironmentGuard>(
        std::initializer_list<std::pair<const char *, const char *>>{{"MORVANE_MAKER_HOST", hostBytes.constData()}});
    AppEnvironment env;
    env.dialogs = &m_dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = m_dir->path();
    env.configFolder = m_dir->path();
    env.desktopFolder = m_dir->path();
    env.serviceSettingsFile = serviceSettings;
    return std::make_unique<TAppForm>(env);
}

void TestPodcastDirectory::merge_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QStringList>("added");

    const QStringList two{"http://a.example/feed", "http://b.example/feed"};
    QTest::newRow("already present lines add nothing")
        << two << "http://b.example/feed\r\nhttp://a.example/feed\r\n" << QStringList();
    QTest::newRow("new lines appended in reply order")
        << two << "http://z.example/feed\nhttp://a.example/feed\nhttp://c.example/feed"
        << QStringList{"http://z.example/feed", "http://c.example/feed"};
    QTest::newRow("case or trailing space make a new entry, kept as received")
        << two << "HTTP://A.EXAMPLE/FEED\rhttp://b.example/feed \r"
        << QStringList{"HTTP://A.EXAMPLE/FEED", "http://b.example/feed "};
    QTest::newRow("blank lines skipped") << two << "\r\n   \r\n\t\r\n" << QStringList();
    QTest::newRow("padded line kept with its blanks")
        << QStringList() << "  http://p.example/feed\t\n" << QStringList{"  http://p.example/feed\t"};
    QTest::newRow("a new line twice is added twice")
        << two << "http://d.example/feed\nhttp://d.example/feed\n"
        << QStringList{"http://d.example/feed", "http://d.example/feed"};
    QTest::newRow("empty reply") << two << "" << QStringList();
}

void TestPodcastDirectory::merge()
{
    QFETCH(QStringList, before);
    QFETCH(QString, reply);
    QFETCH(QStringList, added);
    QCOMPARE(newDirectoryEntries(before, replyLines(reply)), added);
}

void TestPodcastDirectory::httpsAnswers_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("after");
    const QStringList two{"http://a.example/feed", "http://b.example/feed"};
    QTest::newRow("directory") << 200 << QByteArray("http://b.example/feed\r\nhttp://c.example/feed\r\n")
                               << (two + QStringList{"http://c.example/feed"});
    QTest::newRow("only known feeds") << 200 << QByteArray("http://a.example/feed\n") << two;
    QTest::newRow("empty reply") << 200 << QByteArray() << two;
    QTest::newRow("error page: its lines become feeds")
        << 500 << QByteArray("<html>\r\n\r\n<b>Internal error</b>\r\n")
        << (two + QStringList{"<html>", "<b>Internal error</b>"});
}

void TestPodcastDirectory::httpsAnswers()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, after);
    TestServer maker(TestServer::Https);
    maker.route(kPath, status == 200 ? Response::ok(body) : Response::status(status, "Internal Server Error", body));
    writeFeedListFile(listFile(), {"http://a.example/feed", "http://b.example/feed"});
    auto w = makeWindow(hostOf(maker));
    w->episodeModel()->setRows({EpisodeRow{"Episode", "http://a.example/1.mp3", "Mon", ""}});

    QVERIFY(w->FetchPodcastList1->isEnabled());
    w->FetchPodcastList1->trigger();

    QCOMPARE(w->feedUrls(), after);
    QCOMPARE(readFeedListFile(listFile()), after);
    QCOMPARE(w->episodeModel()->rowCount(), 0);
    QCOMPARE(maker.requestCount(), 1);
    const RecordedRequest got = maker.lastRequest(kPath);
    QCOMPARE(got.method, QByteArray("POST"));
    QVERIFY(got.encrypted);
    QCOMPARE(got.body, QByteArray("cmd=podcast"));
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestPodcastDirectory::httpAfterHttpsFails()
{
    // A plain server: the https attempt fails its handshake, the http one answers.
    TestServer maker(TestServer::Http);
    maker.route(kPath, Response::ok("http://n.example/feed\n"));
    writeFeedListFile(listFile(), {"http://a.example/feed"});
    auto w = makeWindow(hostOf(maker));
    w->FetchPodcastList1->trigger();
    QCOMPARE(w->feedUrls(), (QStringList{"http://a.example/feed", "http://n.example/feed"}));
    QCOMPARE(readFeedListFile(listFile()), w->feedUrls());
    const RecordedRequest got = maker.lastRequest(kPath);
    QCOMPARE(got.method, QByteArray("POST"));
    QVERIFY(!got.encrypted);
    QCOMPARE(got.body, QByteArray("cmd=podcast"));
}

void TestPodcastDirectory::bothFail()
{
    writeFileBytes(listFile(), "http://a.example/feed\n"); // rewritten by the command
    auto w = makeWindow(kDeadHost);
    w->episodeModel()->setRows({EpisodeRow{"Episode", "http://a.example/1.mp3", "Mon", ""}});
    bool pointerBackForBox = false;
    m_dialogs.onNextMessage([&](const Box &) { pointerBackForBox = !QGuiApplication::overrideCursor(); });
    w->FetchPodcastList1->trigger();

    // The box carries the http attempt's message.
    const QString httpError = errorOf(
        [] { PostForm(QStringLiteral("http://127.0.0.1:9/php/podcasts.php"), {QStringLiteral("cmd=podcast")}, 10000); });
    QVERIFY(httpError != testhelpers::kNoError);
    Box box = m_dialogs.takeBox();
    QCOMPARE(withoutTimes(box.text), withoutTimes(httpError));
    box.text.clear();
    QCOMPARE(box, (Box{QString(), "ERROR", Icon::Error, {}}));
    QVERIFY(pointerBackForBox);
    QCOMPARE(w->feedUrls(), QStringList{"http://a.example/feed"});
    QCOMPARE(w->episodeModel()->rowCount(), 0);
    QCOMPARE(readFileBytes(listFile()), feedListFileBytes({"http://a.example/feed"}));
    QVERIFY(!QGuiApplication::overrideCursor());
}

// A server whose reason phrase holds markup and addresses: the "ERROR" box
// gets the status line as the server wrote it, and nothing is opened.
void TestPodcastDirectory::errorReasonShownAsWritten()
{
    TestServer maker(TestServer::Http);
    const QByteArray reason = "<a href=\"smb://host/share\">x</a> <b>down</b>";
    maker.route(kPath, Response::status(503, reason));
    writeFeedListFile(listFile(), {"http://a.example/feed"});
    auto w = makeWindow(hostOf(maker));
    w->FetchPodcastList1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"HTTP/1.1 503 " + QString::fromLatin1(reason), "ERROR", Icon::Error, {}}));
    QVERIFY(m_dialogs.openedUrls().isEmpty());
    QCOMPARE(w->feedUrls(), QStringList{"http://a.example/feed"});
}

// Each attempt ends at its time-out as a whole, however busily the server
// trickles its reply.
void TestPodcastDirectory::trickleEndsAtTimeOut()
{
    TestServer maker(TestServer::Http);
    maker.route(kPath, Response::ok(QByteArray(100, 'x')).slow(1, 500));
    const DirectoryReply reply = fetchPodcastDirectory(hostOf(maker), 1500);
    QVERIFY(reply.failed);
    QVERIFY2(reply.error.startsWith(QLatin1String("Connection timed out after ")), qPrintable(reply.error));
}

void TestPodcastDirectory::firstStartFetchesAlone()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("http://first.example/feed\r\nhttp://second.example/feed\r\n"));
    QVERIFY(!QFile::exists(listFile()));
    auto w = makeWindow(hostOf(maker));
    QVERIFY(w->Timer1->isActive());
    QTRY_COMPARE(w->feedUrls(), (QStringList{"http://first.example/feed", "http://second.example/feed"}));
    QVERIFY(!w->Timer1->isActive());
    QCOMPARE(readFeedListFile(listFile()), w->feedUrls());
    QCOMPARE(maker.requestCount(), 1);

    // The next start finds list.txt and fetches nothing by itself.
    auto next = makeWindow(hostOf(maker));
    QVERIFY(!next->Timer1->isActive());
    QCOMPARE(next->feedUrls(), w->feedUrls());
}

void TestPodcastDirectory::placeholderHostSendsNothing_data()
{
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("placeholder");
    QTest::newRow("the default") << "www.zantero.example" << true;
    QTest::newRow("capitals, port, final dot") << "Maker.EXAMPLE.:8080" << true;
    QTest::newRow("a real name") << "www.zantero.test" << false;
    QTest::newRow("example as a word") << "example.org" << false;
}

// Whatever host the maker's server has, a proxy sends every request to the
// local server here: a request the program made would be seen.
void TestPodcastDirectory::placeholderHostSendsNothing()
{
    QFETCH(QString, host);
    QFETCH(bool, placeholder);
    TestServer maker(TestServer::Http);
    maker.route(kPath, Response::ok("http://first.example/feed\r\n"));
    TestProxy proxy(maker.port());
    const QByteArray proxyUrl = proxy.url().toLatin1();
    // With a real host the https attempt goes to a dead proxy, failing at once
    // rather than after its time-out against the plain server; the http one
    // then reaches the server.
    const QByteArray httpsProxyUrl = placeholder ? proxyUrl : QByteArray("http://127.0.0.1:9");
    EnvironmentGuard proxies{{"http_proxy", proxyUrl.constData()},
                             {"https_proxy", httpsProxyUrl.constData()},
                             {"HTTPS_PROXY", nullptr},
                             {"all_proxy", nullptr},
                             {"ALL_PROXY", nullptr},
                             {"no_proxy", nullptr},
                             {"NO_PROXY", nullptr}};
    QVERIFY(!QFile::exists(listFile()));
    auto w = makeWindow(host, m_dir->filePath("services.ini"));
    w->show();
    if (!placeholder) {
        // A real host: the first start fetches as ever.
        QVERIFY(w->FetchPodcastList1->isEnabled());
        QVERIFY(w->SendFeedback1->isEnabled());
        QTRY_COMPARE(w->feedUrls(), QStringList{"http://first.example/feed"});
        QCOMPARE(maker.lastRequest(kPath).body, QByteArray("cmd=podcast"));
        QVERIFY(w->updateCheck());
        return;
    }
    QVERIFY(!w->Timer1->isActive());
    QVERIFY(!w->TimerChecker->isActive());
    QVERIFY(!w->updateCheck());
    for (QAction *a : {w->FetchPodcastList1, w->SendFeedback1, w->UpdateNotifications1}) {
        QVERIFY2(!a->isEnabled(), qPrintable(a->objectName()));
        QCOMPARE(a->toolTip(), "This build has no maker server.");
    }
    QVERIFY(w->File1->toolTipsVisible());
    QVERIFY(w->Help1->toolTipsVisible());
    // The handlers refuse too, when reached some other way.
    w->FetchPodcastList1Click();
    w->SendFeedback1Click();
    QCoreApplication::processEvents();
    QCOMPARE(proxy.requestCount(), 0);
    QCOMPARE(maker.requestCount(), 0);
    QVERIFY(w->feedUrls().isEmpty());
    // Start-up writes no list.txt, so the next start is a first start too.
    QVERIFY(!QFile::exists(listFile()));
}

QTEST_MAIN(TestPodcastDirectory)
#include "tst_podcastdirectory.moc"
