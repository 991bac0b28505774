// The main window's feed retrieval, episode list commands and source viewer,
// against feeds served by a local server.
#include "app/main.h"
#include "feeds/displayrss.h"
#include "feeds/episodemodel.h"
#include "feeds/feedlistmodel.h"
#include "feeds/finddialog.h"
#include "scripteddialogs.h"
#include "testwindow.h"
#include "testhelpers.h"
#include "testproxy.h"
#include "testserver.h"

#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;

namespace {

QByteArray item(const QByteArray &title, const QByteArray &url, const QByteArray &date = "Tue, 02 Jan 2024 10:00:00 GMT")
{
    QByteArray out = "<item><title>" + title + "</title><pubDate>" + date + "</pubDate>";
    if (!url.isEmpty())
        out += "<enclosure url=\"" + url + "\" type=\"audio/mpeg\" length=\"1\"/>";
    return out + "</item>\n";
}

QByteArray feed(const QByteArray &items)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Show</title>\n" + items
           + "</channel></rss>\n";
}

} // namespace

class TestEpisodes : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void retrieval();
    void retrievalWarnings_data();
    void retrievalWarnings();
    void retrievalFailure_data();
    void retrievalFailure();
    void addingAFeedRetrievesIt();
    void blanksAroundUrl_data();
    void blanksAroundUrl();
    void retrievalThroughProxy();
    void nothingSelectedDoesNothing();

    void findSequence();
    void findCases_data();
    void findCases();
    void findDialogPlacement();
    void copyCommands_data();
    void copyCommands();
    void selectAndDeselectAll();

    void viewSource();
    void viewSourceFailure();

private:
    std::unique_ptr<TAppForm> makeWindow(const QStringList &feeds = {});
    void select(QTableView *view, const QList<int> &rows);
    void clickFeed(TAppForm &w, int row);
    void setEpisodes(TAppForm &w, const EpisodeRows &rows) { w.episodeModel()->setRows(rows); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    TestServer m_http{TestServer::Http};
};

void TestEpisodes::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_http.clearRequests();
}

void TestEpisodes::cleanup()
{
    m_dialogs.verifyDone();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
}

std::unique_ptr<TAppForm> TestEpisodes::makeWindow(const QStringList &feeds)
{
    return makeTestWindow(m_dialogs, m_dir->path(), feeds);
}

void TestEpisodes::select(QTableView *view, const QList<int> &rows)
{
    view->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestEpisodes::clickFeed(TAppForm &w, int row)
{
    select(w.ListBox1, {row});
    w.RetrieveEpisodes1->trigger();
}

void TestEpisodes::retrieval()
{
    // Sent slowly, so that the fetch spans many turns of its event loop.
    m_http.route("/feed", Response::ok(feed(item("First", "http://m.example/1.mp3")
                                            + item("No media", QByteArray())
                                            + item("<![CDATA[Third & <last>]]>", "http://m.example/3.mp3",
                                                   "Wed, 03 Jan 2024 11:00:00 +0100")),
                                       "text/xml")
                              .slow(64, 5));
    auto w = makeWindow({m_http.urlString("/feed")});
    w->resize(800, 500);
    w->episodeModel()->setRows({EpisodeRow{"old", "u", "d", "Downloaded"}});

    QString statusDuringFetch;
    int episodesDuringFetch = -1;
    Qt::CursorShape cursorDuringFetch = Qt::ArrowCursor;
    // The first timer fires while the status text is being painted, the
    // second one inside the fetch.
    QTimer::singleShot(0, this, [&] {
        QTimer::singleShot(0, this, [&] {
            statusDuringFetch = w->statusText();
            episodesDuringFetch = w->episodeModel()->rowCount();
            if (QApplication::overrideCursor())
                cursorDuringFetch = QApplication::overrideCursor()->shape();
        });
    });
    clickFeed(*w, 0);

    QCOMPARE(statusDuringFetch, "Loading " + m_http.urlString("/feed") + "...");
    QCOMPARE(episodesDuringFetch, 0); // emptied before the fetch
    QCOMPARE(cursorDuringFetch, Qt::BusyCursor);
    QCOMPARE(w->statusText(), QString());
    const EpisodeRows rows = w->episodeModel()->rows();
    QCOMPARE(rows.size(), 2);
    QCOMPARE(rows[0].title, "First");
    QCOMPARE(rows[0].url, "http://m.example/1.mp3");
    QCOMPARE(rows[0].date, "Tue, 02 Jan 2024 10:00:00 GMT");
    QCOMPARE(rows[1].title, "Third & <last>");
    QCOMPARE(rows[1].date, "Wed, 03 Jan 2024 11:00:00 +0100");
    QCOMPARE(rows[1].status, QString());
    const int client = w->width();
    QCOMPARE(w->ListView1->columnWidth(EpisodeModel::Title), client / 4);
    QCOMPARE(w->ListView1->columnWidth(EpisodeModel::Date), client / 4);
    QCOMPARE(w->ListView1->columnWidth(EpisodeModel::Status), client / 5);

    // Every retrieval fetches again.
    clickFeed(*w, 0);
    QCOMPARE(m_http.requestCount(), 2);
}

void TestEpisodes::retrievalWarnings_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("warning");
    QTest::newRow("html page") << QByteArray("<html><body><p>Hello<br></p></body></html>") << "Not a Valid RSS Feed!";
    QTest::newRow("atom") << QByteArray("<feed xmlns=\"http://www.w3.org/2005/Atom\"><entry/></feed>")
                          << "Not a Valid RSS Feed!";
    QTest::newRow("empty") << QByteArray() << "Not a Valid RSS Feed!";
    QTest::newRow("no enclosures") << feed(item("a", QByteArray()) + item("b", QByteArray())) << "No Episode Found!";
    QTest::newRow("no items") << feed(QByteArray()) << "No Episode Found!";
    QByteArray attributes;
    for (int i = 0; i < 100000; ++i)
        attributes += " a" + QByteArray::number(i) + "=\"x\"";
    QTest::newRow("100,000 attributes on one element")
        << feed("<item" + attributes + ">" + item("a", "http://m.example/a.mp3") + "</item>") << "Not a Valid RSS Feed!";
}

