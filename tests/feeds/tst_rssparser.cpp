#include "feeds/rssparser.h"

#include <QElapsedTimer>
#include <QTest>

namespace {

const QString FeedUrl = QStringLiteral("http://feed.example/podcast.rss");
const QString NotValid = QStringLiteral("Not a Valid RSS Feed!\r\r") + FeedUrl;
const QString NoEpisode = QStringLiteral("No Episode Found!\r\r") + FeedUrl;

// A row as "title|url|date".
QString row(const QString &title, const QString &url, const QString &date)
{
    return title + u'|' + url + u'|' + date;
}

QString rss(const QString &items, const QString &rootAttributes = QString())
{
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<rss version=\"2.0\"") + rootAttributes
        + QStringLiteral(">\r\n<channel>\r\n<title>Show</title>\r\n<description>About</description>\r\n")
        + items + QStringLiteral("</channel>\r\n</rss>\r\n");
}

QString item(const QString &title, const QString &url, const QString &date)
{
    return QStringLiteral("<item>\r\n  <title>%1</title>\r\n  <description>Notes &amp; links</description>\r\n"
                          "  <pubDate>%3</pubDate>\r\n  <enclosure url=\"%2\" length=\"123\" type=\"audio/mpeg\"/>\r\n"
                          "  <guid>%2</guid>\r\n</item>\r\n")
        .arg(title, url, date);
}

QString fiftyItems(QStringList *expected)
{
    QString items;
    for (int i = 1; i <= 50; ++i) {
        const QString title = QStringLiteral("Episode %1").arg(i);
        const QString url = QStringLiteral("https://cdn.example/ep%1.mp3").arg(i);
        const QString date = QStringLiteral("Mon, %1 Jan 2024 08:00:00 +0000").arg(i % 28 + 1, 2, 10, QChar(u'0'));
        if (i % 7 == 0) {
            items += QStringLiteral("<item><title>%1</title><pubDate>%2</pubDate><guid>x</guid></item>\r\n")
                         .arg(title, date);
        } else {
            items += item(title, url, date);
            expected->append(row(title, url, date));
        }
    }
    return rss(items);
}

QString billionLaughs()
{
    QString s = QStringLiteral("<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY lol \"lol\">\n");
    for (int i = 1; i <= 9; ++i) {
        s += QStringLiteral("<!ENTITY lol%1 \"").arg(i);
        for (int j = 0; j < 10; ++j)
            s += i == 1 ? QStringLiteral("&lol;") : QStringLiteral("&lol%1;").arg(i - 1);
        s += QStringLiteral("\">\n");
    }
    s += QStringLiteral("]>\n<rss><channel><item><title>&lol9;</title><enclosure url=\"u\"/></item></channel></rss>");
    return s;
}

// count attributes " a0="x" a1="x" ...", or namespace declarations when
// prefix is "xmlns:".
QString attributes(int count, const QString &prefix = QString())
{
    QString s;
    for (int i = 0; i < count; ++i)
        s += QStringLiteral(" %1a%2=\"x\"").arg(prefix).arg(i);
    return s;
}

QString nested(int depth)
{
    return QStringLiteral("<d>").repeated(depth) + QStringLiteral("</d>").repeated(depth);
}

} // namespace

class TestRssParser : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void parse_data();
    void parse();
    void hostileShapesRefusedQuickly_data();
    void hostileShapesRefusedQuickly();
    void transcriptLinks_data();
    void transcriptLinks();
};

