#include "feeds/episodecommands.h"

#include <QTest>

namespace {

EpisodeRows sampleRows()
{
    return {
        {QStringLiteral("Intro"), QStringLiteral("http://m.example/a.mp3"), QStringLiteral("Mon, 01 Jan 2024"), {}},
        {QStringLiteral("Interview"), QStringLiteral("http://m.example/b.mp3"), QStringLiteral("Tue, 02 Jan 2024"), {}},
        {QStringLiteral("Outro"), QStringLiteral("http://m.example/c.mp3"), QStringLiteral("Wed, 03 Jan 2024"), {}},
        {QStringLiteral("\u00C9t\u00E9 en France"), QStringLiteral("http://m.example/ete.mp3"), QStringLiteral("Thu"),
         QStringLiteral("Downloaded")},
        {QStringLiteral("Bonus"), QStringLiteral("http://cdn.example/SpecialGuest.mp3"), QStringLiteral("Fri"), {}},
        {QStringLiteral("Q&A [Live]"), QStringLiteral("http://m.example/qa.mp3"), QStringLiteral("Sat"), {}},
    };
}

} // namespace

class TestEpisodeCommands : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void findEpisode_data();
    void findEpisode();
    void findSequence();
    void findStartRow_data();
    void findStartRow();
    void joinForClipboard_data();
    void joinForClipboard();
};

void TestEpisodeCommands::findEpisode_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("startRow");
    QTest::addColumn<int>("found");

    QTest::newRow("capitals find lower-case title") << QStringLiteral("INT") << 0 << 0;
    QTest::newRow("from the next row") << QStringLiteral("INT") << 1 << 1;
    QTest::newRow("no wrap around") << QStringLiteral("INT") << 2 << -1;
    QTest::newRow("start past the end") << QStringLiteral("o") << 6 << -1;
    QTest::newRow("url only") << QStringLiteral("specialguest") << 0 << 4;
    QTest::newRow("url only, from a later row") << QStringLiteral("b.mp3") << 1 << 1;
    QTest::newRow("date not searched") << QStringLiteral("Jan 2024") << 0 << -1;
    QTest::newRow("status not searched") << QStringLiteral("Downloaded") << 0 << -1;
    QTest::newRow("lower-case e acute does not find capital") << QStringLiteral("\u00E9t\u00E9") << 0 << -1;
    QTest::newRow("same accented letters match") << QStringLiteral("\u00C9T\u00E9") << 0 << 3;
    QTest::newRow("ascii folded beside accents") << QStringLiteral("EN FRANCE") << 0 << 3;
    QTest::newRow("punctuation as is") << QStringLiteral("&a [l") << 0 << 5;
    QTest::newRow("empty text") << QString() << 0 << -1;
    QTest::newRow("no match") << QStringLiteral("zzz") << 0 << -1;
    QTest::newRow("with rows 2 and 5 selected") << QStringLiteral("mp3") << ::findStartRow(2) << 3;
}

void TestEpisodeCommands::findEpisode()
{
    QFETCH(QString, text);
    QFETCH(int, startRow);
    QFETCH(int, found);
    QCOMPARE(::findEpisode(sampleRows(), text, startRow), found);
}

// Intro, Interview, Outro; "INT" each time from the row after the match, and
// from row 0 after a miss (the miss clears the selection).
void TestEpisodeCommands::findSequence()
{
    const EpisodeRows rows = sampleRows().mid(0, 3);
    int selected = -1;
    QList<int> results;
    for (int i = 0; i < 4; ++i) {
        selected = ::findEpisode(rows, QStringLiteral("INT"), ::findStartRow(selected));
        results << selected;
    }
    QCOMPARE(results, (QList<int>{0, 1, -1, 0}));
}

void TestEpisodeCommands::findStartRow_data()
{
    QTest::addColumn<int>("firstSelected");
    QTest::addColumn<int>("start");
    QTest::newRow("nothing selected") << -1 << 0;
    QTest::newRow("first row") << 0 << 1;
    QTest::newRow("row 2") << 2 << 3;
}

void TestEpisodeCommands::findStartRow()
{
    QFETCH(int, firstSelected);
    QFETCH(int, start);
    QCOMPARE(::findStartRow(firstSelected), start);
}

void TestEpisodeCommands::joinForClipboard_data()
{
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("text");

    QTest::newRow("three lines, no final break")
        << QStringList{QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("C")} << QStringLiteral("A\r\nB\r\nC");
    QTest::newRow("single empty value") << QStringList{QString()} << QString();
    QTest::newRow("no values") << QStringList() << QString();
    QTest::newRow("blanks trimmed at the ends only")
        << QStringList{QStringLiteral("  first "), QStringLiteral(" mid "), QStringLiteral("\tlast  ")}
        << QStringLiteral("first \r\n mid \r\n\tlast");
    QTest::newRow("empty values inside kept")
        << QStringList{QStringLiteral("a"), QString(), QStringLiteral("b")} << QStringLiteral("a\r\n\r\nb");
    QTest::newRow("empty values at the ends dropped")
        << QStringList{QString(), QStringLiteral("a"), QString()} << QStringLiteral("a");
    QTest::newRow("control characters trimmed, U+00A0 not")
        << QStringList{QStringLiteral("\x01\x1f x\u00A0")} << QStringLiteral("x\u00A0");
}

void TestEpisodeCommands::joinForClipboard()
{
    QFETCH(QStringList, values);
    QFETCH(QString, text);
    QCOMPARE(::joinForClipboard(values), text);
}

QTEST_APPLESS_MAIN(TestEpisodeCommands)
#include "tst_episodecommands.moc"