void TestEpisodes::retrievalWarnings()
{
    QFETCH(QByteArray, body);
    QFETCH(QString, warning);
    m_http.route("/w", Response::ok(body, "text/html"));
    const QString url = m_http.urlString("/w");
    auto w = makeWindow({url});
    w->ListView1->setColumnWidth(EpisodeModel::Title, 77);
    clickFeed(*w, 0);
    QCOMPARE(m_dialogs.takeBox(), (Box{warning + "\r\r" + url, "Warning", Icon::Warning, {}}));
    QCOMPARE(w->episodeModel()->rowCount(), 0);
    QCOMPARE(w->ListView1->columnWidth(EpisodeModel::Title), 77); // widths stay
    QCOMPARE(w->statusText(), QString());
}

void TestEpisodes::retrievalFailure_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::newRow("404") << "/missing" << "HTTP/1.1 404 Not Found.";
    QTest::newRow("unreachable") << QString() << QString();
}

void TestEpisodes::retrievalFailure()
{
    QFETCH(QString, path);
    QFETCH(QString, message);
    const QString url = path.isEmpty() ? QStringLiteral("http://127.0.0.1:1/feed") : m_http.urlString(path);
    auto w = makeWindow({url});
    w->episodeModel()->setRows({EpisodeRow{"old", "u", "d", {}}});
    clickFeed(*w, 0);
    const Box box = m_dialogs.takeBox();
    QCOMPARE(box.title, "Morvane");
    QCOMPARE(box.icon, Icon::Error);
    if (!message.isEmpty())
        QCOMPARE(box.text, message);
    else
        QVERIFY(!box.text.isEmpty());
    QCOMPARE(w->episodeModel()->rowCount(), 0);
    QCOMPARE(w->statusText(), QString());
}

void TestEpisodes::addingAFeedRetrievesIt()
{
    m_http.route("/new", Response::ok(feed(item("New one", "http://m.example/n.mp3")), "application/rss+xml"));
    m_http.route("/other", Response::ok(feed(item("Other", "http://m.example/o.mp3"))));
    auto w = makeWindow({m_http.urlString("/other")});
    select(w->ListBox1, {0});
    m_dialogs.answerInput(m_http.urlString("/new"));
    w->Button3->click();
    QCOMPARE(w->episodeModel()->rows().size(), 1);
    QCOMPARE(w->episodeModel()->rows()[0].title, "New one");
}

