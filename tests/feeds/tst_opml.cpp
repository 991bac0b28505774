// OPML subscription lists: reading the shapes other podcast programs write,
// refusing what is not one, writing our own, and the Import and Export
// commands of the main window.
#include "app/main.h"
#include "feeds/episodemodel.h"
#include "feeds/feedlistfile.h"
#include "feeds/opml.h"
#include "scripteddialogs.h"
#include "testhelpers.h"
#include "testwindow.h"

#include <QAction>
#include <QTemporaryDir>
#include <QTest>

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;
using testhelpers::errorOf;
using testhelpers::readFileBytes;
using testhelpers::writeFileBytes;

namespace {

// Subscription lists as other programs write them: gPodder (entities), Kasts
// (OPML 1.0 with a byte-order mark, no type), AntennaPod and the directory
// services (folders of feeds, a folder with nothing but a text, links that are
// not feeds, a feed twice).
QByteArray fixture(const char *name)
{
    return readFileBytes(QStringLiteral(MORVANE_TEST_DATA_DIR "/") + QLatin1String(name));
}

} // namespace

class TestOpml : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void parse_data();
    void parse();
    void refused_data();
    void refused();
    void tooLargeFileRefused();
    void writtenDocument();
    void roundTrip();

    void importIntoList();
    void importRefusedChangesNothing();
    void importCancelled();
    void exportThenImport();

private:
    QString path(const char *name) const { return m_dir->filePath(QLatin1String(name)); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestOpml::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void TestOpml::cleanup()
{
    m_dialogs.verifyDone();
}

void TestOpml::parse_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("feeds");
    QTest::newRow("gPodder, entities")
        << fixture("gpodder.opml") << QStringList{"https://tech.example/feed?a=1&b=2", "https://cafe.example/rss"};
    QTest::newRow("Kasts, BOM, no type") << fixture("kasts.opml")
                                         << QStringList{"http://one.example/feed.xml", "http://two.example/feed.xml"};
    QTest::newRow("nested, links skipped, twice once")
        << fixture("antennapod.opml") << QStringList{"http://daily.example/rss", "http://weekly.example/rss"};
    QTest::newRow("no feeds") << QByteArray("<opml version=\"2.0\"><head/><body/></opml>") << QStringList();
    QTest::newRow("Latin-1 declared")
        << QByteArray("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><opml><body>"
                      "<outline xmlUrl=\"http://m\xFCsik.example/\"/></body></opml>")
        << QStringList{QString::fromUtf8("http://müsik.example/")};
}

void TestOpml::parse()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, feeds);
    QCOMPARE(parseOpmlFeeds(bytes), feeds);
}

void TestOpml::refused_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("message");
    const QString notOpml = QStringLiteral("Not an OPML file!");
    QTest::newRow("document type")
        << QByteArray("<?xml version=\"1.0\"?>\n<!DOCTYPE opml [<!ENTITY a \"http://x.example/\">]>\n"
                      "<opml><body><outline xmlUrl=\"&a;\"/></body></opml>")
        << notOpml;
    QTest::newRow("HTML page") << QByteArray("<!DOCTYPE html>\n<html><head><title>Feeds</title></head></html>")
                               << notOpml;
    QTest::newRow("XHTML without document type")
        << QByteArray("<html><body><p>http://a.example/feed</p></body></html>") << notOpml;
    QTest::newRow("plain list of addresses") << QByteArray("http://a.example/feed\nhttp://b.example/feed\n")
                                             << notOpml;
    QTest::newRow("empty file") << QByteArray() << notOpml;
    QTest::newRow("not well-formed")
        << QByteArray("<opml version=\"2.0\">\n<body>\n<outline xmlUrl=\"http://a.example/\">\n</body></opml>")
        << QStringLiteral("The OPML file is damaged at line 4: Opening and ending tag mismatch.");
    QTest::newRow("cut short") << QByteArray("<opml version=\"2.0\"><body><outline xmlUrl=\"http://a.exa")
                               << QStringLiteral("The OPML file is damaged at line 1: Premature end of document.");
    QTest::newRow("unknown entity")
        << QByteArray("<opml><body><outline text=\"A&nbsp;B\" xmlUrl=\"http://a.example/\"/></body></opml>")
        << QStringLiteral("The OPML file is damaged at line 1: Entity 'nbsp' not declared.");
}

void TestOpml::refused()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, message);
    QCOMPARE(errorOf([&] { parseOpmlFeeds(bytes); }), message);
}

void TestOpml::tooLargeFileRefused()
{
    // Well-formed OPML, padded with a comment past the limit.
    QByteArray bytes = "<opml><body><outline xmlUrl=\"http://a.example/\"/></body></opml><!--";
    bytes += QByteArray(kMaxOpmlBytes, 'x') + "-->";
    writeFileBytes(path("big.opml"), bytes);
    QCOMPARE(errorOf([&] { readOpmlFile(path("big.opml")); }), "The file is too large for an OPML list!");
    writeFileBytes(path("small.opml"), bytes.left(bytes.indexOf("<!--")) + "<!-- -->");
    QCOMPARE(readOpmlFile(path("small.opml")), QStringList{"http://a.example/"});
}

