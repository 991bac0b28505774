// Publishers' transcripts: the choice among an item's links, the converters
// of each format on fixture files, and the fetch against a local server.
#include "base/errors.h"
#include "base/textcodec.h"
#include "feeds/rssparser.h"
#include "testserver.h"
#include "transcribe/publishertranscript.h"

#include <QFile>
#include <QTest>

#include "testhelpers.h"

namespace {

QString fixture(const QString &name)
{
    return decodeText(testhelpers::readFileBytes(QStringLiteral(MORVANE_TEST_DATA_DIR "/") + name));
}

using Converter = QString (*)(const QString &);

} // namespace

Q_DECLARE_METATYPE(Converter)
Q_DECLARE_METATYPE(TranscriptFormat)

class TestPublisherTranscript : public QObject
{
    Q_OBJECT
private slots:
    void choice_data();
    void choice();
    void formatOfLink_data();
    void formatOfLink();
    void converters_data();
    void converters();
    void shapes_data();
    void shapes();
    void unknownTypeRecognisedByContent_data();
    void unknownTypeRecognisedByContent();
    void fetch();
    void fetchFailures_data();
    void fetchFailures();
};

void TestPublisherTranscript::choice_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("systemLanguage");
    QTest::addColumn<QString>("chosen");  // empty: none

    QTest::newRow("same format: the feed's language") << "WebVTT in the feed's language" << "de_DE"
                                                      << "http://t.example/1.en.vtt";
    QTest::newRow("JSON first") << "JSON before WebVTT, whatever the language" << "en_US" << "http://t.example/2.json";
    QTest::newRow("HTML before plain text") << "HTML before plain text" << "en_US" << "http://t.example/3.html";
    QTest::newRow("no language: the feed's, before the system's") << "No language is the feed's" << "es_ES"
                                                                  << "http://t.example/4.vtt";
    QTest::newRow("the system's language, de") << "The system's language among others" << "de_DE"
                                               << "http://t.example/5.de.srt";
    QTest::newRow("the system's language, fr-CA") << "The system's language among others" << "fr-CA"
                                                  << "http://t.example/5.fr.srt";
    QTest::newRow("neither language: the first") << "The system's language among others" << "it_IT"
                                                 << "http://t.example/5.fr.srt";
    QTest::newRow("type told by the address") << "The type told by the address" << "en_US"
                                              << "http://t.example/6.SRT?v=2";
    QTest::newRow("none") << "None" << "en_US" << QString();
}

void TestPublisherTranscript::choice()
{
    QFETCH(QString, title);
    QFETCH(QString, systemLanguage);
    QFETCH(QString, chosen);

    const FeedParseResult feed = parseFeed(fixture(QStringLiteral("transcripts.rss")));
    QCOMPARE(feed.rows.size(), 7);
    const auto row = std::find_if(feed.rows.cbegin(), feed.rows.cend(),
                                  [&](const EpisodeRow &r) { return r.title == title; });
    QVERIFY(row != feed.rows.cend());
    QCOMPARE(row->feedLanguage, QStringLiteral("en-us"));
    const int index = chooseTranscript(row->transcripts, row->feedLanguage, systemLanguage);
    QCOMPARE(index < 0 ? QString() : row->transcripts.at(index).url, chosen);
}

void TestPublisherTranscript::formatOfLink_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("url");
    QTest::addColumn<TranscriptFormat>("format");

    QTest::newRow("json") << "application/json" << "http://t/x" << TranscriptFormat::Json;
    QTest::newRow("vtt, any case, parameters") << " Text/VTT; charset=UTF-8" << "http://t/x.json" << TranscriptFormat::WebVtt;
    QTest::newRow("x-subrip") << "application/x-subrip" << "http://t/x" << TranscriptFormat::Srt;
    QTest::newRow("application/srt") << "application/srt" << "http://t/x" << TranscriptFormat::Srt;
    QTest::newRow("text/srt") << "text/srt" << "http://t/x" << TranscriptFormat::Srt;
    QTest::newRow("html") << "text/html" << "http://t/x" << TranscriptFormat::Html;
    QTest::newRow("plain") << "text/plain" << "http://t/x.vtt" << TranscriptFormat::Plain;
    QTest::newRow("no type, .vtt") << "" << "http://t/a/x.vtt?sig=1#t" << TranscriptFormat::WebVtt;
    QTest::newRow("unknown type, .htm") << "application/octet-stream" << "http://t/x.HTM" << TranscriptFormat::Html;
    QTest::newRow("no type, .txt") << "" << "http://t/x.txt" << TranscriptFormat::Plain;
    QTest::newRow("no type, .json") << "" << "http://t/x.json" << TranscriptFormat::Json;
    QTest::newRow("nothing to tell") << "" << "http://t/transcript" << TranscriptFormat::Unknown;
}