void TestEpisodes::retrievalThroughProxy()
{
    // The feed's host is known only to the proxy, as on a network where
    // outside names do not resolve.
    m_http.route("/feed.xml", Response::ok(feed(item("Proxied", "http://m.example/p.mp3")), "text/xml"));
    TestProxy proxy(m_http.port());
    const QByteArray proxyUrl = proxy.url().toLatin1();
    testhelpers::EnvironmentGuard env{{"http_proxy", proxyUrl.constData()}, {"no_proxy", nullptr},
                                      {"NO_PROXY", nullptr}};
    const QString url = QStringLiteral("http://feeds.podcasts.example/feed.xml");
    auto w = makeWindow({url});
    clickFeed(*w, 0);
    QCOMPARE(w->episodeModel()->rows().size(), 1);
    QCOMPARE(w->episodeModel()->rows()[0].title, "Proxied");
    QCOMPARE(proxy.requestCount(), 1);
    QCOMPARE(proxy.requests()[0].target, url.toLatin1());
    QCOMPARE(m_http.lastRequest("/feed.xml").header("Host"), QByteArray("feeds.podcasts.example"));
}

void TestEpisodes::blanksAroundUrl_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::newRow("blanks") << "  " << " ";
    QTest::newRow("tab and line end") << "\t" << "\r\n";
    QTest::newRow("control characters") << QStringLiteral("\x01 ") << QStringLiteral("\x1F");
}

// A feed typed or pasted with blanks around it keeps them in the list and is
// requested without them; so is its source.
void TestEpisodes::blanksAroundUrl()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    m_http.route("/feed", Response::ok(feed(item("One", "http://m.example/1.mp3")), "application/rss+xml"));
    const QString typed = before + m_http.urlString("/feed") + after;
    auto w = makeWindow();
    m_dialogs.answerInput(typed);
    w->Button3->click();
    QCOMPARE(w->feedUrls(), QStringList{typed});
    QCOMPARE(w->episodeModel()->rows().size(), 1);
    QCOMPARE(w->episodeModel()->rows()[0].title, "One");
    QCOMPARE(m_http.lastRequest().path, QByteArray("/feed"));

    w->DisplayRSS1->trigger();
    QCOMPARE(m_http.requestCount(), 2);
    QCOMPARE(m_http.lastRequest().path, QByteArray("/feed"));
    const QList<TFormDisplayRSS *> viewers = w->findChildren<TFormDisplayRSS *>();
    QCOMPARE(viewers.size(), 1);
    QVERIFY(viewers[0]->memo()->text().contains("<title>One</title>"));
}

void TestEpisodes::nothingSelectedDoesNothing()
{
    auto w = makeWindow({m_http.urlString("/feed")});
    w->RetrieveEpisodes1->trigger();
    w->DisplayRSS1->trigger();
    QCOMPARE(m_http.requestCount(), 0);
}

void TestEpisodes::findSequence()
{
    auto w = makeWindow();
    setEpisodes(*w, {{"Intro", "http://m.example/a.mp3", "", ""},
                     {"Interview", "http://m.example/b.mp3", "", ""},
                     {"Outro", "http://m.example/c.mp3", "", ""}});
    w->FindDialog1->setText("INT");
    auto *findNext = w->FindDialog1->findChild<QPushButton *>("findNextButton");
    QVERIFY(findNext);
    findNext->click();
    QCOMPARE(w->selectedEpisodeRows(), QList<int>{0});
    w->FindNext1->trigger();
    QCOMPARE(w->selectedEpisodeRows(), QList<int>{1});
    w->FindNext1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Text not found!", "Find", Icon::Warning, {}}));
    QVERIFY(w->selectedEpisodeRows().isEmpty());
    w->FindNext1->trigger();
    QCOMPARE(w->selectedEpisodeRows(), QList<int>{0});
}

void TestEpisodes::findCases_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<int>("found"); // -1: "Text not found!"
    QTest::newRow("only in a url") << "needle" << QList<int>{} << 3;
    QTest::newRow("only in a date") << "2031" << QList<int>{} << -1;
    QTest::newRow("starts after first selected") << "ep" << QList<int>{2, 5} << 3;
    QTest::newRow("accented capital not folded") << u"é"_qs << QList<int>{} << -1;
    QTest::newRow("never typed") << "" << QList<int>{} << -1;
}

void TestEpisodes::findCases()
{
    QFETCH(QString, text);
    QFETCH(QList<int>, selected);
    QFETCH(int, found);
    auto w = makeWindow();
    EpisodeRows rows;
    for (int i = 0; i < 6; ++i)
        rows.append({QStringLiteral("Ep %1 %2").arg(i).arg(i == 1 ? u"CAFÉ"_qs : QString()),
                     QStringLiteral("http://m.example/%1%2.mp3").arg(i == 3 ? "needle" : "").arg(i),
                     "Mon, 01 Jan 2031", ""});
    setEpisodes(*w, rows);
    select(w->ListView1, selected);
    w->FindDialog1->setText(text);
    w->FindNext1->trigger();
    if (found < 0) {
        QCOMPARE(m_dialogs.takeBox(), (Box{"Text not found!", "Find", Icon::Warning, {}}));
        QVERIFY(w->selectedEpisodeRows().isEmpty());
    } else {
        QCOMPARE(w->selectedEpisodeRows(), QList<int>{found});
        QCOMPARE(w->ListView1->currentIndex().row(), found);
    }
}