void TestOpml::writtenDocument()
{
    const QDateTime created(QDate(2026, 12, 11), QTime(17, 3, 23), Qt::UTC);
    const QByteArray bytes = opmlFileBytes({"http://a.example/feed?x=1&y=2", "http://b.example/\"q\""},
                                           "Morvane feeds", created);
    QCOMPARE(bytes, QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                               "<opml version=\"2.0\">\n"
                               "  <head>\n"
                               "    <title>Morvane feeds</title>\n"
                               "    <dateCreated>Fri, 11 Dec 2026 17:03:23 GMT</dateCreated>\n"
                               "  </head>\n"
                               "  <body>\n"
                               "    <outline type=\"rss\" text=\"http://a.example/feed?x=1&amp;y=2\" "
                               "xmlUrl=\"http://a.example/feed?x=1&amp;y=2\"/>\n"
                               "    <outline type=\"rss\" text=\"http://b.example/&quot;q&quot;\" "
                               "xmlUrl=\"http://b.example/&quot;q&quot;\"/>\n"
                               "  </body>\n"
                               "</opml>\n"));}

void TestOpml::roundTrip()
{
    const QStringList feeds{"http://a.example/feed", "https://ü.example/päth?a=1&b=<2>", " http://padded.example/\t",
                            "http://'quoted'.example/"};
    writeOpmlFile(path("out.opml"), feeds, "Morvane feeds", QDateTime::currentDateTimeUtc());
    QCOMPARE(readOpmlFile(path("out.opml")), feeds);
    QCOMPARE(parseOpmlFeeds(opmlFileBytes({}, "Morvane feeds", QDateTime::currentDateTimeUtc())), QStringList());
}

void TestOpml::importIntoList()
{
    const QStringList before{"http://one.example/feed.xml", "http://keep.example/feed"};
    auto w = makeTestWindow(m_dialogs, m_dir->path(), before);
    w->episodeModel()->setRows({EpisodeRow{"Episode", "http://keep.example/1.mp3", "Mon", ""}});
    writeFileBytes(path("kasts.opml"), fixture("kasts.opml"));
    m_dialogs.answerFile(path("kasts.opml"));
    w->ImportOPML1->trigger();
    QCOMPARE(m_dialogs.lastFileMode, UserDialogs::FileMode::Open);
    QCOMPARE(m_dialogs.takeBox(), (Box{"1 feed added.", "OPML", Icon::Information, {}}));
    const QStringList after = before + QStringList{"http://two.example/feed.xml"};
    QCOMPARE(w->feedUrls(), after);
    QCOMPARE(readFeedListFile(path("list.txt")), after);
    QCOMPARE(w->episodeModel()->rowCount(), 1);

    // Folders and a feed twice: each new feed once, in file order.
    writeFileBytes(path("nested.opml"), fixture("antennapod.opml"));
    m_dialogs.answerFile(path("nested.opml"));
    w->ImportOPML1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"2 feeds added.", "OPML", Icon::Information, {}}));
    QCOMPARE(w->feedUrls(), (after + QStringList{"http://daily.example/rss", "http://weekly.example/rss"}));

    // Again: nothing new, the file still written.
    QFile::remove(path("list.txt"));
    m_dialogs.answerFile(path("nested.opml"));
    w->ImportOPML1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"0 feeds added.", "OPML", Icon::Information, {}}));
    QCOMPARE(readFeedListFile(path("list.txt")), w->feedUrls());
}

void TestOpml::importRefusedChangesNothing()
{
    auto w = makeTestWindow(m_dialogs, m_dir->path(), {"http://a.example/feed"});
    const QByteArray listBefore = readFileBytes(path("list.txt"));
    writeFileBytes(path("page.html"), "<!DOCTYPE html>\n<html><body>http://b.example/feed</body></html>");
    m_dialogs.answerFile(path("page.html"));
    w->ImportOPML1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Not an OPML file!", "OPML", Icon::Warning, {}}));
    m_dialogs.answerFile(path("missing.opml"));
    w->ImportOPML1->trigger();
    const Box box = m_dialogs.takeBox();
    QVERIFY2(box.text.startsWith("Cannot open file"), qPrintable(box.text));
    QCOMPARE(box.title, "OPML");
    QCOMPARE(w->feedUrls(), QStringList{"http://a.example/feed"});
    QCOMPARE(readFileBytes(path("list.txt")), listBefore);
}

void TestOpml::importCancelled()
{
    auto w = makeTestWindow(m_dialogs, m_dir->path(), {"http://a.example/feed"});
    const QByteArray listBefore = readFileBytes(path("list.txt"));
    m_dialogs.answerFile(std::nullopt);
    w->ImportOPML1->trigger();
    m_dialogs.answerFile(std::nullopt);
    w->ExportOPML1->trigger();
    QCOMPARE(readFileBytes(path("list.txt")), listBefore);
    QCOMPARE(QDir(m_dir->path()).entryList({"*.opml"}), QStringList());
}

void TestOpml::exportThenImport()
{
    const QStringList feeds{"http://z.example/feed", "http://a.example/feed?x=1&y=2", "https://ç.example/rss"};
    {
        auto w = makeTestWindow(m_dialogs, m_dir->path(), feeds);
        writeFileBytes(path("out.opml"), "an older export, replaced");
        m_dialogs.answerFile(path("out.opml"));
        w->ExportOPML1->trigger();
        QCOMPARE(m_dialogs.lastFileMode, UserDialogs::FileMode::Save);
        QCOMPARE(m_dialogs.lastFileSuffix, "opml");
    }
    QTemporaryDir other;
    auto w = makeTestWindow(m_dialogs, other.path(), {});
    QVERIFY(w->feedUrls().isEmpty());
    m_dialogs.answerFile(path("out.opml"));
    w->ImportOPML1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"3 feeds added.", "OPML", Icon::Information, {}}));
    QCOMPARE(w->feedUrls(), feeds);
}

QTEST_MAIN(TestOpml)
#include "tst_opml.moc"