void TestPublisherTranscript::formatOfLink()
{
    QFETCH(QString, type);
    QFETCH(QString, url);
    QFETCH(TranscriptFormat, format);
    QCOMPARE(transcriptFormatOf(TranscriptLink{url, type, {}, {}}), format);
}

void TestPublisherTranscript::converters_data()
{
    QTest::addColumn<Converter>("convert");
    QTest::addColumn<QString>("file");
    QTest::addColumn<bool>("lf");  // the fixture's CR LF made LF first
    QTest::addColumn<QString>("text");

    const QString vtt = QStringLiteral(
        "Alice: Welcome to the show, everyone. Today: fish & chips.\n\n"
        "Bob Smith: Thanks, Alice! <laughs> It's great to be here \u00e9t\u00e9, R&D &unknown; &.\n\n"
        "Alice: Let's begin.\n\n"
        "Bob Smith: Sure.");
    QTest::newRow("webvtt, CR LF") << Converter(webVttToText) << "voices.vtt" << false << vtt;
    QTest::newRow("webvtt, LF") << Converter(webVttToText) << "voices.vtt" << true << vtt;
    const QString srt = QStringLiteral("Hello and welcome. This is line one of cue two. Goodbye, 2024! See you.");
    QTest::newRow("srt, byte-order mark, missing empty lines, CR LF") << Converter(srtToText) << "nogaps.srt" << false
                                                                       << srt;
    QTest::newRow("srt, LF") << Converter(srtToText) << "nogaps.srt" << true << srt;
    QTest::newRow("json with speakers") << Converter(jsonTranscriptToText) << "speakers.json" << false
                                        << QStringLiteral("Alice: Hello there.\n\nBob: Hi, Alice. How are you?\n\n"
                                                          "Alice: Fine & well \u00e9.");
    QTest::newRow("json without speakers") << Converter(jsonTranscriptToText) << "nospeakers.json" << false
                                           << QStringLiteral("Just words in a row.");
    QTest::newRow("html with scripts and styles") << Converter(htmlToText) << "script.html" << false
                                                  << QStringLiteral("Transcript\n\nAlice: Welcome to the show & more.\n\n"
                                                                    "Bob: Thanks!\nSecond line \u00e9t\u00e9.\n\n"
                                                                    "A div paragraph\n\nnested p\n\ntail\n\none\n\ntwo");
    QTest::newRow("plain text") << Converter(plainTranscriptText) << "plain.txt" << false
                                << QStringLiteral("Line one\nLine two \u00e9");
}

void TestPublisherTranscript::converters()
{
    QFETCH(Converter, convert);
    QFETCH(QString, file);
    QFETCH(bool, lf);
    QFETCH(QString, text);

    QString input = fixture(file);
    QVERIFY(!input.isEmpty());
    if (lf) {
        QVERIFY(input.contains(QStringLiteral("\r\n")));
        input.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    }
    QCOMPARE(convert(input), text);
}

// Shapes that cost the converters or the HTML parser more than their length
// are read in proportion to it, or refused.
void TestPublisherTranscript::shapes_data()
{
    QTest::addColumn<Converter>("convert");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("text");

    const QString cue = QStringLiteral("WEBVTT\n\n00:00.000 --> 00:01.000\n");
    QTest::newRow("ampersands without a semicolon") << Converter(webVttToText) << cue + QString(200000, u'&')
                                                    << QString(200000, u'&');
    QTest::newRow("a reference name too long to be one")
        << Converter(webVttToText) << cue + QStringLiteral("&") + QString(40, u'a') + QStringLiteral(";")
        << QStringLiteral("&") + QString(40, u'a') + QStringLiteral(";");
    QTest::newRow("a tag that never closes") << Converter(webVttToText) << cue + QStringLiteral("Hi <v Ann")
                                             << QStringLiteral("Hi");
    auto attributes = [](int count) {
        QString s;
        for (int i = 0; i < count; ++i)
            s += QStringLiteral(" a%1").arg(i);
        return s;
    };
    QTest::newRow("a tag of 100 attributes") << Converter(htmlToText)
                                             << QStringLiteral("<p") + attributes(100) + QStringLiteral(">Hi</p>")
                                             << QStringLiteral("Hi");
    QTest::newRow("quoted values are no attributes")
        << Converter(htmlToText)
        << QStringLiteral("<svg><path d=\"") + QStringLiteral("M 1 1 ").repeated(20000)
               + QStringLiteral("\"/></svg><p title='a > b'>Hi</p>")
        << QStringLiteral("Hi");
    QTest::newRow("a tag of 10,000 attributes: no transcript")
        << Converter(htmlToText) << QStringLiteral("<p") + attributes(10000) + QStringLiteral(">Hi</p>") << QString();
    QTest::newRow("many tags of 1,000 attributes: no transcript")
        << Converter(htmlToText) << (QStringLiteral("<p") + attributes(1000) + QStringLiteral(">Hi</p>")).repeated(30)
        << QString();
}