void TestEpisodes::findDialogPlacement()
{
    auto w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    w->Find1->trigger();
    QVERIFY(w->FindDialog1->isVisible());
    QCOMPARE(w->FindDialog1->frameGeometry().topLeft(), w->frameGeometry().topLeft() + QPoint(100, 150));
    QVERIFY(!w->FindDialog1->isModal());
}

void TestEpisodes::copyCommands_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<QString>("clipboard");
    QTest::newRow("titles of three rows") << "CopyTitle1" << QList<int>{3, 0, 1} << "lead\r\nmid\r\ntrail";
    QTest::newRow("urls, inner blanks kept") << "MenuItem1" << QList<int>{1, 2} << "u1 \r\n u2";
    QTest::newRow("an empty date") << "CopyDate1" << QList<int>{2} << "";
    QTest::newRow("dates") << "CopyDate1" << QList<int>{0, 1} << "d0\r\nd1";
    QTest::newRow("no selection") << "MenuItem1" << QList<int>{} << "";
}

void TestEpisodes::copyCommands()
{
    QFETCH(QString, command);
    QFETCH(QList<int>, selected);
    QFETCH(QString, clipboard);
    auto w = makeWindow();
    setEpisodes(*w, {{"  lead", "u0", "d0", ""}, {"mid", "u1 ", "d1", ""}, {"x", " u2\t", "", ""}, {"trail  ", "u3", "d3", ""}});
    select(w->ListView1, selected);
    w->findChild<QAction *>(command)->trigger();
    QCOMPARE(m_dialogs.takeClipboard(), clipboard.isEmpty() ? QString() : clipboard);
}

void TestEpisodes::selectAndDeselectAll()
{
    auto w = makeWindow({"http://a", "http://b"});
    setEpisodes(*w, {{"a", "", "", ""}, {"b", "", "", ""}, {"c", "", "", ""}});
    select(w->ListBox1, {1});
    w->SelectAll1->trigger();
    QCOMPARE(w->selectedEpisodeRows(), (QList<int>{0, 1, 2}));
    w->DeselectAll1->trigger();
    QVERIFY(w->selectedEpisodeRows().isEmpty());
    QCOMPARE(w->selectedFeedRows(), QList<int>{1}); // the feed list is not touched
}

void TestEpisodes::viewSource()
{
    m_http.route("/one", Response::ok("<rss>\n<channel>one</channel>\n</rss>", "text/xml"));
    m_http.route("/two", Response::ok("<rss>two</rss>", "text/xml"));
    auto w = makeWindow({m_http.urlString("/one"), m_http.urlString("/two")});
    select(w->ListBox1, {1, 0});
    w->DisplayRSS1->trigger();
    w->DisplayRSS1->trigger();
    QList<TFormDisplayRSS *> viewers = w->findChildren<TFormDisplayRSS *>();
    QCOMPARE(viewers.size(), 2);
    for (TFormDisplayRSS *viewer : viewers) {
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->memo()->lines(), 3);
        QVERIFY(viewer->memo()->text().contains("one"));
    }
    QVERIFY(viewers[0]->memo() != viewers[1]->memo());
    QCOMPARE(m_http.requestCount(), 2);
    QCOMPARE(m_http.lastRequest().path, QByteArray("/one"));

    // Closing a viewer frees it; the other stays.
    QPointer<TFormDisplayRSS> first = viewers[0];
    first->close();
    QTRY_VERIFY(first.isNull());
    QCOMPARE(w->findChildren<TFormDisplayRSS *>().size(), 1);
}

void TestEpisodes::viewSourceFailure()
{
    auto w = makeWindow({m_http.urlString("/nothing-here")});
    select(w->ListBox1, {0});
    w->DisplayRSS1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"HTTP/1.1 404 Not Found.", "Morvane", Icon::Error, {}}));
    QVERIFY(w->findChildren<TFormDisplayRSS *>().isEmpty());
}

QTEST_MAIN(TestEpisodes)
#include "tst_episodes.moc"