void TestRssParser::parse_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QString>("warning");

    const int NotParsed = FeedParseResult::NotParsed;
    const int NoChannel = FeedParseResult::NoChannel;
    const int Channels = FeedParseResult::ChannelsFound;
    const QString date = QStringLiteral("Tue, 10 Jun 2003 04:00:00 GMT");
    const QString ok = item(QStringLiteral("One"), QStringLiteral("http://m.example/1.mp3"), date);
    const QStringList okRow{row(QStringLiteral("One"), QStringLiteral("http://m.example/1.mp3"), date)};

    // Not a feed at all.
    QTest::newRow("empty body") << QString() << NotParsed << QStringList() << NotValid;
    QTest::newRow("white space only") << QStringLiteral(" \r\n\t") << NotParsed << QStringList() << NotValid;
    QTest::newRow("plain text") << QStringLiteral("404 Not Found") << NotParsed << QStringList() << NotValid;
    QTest::newRow("html page with doctype")
        << QStringLiteral("<!DOCTYPE html>\n<html><head><title>Hi</title></head><body><p>Hi</p></body></html>")
        << NotParsed << QStringList() << NotValid;
    QTest::newRow("html page, not well-formed")
        << QStringLiteral("<html><body><p>one<br><p>two</body></html>") << NotParsed << QStringList() << NotValid;
    QTest::newRow("xhtml page") << QStringLiteral("<html><head><title>Hi</title></head><body/></html>")
                                << NoChannel << QStringList() << NotValid;
    QTest::newRow("atom feed")
        << QStringLiteral("<?xml version=\"1.0\"?><feed xmlns=\"http://www.w3.org/2005/Atom\"><title>T</title>"
                          "<entry><title>E</title><link rel=\"enclosure\" href=\"http://m.example/e.mp3\"/>"
                          "<updated>2003-12-13T18:30:02Z</updated></entry></feed>")
        << NoChannel << QStringList() << NotValid;
    QTest::newRow("rss 1.0, items beside the channel")
        << QStringLiteral("<?xml version=\"1.0\"?>\n<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\""
                          " xmlns=\"http://purl.org/rss/1.0/\">\n<channel rdf:about=\"http://x.example/\"><title>T</title>"
                          "</channel>\n<item rdf:about=\"http://x.example/1\"><title>One</title>"
                          "<enclosure url=\"http://m.example/1.mp3\"/></item>\n</rdf:RDF>")
        << Channels << QStringList() << NoEpisode;

    // Broken documents: rows read before the error are not kept.
    const QString good = rss(ok + ok);
    QTest::newRow("truncated") << good.left(good.indexOf(QStringLiteral("<guid>"), good.indexOf(QStringLiteral("</item>"))))
                               << NotParsed << QStringList() << NotValid;
    QTest::newRow("truncated after the last item") << good.left(good.indexOf(QStringLiteral("</channel>")))
                                                   << NotParsed << QStringList() << NotValid;
    QTest::newRow("mismatched end tag") << rss(ok + QStringLiteral("<item><title>x</titel></item>")) << NotParsed
                                        << QStringList() << NotValid;
    QTest::newRow("second document element") << rss(ok) + QStringLiteral("<rss/>") << NotParsed << QStringList()
                                             << NotValid;
    QTest::newRow("text after the document element") << rss(ok) + QStringLiteral("trailing") << NotParsed
                                                      << QStringList() << NotValid;
    QTest::newRow("undeclared entity") << rss(item(QStringLiteral("A&nbsp;B"), QStringLiteral("u"), date))
                                       << NotParsed << QStringList() << NotValid;
    QTest::newRow("undeclared namespace prefix")
        << rss(QStringLiteral("<item><itunes:title>x</itunes:title><enclosure url=\"u\"/></item>")) << NotParsed
        << QStringList() << NotValid;

    // Any DOCTYPE is refused, so no entity is ever expanded.
    QTest::newRow("doctype with entity bomb") << billionLaughs() << NotParsed << QStringList() << NotValid;
    QTest::newRow("doctype with external entity")
        << QStringLiteral("<?xml version=\"1.0\"?><!DOCTYPE rss [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>")
               + rss(item(QStringLiteral("&x;"), QStringLiteral("u"), date)).mid(int(qstrlen("<?xml version=\"1.0\" encoding=\"UTF-8\"?>")))
        << NotParsed << QStringList() << NotValid;
    QTest::newRow("harmless doctype") << QStringLiteral("<!DOCTYPE rss>") + rss(ok).mid(40) << NotParsed
                                      << QStringList() << NotValid;

    // Characters the decoder may have left.
    QTest::newRow("replacement characters kept")
        << rss(item(QStringLiteral("Caf\uFFFD \uFFFD"), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QStringLiteral("Caf\uFFFD \uFFFD"), QStringLiteral("u"), date)} << QString();
    QTest::newRow("surrogate pair kept")
        << rss(item(QStringLiteral("Smile \U0001F600"), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QStringLiteral("Smile \U0001F600"), QStringLiteral("u"), date)} << QString();
    QTest::newRow("lone high surrogate")
        << rss(item(QStringLiteral("A") + QChar(0xD83D) + QStringLiteral("B"), QStringLiteral("u"), date))
        << NotParsed << QStringList() << NotValid;
    QTest::newRow("lone low surrogate at the end") << rss(ok) + QChar(0xDE00) << NotParsed << QStringList() << NotValid;
    QTest::newRow("noncharacter U+FFFE")
        << rss(item(QStringLiteral("A") + QChar(0xFFFE), QStringLiteral("u"), date)) << NotParsed << QStringList()
        << NotValid;
    QTest::newRow("control character")
        << rss(item(QStringLiteral("A") + QChar(0x01), QStringLiteral("u"), date)) << NotParsed << QStringList()
        << NotValid;
    QTest::newRow("nul in the middle") << rss(ok + QChar(0) + ok) << NotParsed << QStringList() << NotValid;
    QTest::newRow("byte-order mark before the declaration") << QChar(0xFEFF) + rss(ok) << Channels << okRow
                                                            << QString();
    QTest::newRow("latin-1 declaration, text already decoded")
        << QStringLiteral("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss><channel>")
               + item(QStringLiteral("Caf\u00E9"), QStringLiteral("u"), date) + QStringLiteral("</channel></rss>")
        << Channels << QStringList{row(QStringLiteral("Caf\u00E9"), QStringLiteral("u"), date)} << QString();

    // Items and enclosures.
    QStringList fifty;
    const QString fiftyText = fiftyItems(&fifty);
    QTest::newRow("50 items, some without enclosure") << fiftyText << Channels << fifty << QString();
    QTest::newRow("channel without items") << rss(QString()) << Channels << QStringList() << NoEpisode;
    QTest::newRow("no item has an enclosure")
        << rss(QStringLiteral("<item><title>A</title><pubDate>d</pubDate></item>")) << Channels << QStringList()
        << NoEpisode;
    QTest::newRow("enclosure without url")
        << rss(QStringLiteral("<item><title>A</title><enclosure href=\"h\" type=\"audio/mpeg\"/></item>") + ok)
        << Channels << okRow << QString();
    QTest::newRow("first enclosure without url, second with")
        << rss(QStringLiteral("<item><title>A</title><enclosure type=\"audio/mpeg\"/><enclosure url=\"u\"/></item>"))
        << Channels << QStringList() << NoEpisode;
    QTest::newRow("url attribute with a prefix is not url")
        << rss(QStringLiteral("<item><title>A</title><enclosure x:url=\"u\"/></item>"),
               QStringLiteral(" xmlns:x=\"urn:x\""))
        << Channels << QStringList() << NoEpisode;
    QTest::newRow("empty url") << rss(QStringLiteral("<item><title>A</title><enclosure url=\"\"/></item>"))
                               << Channels << QStringList{row(QStringLiteral("A"), QString(), QString())}
                               << QString();
    QTest::newRow("url with references")
        << rss(QStringLiteral("<item><enclosure url=\"http://m.example/a.mp3?x=1&amp;y=%C3%A9\"/></item>"))
        << Channels << QStringList{row(QString(), QStringLiteral("http://m.example/a.mp3?x=1&y=%C3%A9"), QString())}
        << QString();
    QTest::newRow("missing title and pubDate")
        << rss(QStringLiteral("<item><enclosure url=\"u\"/></item>")) << Channels
        << QStringList{row(QString(), QStringLiteral("u"), QString())} << QString();
    QTest::newRow("empty title and pubDate")
        << rss(QStringLiteral("<item><title/><pubDate></pubDate><enclosure url=\"u\"/></item>")) << Channels
        << QStringList{row(QString(), QStringLiteral("u"), QString())} << QString();
    QTest::newRow("two identical items") << rss(ok + ok) << Channels << (okRow + okRow) << QString();
    QTest::newRow("first title, pubDate and enclosure win")
        << rss(QStringLiteral("<item><title>A</title><title>B</title><pubDate>d1</pubDate><pubDate>d2</pubDate>"
                              "<enclosure url=\"u1\"/><enclosure url=\"u2\"/></item>"))
        << Channels << QStringList{row(QStringLiteral("A"), QStringLiteral("u1"), QStringLiteral("d1"))} << QString();
    QTest::newRow("fields read in any order")
        << rss(QStringLiteral("<item><enclosure url=\"u\"/><pubDate>d</pubDate><title>A</title></item>")) << Channels
        << QStringList{row(QStringLiteral("A"), QStringLiteral("u"), QStringLiteral("d"))} << QString();
    QTest::newRow("names are case-sensitive")
        << rss(QStringLiteral("<Item><title>X</title><enclosure url=\"x\"/></Item>"
                              "<item><Title>T</Title><pubdate>d</pubdate><Enclosure url=\"x\"/></item>"
                              "<item><Title>T</Title><enclosure url=\"u\"/></item>"))
        << Channels << QStringList{row(QString(), QStringLiteral("u"), QString())} << QString();
    QTest::newRow("fields nested deeper are not fields")
        << rss(QStringLiteral("<item><group><title>G</title><enclosure url=\"g\"/></group><enclosure url=\"u\"/></item>"))
        << Channels << QStringList{row(QString(), QStringLiteral("u"), QString())} << QString();
    QTest::newRow("items nested deeper are not items")
        << rss(QStringLiteral("<group>") + ok + QStringLiteral("</group>")) << Channels << QStringList() << NoEpisode;

    // Channels.
    QTest::newRow("root not named rss")
        << QStringLiteral("<feed><channel>") + ok + QStringLiteral("</channel></feed>") << Channels << okRow
        << QString();
    QTest::newRow("several channels in order")
        << QStringLiteral("<rss><channel>") + item(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("1"))
               + QStringLiteral("</channel><other><item><title>Z</title><enclosure url=\"z\"/></item></other><channel>")
               + item(QStringLiteral("B"), QStringLiteral("b"), QStringLiteral("2"))
               + item(QStringLiteral("C"), QStringLiteral("c"), QStringLiteral("3")) + QStringLiteral("</channel></rss>")
        << Channels
        << QStringList{row(QStringLiteral("A"), QStringLiteral("a"), QStringLiteral("1")),
                       row(QStringLiteral("B"), QStringLiteral("b"), QStringLiteral("2")),
                       row(QStringLiteral("C"), QStringLiteral("c"), QStringLiteral("3"))}
        << QString();
    QTest::newRow("prefixed channel is not a channel")
        << QStringLiteral("<rss xmlns:r=\"urn:r\"><r:channel>") + ok + QStringLiteral("</r:channel></rss>") << NoChannel
        << QStringList() << NotValid;
    QTest::newRow("channel in a default namespace is a channel")
        << QStringLiteral("<rss xmlns=\"urn:r\"><channel>") + ok + QStringLiteral("</channel></rss>") << Channels
        << okRow << QString();
    QTest::newRow("capitalised channel is not a channel")
        << QStringLiteral("<rss><Channel>") + ok + QStringLiteral("</Channel></rss>") << NoChannel << QStringList()
        << NotValid;
    QTest::newRow("channel nested deeper is not a channel")
        << QStringLiteral("<rss><wrap><channel>") + ok + QStringLiteral("</channel></wrap></rss>") << NoChannel
        << QStringList() << NotValid;
    QTest::newRow("prefixed item is not an item")
        << rss(QStringLiteral("<x:item><title>A</title><enclosure url=\"u\"/></x:item>"),
               QStringLiteral(" xmlns:x=\"urn:x\""))
        << Channels << QStringList() << NoEpisode;

    // Namespaces of the fields.
    QTest::newRow("prefixed title before the plain one is taken")
        << rss(QStringLiteral("<item><itunes:title>Long title</itunes:title><title>Short</title>"
                              "<itunes:pubDate>idate</itunes:pubDate><pubDate>date</pubDate>"
                              "<media:enclosure url=\"m\"/><enclosure url=\"u\"/></item>"),
               QStringLiteral(" xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\""
                              " xmlns:media=\"http://search.yahoo.com/mrss/\""))
        << Channels << QStringList{row(QStringLiteral("Long title"), QStringLiteral("m"), QStringLiteral("idate"))}
        << QString();
    QTest::newRow("plain title before a prefixed one")
        << rss(QStringLiteral("<item><title>Short</title><itunes:title>Long</itunes:title><enclosure url=\"u\"/></item>"),
               QStringLiteral(" xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\""))
        << Channels << QStringList{row(QStringLiteral("Short"), QStringLiteral("u"), QString())} << QString();
    QTest::newRow("item in a namespace takes only that namespace")
        << QStringLiteral("<rss xmlns:a=\"urn:a\"><channel xmlns=\"urn:a\"><item>"
                          "<title xmlns=\"\">plain</title><x:title xmlns:x=\"urn:x\">other</x:title>"
                          "<a:title>mine</a:title><pubDate xmlns=\"\">p</pubDate><pubDate>same</pubDate>"
                          "<enclosure xmlns=\"\" url=\"plain\"/><a:enclosure url=\"mine\"/>"
                          "</item></channel></rss>")
        << Channels << QStringList{row(QStringLiteral("mine"), QStringLiteral("mine"), QStringLiteral("same"))}
        << QString();
    QTest::newRow("item in a namespace, enclosure in none")
        << QStringLiteral("<rss><channel xmlns=\"urn:a\"><item><title>T</title><enclosure xmlns=\"\" url=\"u\"/>"
                          "</item></channel></rss>")
        << Channels << QStringList() << NoEpisode;

    // Text of title and pubDate.
    QTest::newRow("cdata title")
        << rss(item(QStringLiteral("<![CDATA[Tips <b>&amp;</b> Tricks]]>"), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QStringLiteral("Tips <b>&amp;</b> Tricks"), QStringLiteral("u"), date)} << QString();
    QTest::newRow("cdata of white space kept")
        << rss(item(QStringLiteral("<![CDATA[  ]]>"), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QStringLiteral("  "), QStringLiteral("u"), date)} << QString();
    QTest::newRow("references resolved")
        << rss(item(QStringLiteral("R&amp;D &lt;live&gt; &quot;q&quot; &apos;a&apos; &#233;&#x1F600;"),
                    QStringLiteral("u"), date))
        << Channels
        << QStringList{row(QStringLiteral("R&D <live> \"q\" 'a' \u00E9\U0001F600"), QStringLiteral("u"), date)}
        << QString();
    QTest::newRow("rfc 822 dates verbatim")
        << rss(item(QStringLiteral("A"), QStringLiteral("u"), QStringLiteral("Sat, 07 Sep 2002 00:00:01 -0700"))
               + item(QStringLiteral("B"), QStringLiteral("u"), QStringLiteral("Wed, 5 Oct 2011 9:05:00 EST"))
               + item(QStringLiteral("C"), QStringLiteral("u"), QStringLiteral(" 1 Jan 99 23:59 +0100 ")))
        << Channels
        << QStringList{row(QStringLiteral("A"), QStringLiteral("u"), QStringLiteral("Sat, 07 Sep 2002 00:00:01 -0700")),
                       row(QStringLiteral("B"), QStringLiteral("u"), QStringLiteral("Wed, 5 Oct 2011 9:05:00 EST")),
                       row(QStringLiteral("C"), QStringLiteral("u"), QStringLiteral(" 1 Jan 99 23:59 +0100 "))}
        << QString();
    QTest::newRow("title not trimmed, line ends as the parser gives them")
        << rss(item(QStringLiteral("  Two\r\nlines\t"), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QStringLiteral("  Two\nlines\t"), QStringLiteral("u"), date)} << QString();
    QTest::newRow("white space only title dropped")
        << rss(item(QStringLiteral(" \r\n "), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QString(), QStringLiteral("u"), date)} << QString();
    QTest::newRow("markup inside title")
        << rss(item(QStringLiteral("Part <b>one</b>, <i>two <u>three</u></i> <b>four</b>"), QStringLiteral("u"), date))
        << Channels << QStringList{row(QStringLiteral("Part one, two threefour"), QStringLiteral("u"), date)}
        << QString();
    QTest::newRow("text, cdata and comment in a title")
        << rss(item(QStringLiteral("a<!-- note -->b<![CDATA[<c>]]>d<?pi x?>e"), QStringLiteral("u"), date)) << Channels
        << QStringList{row(QStringLiteral("ab<c>de"), QStringLiteral("u"), date)} << QString();

    // Shapes on which the XML reader's time grows with the square of their
    // size are refused before it sees them; real feeds stay far below the bounds.
    const QString enclosure = QStringLiteral("<item><title>One</title><pubDate>%1</pubDate>"
                                             "<enclosure url=\"http://m.example/1.mp3\"%2/></item>");
    const QStringList oneRow{row(QStringLiteral("One"), QStringLiteral("http://m.example/1.mp3"), date)};
    QTest::newRow("256 attributes on an element") << rss(enclosure.arg(date, attributes(255))) << Channels
                                                  << oneRow << QString();
    QTest::newRow("257 attributes on an element") << rss(enclosure.arg(date, attributes(256))) << NotParsed
                                                  << QStringList() << NotValid;
    QTest::newRow("100,000 attributes on the root") << rss(ok, attributes(100000)) << NotParsed << QStringList()
                                                    << NotValid;
    QTest::newRow("256 namespaces in scope") << rss(ok, attributes(255, QStringLiteral("xmlns:"))) << Channels
                                             << okRow << QString();
    QTest::newRow("257 namespaces in scope, declared on two levels")
        << rss(enclosure.arg(date, attributes(1, QStringLiteral("xmlns:x"))), attributes(256, QStringLiteral("xmlns:")))
        << NotParsed << QStringList() << NotValid;
    QTest::newRow("a default namespace declaration counts")
        << rss(ok, attributes(256, QStringLiteral("xmlns:")) + QStringLiteral(" xmlns=\"urn:x\"")) << NotParsed
        << QStringList() << NotValid;
    QTest::newRow("declarations go out of scope with their element")
        << rss(QString(enclosure.arg(date, attributes(200, QStringLiteral("xmlns:")))).repeated(3)) << Channels
        << (oneRow + oneRow + oneRow) << QString();
    QTest::newRow("nested 1,024 deep")
        << rss(item(QStringLiteral("One"), QStringLiteral("http://m.example/1.mp3"), date)
                   .replace(QStringLiteral("Notes &amp; links"), nested(1024 - 4)))
        << Channels << okRow << QString();
    QTest::newRow("nested 1,025 deep")
        << rss(item(QStringLiteral("One"), QStringLiteral("http://m.example/1.mp3"), date)
                   .replace(QStringLiteral("Notes &amp; links"), nested(1025 - 4)))
        << NotParsed << QStringList() << NotValid;
    QTest::newRow("markup in comments, cdata and values is not counted")
        << rss(QStringLiteral("<!-- <x%1> --><item><title><![CDATA[<y%1>]]></title><pubDate>%2</pubDate>"
                              "<?pi <z%1>?><enclosure url=\"http://m.example/1.mp3\" a='%1 >' b='\">' c=\"'\"/>"
                              "</item>")
                   .arg(attributes(300), date))
        << Channels << QStringList{row(QStringLiteral("<y") + attributes(300) + u'>', QStringLiteral("http://m.example/1.mp3"), date)}
        << QString();
    QTest::newRow("tag that never ends") << rss(ok) + QStringLiteral("<x a=\"1\"") << NotParsed << QStringList()
                                         << NotValid;
    QTest::newRow("namespace declarations counted, not other names")
        << rss(QStringLiteral("<item xmlnsx=\"1\" axmlns=\"2\"><title>One</title><pubDate>%1</pubDate>"
                              "<enclosure url=\"http://m.example/1.mp3\"/></item>").arg(date),
               attributes(255, QStringLiteral("xmlns:")))
        << Channels << oneRow << QString();
    QTest::newRow("value that never ends") << rss(ok).replace(QStringLiteral("\"2.0\""), QStringLiteral("\"2.0"))
                                           << NotParsed << QStringList() << NotValid;
}