void TestPublisherTranscript::shapes()
{
    QFETCH(Converter, convert);
    QFETCH(QString, input);
    QFETCH(QString, text);
    QCOMPARE(convert(input), text);
}

void TestPublisherTranscript::unknownTypeRecognisedByContent_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("text");
    QTest::newRow("webvtt") << "WEBVTT\n\n1\n00:01.000 --> 00:02.000\n<v A>Hi" << "A: Hi";
    QTest::newRow("json") << " {\"segments\":[{\"body\":\"Hi\"}]}" << "Hi";
    QTest::newRow("srt") << "1\n00:00:01,000 --> 00:00:02,000\nHi\n" << "Hi";
    QTest::newRow("html") << "<html><body><p>Hi</p><script>x()</script></body></html>" << "Hi";
    QTest::newRow("plain") << "Hi --> there\n" << "Hi --> there";
    QTest::newRow("nothing readable") << "{not json" << "";
}

void TestPublisherTranscript::unknownTypeRecognisedByContent()
{
    QFETCH(QString, body);
    QFETCH(QString, text);
    QCOMPARE(transcriptToText(TranscriptFormat::Unknown, body), text);
}

void TestPublisherTranscript::fetch()
{
    TestServer server(TestServer::Https);
    server.route("/t.vtt", Response::ok(testhelpers::readFileBytes(MORVANE_TEST_DATA_DIR "/voices.vtt"), "text/vtt"));
    server.route("/moved", Response::redirect("/t.vtt"));
    const QString text = fetchPublisherTranscript(TranscriptLink{server.urlString("/moved"), "text/vtt", "en", {}});
    QVERIFY(text.startsWith(QStringLiteral("Alice: Welcome to the show, everyone.")));
    QVERIFY(text.endsWith(QStringLiteral("\n\nBob Smith: Sure.")));
    // The program's GET conventions.
    QVERIFY(server.lastRequest("/t.vtt").header("User-Agent").startsWith("Mozilla/5.0 (Windows NT 6.1)"));
}

void TestPublisherTranscript::fetchFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("message");
    QTest::newRow("404") << "/missing.vtt" << "HTTP/1.1 404 Not Found";
    QTest::newRow("too large") << "/large.vtt" << "The transcript is too large";
    QTest::newRow("too large, chunked") << "/chunked.vtt" << "The transcript is too large";
    QTest::newRow("empty") << "/empty.vtt" << "The transcript holds no text";
    QTest::newRow("only a header") << "/header.vtt" << "The transcript holds no text";
    QTest::newRow("not http") << "file:///etc/passwd" << "Protocol \"file\" is unknown";
}

void TestPublisherTranscript::fetchFailures()
{
    QFETCH(QString, path);
    QFETCH(QString, message);

    TestServer server;
    const qint64 limit = 64 * 1024;
    server.route("/large.vtt", Response::pattern(limit + 1, "text/vtt"));
    server.route("/chunked.vtt", Response::pattern(limit * 4, "text/vtt").chunked());
    server.route("/empty.vtt", Response::ok({}, "text/vtt"));
    server.route("/header.vtt", Response::ok("WEBVTT\n\nNOTE nothing said\n", "text/vtt"));
    const QString url = path.startsWith(u'/') ? server.urlString(path) : path;
    try {
        fetchPublisherTranscript(TranscriptLink{url, "text/vtt", {}, {}}, limit);
        QFAIL("no error");
    } catch (const AppError &e) {
        QCOMPARE(e.message(), message);
    }
}

QTEST_GUILESS_MAIN(TestPublisherTranscript)
#include "tst_publishertranscript.moc"