void TestRssParser::parse()
{
    QFETCH(QString, text);
    QFETCH(int, outcome);
    QFETCH(QStringList, rows);
    QFETCH(QString, warning);

    const FeedParseResult result = parseFeed(text);
    QStringList got;
    for (const EpisodeRow &r : result.rows) {
        got << row(r.title, r.url, r.date);
        QVERIFY(r.status.isEmpty());
    }
    QCOMPARE(got, rows);
    QCOMPARE(int(result.outcome), outcome);
    QCOMPARE(retrievalWarning(result, FeedUrl), warning);
}

// The shapes that took the reader seconds are refused at once.
void TestRssParser::hostileShapesRefusedQuickly_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("100,000 attributes on one element (1.5 MB)")
        << QStringLiteral("<rss><channel><item") + attributes(100000) + QStringLiteral("/></channel></rss>");
    QTest::newRow("100,000 namespace declarations on one element")
        << QStringLiteral("<rss") + attributes(100000, QStringLiteral("xmlns:")) + QStringLiteral("/>");
    QString nestedNamespaces;
    for (int i = 0; i < 50000; ++i)
        nestedNamespaces += QStringLiteral("<e xmlns:p%1=\"u\">").arg(i);
    QTest::newRow("50,000 nested namespace declarations") << nestedNamespaces;
    QTest::newRow("nested 500,000 deep") << nested(500000);
    QTest::newRow("200,000 start tags that never end") << QStringLiteral("<rss><a ").repeated(200000);
    QTest::newRow("a comment of 1,000,000 dashes that never ends")
        << QStringLiteral("<rss><!-- ") + QString(1000000, u'-');
}

void TestRssParser::hostileShapesRefusedQuickly()
{
    QFETCH(QString, text);
    QElapsedTimer timer;
    timer.start();
    const FeedParseResult result = parseFeed(text);
    // A generous limit: such a document took the reader from 3 to 14 s.
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed()) + " ms"));
    QCOMPARE(int(result.outcome), int(FeedParseResult::NotParsed));
    QCOMPARE(retrievalWarning(result, FeedUrl), NotValid);
}

// What a row keeps beside its columns: "title [feed language] <url|type|language|rel>...".
static QString transcriptsOf(const EpisodeRow &r)
{
    QString s = r.title + QStringLiteral(" [") + r.feedLanguage + u']';
    for (const TranscriptLink &link : r.transcripts)
        s += QStringLiteral(" <%1|%2|%3|%4>").arg(link.url, link.type, link.language, link.rel);
    return s;
}

void TestRssParser::transcriptLinks_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("rows");

    const QString ns = QStringLiteral(" xmlns:podcast=\"https://podcastindex.org/namespace/1.0\"");
    const QString enclosure = QStringLiteral("<enclosure url=\"http://m.example/a.mp3\"/>");
    auto itemWith = [&](const QString &title, const QString &inside) {
        return QStringLiteral("<item><title>") + title + QStringLiteral("</title>") + enclosure + inside
            + QStringLiteral("</item>");
    };
    auto feed = [](const QString &channelInside, const QString &rootAttributes) {
        return QStringLiteral("<rss version=\"2.0\"") + rootAttributes + QStringLiteral("><channel>") + channelInside
            + QStringLiteral("</channel></rss>");
    };

    QTest::newRow("none: the row as before") << rss(item("One", "u", "d")) << QStringList{"One []"};
    QTest::newRow("several, all attributes, in document order")
        << feed(QStringLiteral("<language>en-us</language>")
                    + itemWith("A", "<podcast:transcript url=\"http://t.example/a.vtt\" type=\"text/vtt\" "
                                    "language=\"en\" rel=\"captions\"/>"
                                    "<podcast:transcript url=\"http://t.example/a.json\" type=\"application/json\"/>"
                                    "<podcast:transcript type=\"text/html\" url=\" http://t.example/a.html \" "
                                    "language=\"es\"></podcast:transcript>"),
                ns)
        << QStringList{"A [en-us] <http://t.example/a.vtt|text/vtt|en|captions> <http://t.example/a.json|application/json||>"
                       " <http://t.example/a.html|text/html|es|>"};
    QTest::newRow("any prefix, or the default namespace")
        << feed(itemWith("A", "<pi:transcript url=\"p\" type=\"text/plain\"/>"
                              "<transcript xmlns=\"https://podcastindex.org/namespace/1.0\" url=\"d\"/>"),
                QStringLiteral(" xmlns:pi=\"https://podcastindex.org/namespace/1.0\""))
        << QStringList{"A [] <p|text/plain||> <d|||>"};
    QTest::newRow("the namespace's first address")
        << feed(itemWith("A", "<podcast:transcript url=\"g\" type=\"application/srt\"/>"),
                QStringLiteral(" xmlns:podcast=\"https://github.com/Podcastindex-org/podcast-namespace/blob/main/docs/1.0.md\""))
        << QStringList{"A [] <g|application/srt||>"};
    QTest::newRow("other namespaces, no namespace, no address: nothing")
        << feed(itemWith("A", "<x:transcript url=\"x\"/><transcript url=\"plain\"/>"
                              "<podcast:transcript type=\"text/vtt\"/><podcast:transcript url=\" \"/>"
                              "<podcast:transcript x:url=\"prefixed\"/>"),
                ns + QStringLiteral(" xmlns:x=\"urn:x\""))
        << QStringList{"A []"};
    QTest::newRow("only children of the item")
        << feed(QStringLiteral("<podcast:transcript url=\"channel\"/>")
                    + itemWith("A", "<group><podcast:transcript url=\"deep\"/></group>"),
                ns)
        << QStringList{"A []"};
    QTest::newRow("an item without an enclosure gives no row")
        << feed(QStringLiteral("<item><title>B</title><podcast:transcript url=\"b\"/></item>")
                    + itemWith("A", "<podcast:transcript url=\"a\"/>"),
                ns)
        << QStringList{"A [] <a|||>"};
    QTest::newRow("language of each channel, after the items too, trimmed, the first one")
        << QStringLiteral("<rss><channel>") + itemWith("A", QString())
               + QStringLiteral("<language>\n  de-DE  </language><language>fr</language></channel><channel>")
               + itemWith("B", QString()) + QStringLiteral("<x:language xmlns:x=\"urn:x\">it</x:language></channel>"
                                                          "<channel><language>nl</language>")
               + itemWith("C", QString()) + QStringLiteral("</channel></rss>")
        << QStringList{"A [de-DE]", "B []", "C [nl]"};
}

void TestRssParser::transcriptLinks()
{
    QFETCH(QString, text);
    QFETCH(QStringList, rows);

    const FeedParseResult result = parseFeed(text);
    QCOMPARE(int(result.outcome), int(FeedParseResult::ChannelsFound));
    QStringList got;
    for (const EpisodeRow &r : result.rows)
        got << transcriptsOf(r);
    QCOMPARE(got, rows);
}

QTEST_APPLESS_MAIN(TestRssParser)
#include "tst_rssparser.moc"
