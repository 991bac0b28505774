#include "base/errors.h"
#include "downloads/filenaming.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "testhelpers.h"

using testhelpers::errorOf;
using testhelpers::kNoError;

class TestFileNaming : public QObject
{
    Q_OBJECT

private slots:
    void cleanFileName_data();
    void cleanFileName();
    void episodeFilePath_data();
    void episodeFilePath();
    void uniqueFileName_data();
    void uniqueFileName();
    void invalidCharactersInPath_data();
    void invalidCharactersInPath();
};

void TestFileNaming::cleanFileName_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");

    QTest::newRow("every replaced character") << QStringLiteral("a\"b*c+d,e/f:g;h<i=j>k?l[m\\n]o^p|q")
                                              << QStringLiteral("a b c d e f g h i j k l m n o p q");
    QTest::newRow("& # ( ) ! kept") << QStringLiteral("Q&A #5 (live)!") << QStringLiteral("Q&A #5 (live)!");
    QTest::newRow("one pass: three spaces become two") << QStringLiteral("a   b    c") << QStringLiteral("a  b  c");
    QTest::newRow("blanks and controls at the ends") << QStringLiteral("\t  a b \r\n") << QStringLiteral("a b");
    QTest::newRow("tab inside stays") << QStringLiteral("a\tb") << QStringLiteral("a\tb");
    QTest::newRow("three question marks") << QStringLiteral("???") << QStringLiteral("NoName");
    QTest::newRow("empty") << QString() << QStringLiteral("NoName");
    QTest::newRow("above 255 untouched") << QStringLiteral("Подкаст — épisode №5 “quoted”")
                                         << QStringLiteral("Подкаст — épisode №5 “quoted”");
    // The 200-unit cut comes after the trim: a space at unit 200 stays.
    QTest::newRow("300 units, space at 200") << QString(199, QLatin1Char('a')) + QLatin1Char(' ') + QString(100, QLatin1Char('b'))
                                             << QString(199, QLatin1Char('a')) + QLatin1Char(' ');
    QTest::newRow("cut counts UTF-16 units") << QString(150, QChar(0x20AC)) + QString(100, QLatin1Char('x'))
                                             << QString(150, QChar(0x20AC)) + QString(50, QLatin1Char('x'));
}

void TestFileNaming::cleanFileName()
{
    QFETCH(QString, title);
    QFETCH(QString, expected);
    QCOMPARE(CleanFileName(title), expected);
}

void TestFileNaming::episodeFilePath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("expected");

    QTest::newRow("spaces and separators")
        << QStringLiteral("/home/u/Pods") << QStringLiteral("  Episode   12: Part 1/2  ")
        << QStringLiteral("/home/u/Pods/Episode 12 Part 1 2.mp3");
    QTest::newRow("Q&A") << QStringLiteral("/p") << QStringLiteral("Q&A: [Live] #5 = \"best\"?")
                         << QStringLiteral("/p/Q&A Live #5 best.mp3");
    QTest::newRow("question marks") << QStringLiteral("/p") << QStringLiteral("???") << QStringLiteral("/p/NoName.mp3");
    QTest::newRow("empty title") << QStringLiteral("/p") << QString() << QStringLiteral("/p/NoName.mp3");
    QTest::newRow("tab inside") << QStringLiteral("/p") << QStringLiteral("two\twords")
                                << QStringLiteral("/p/InvalidName.mp3");
    QTest::newRow("tab at the ends") << QStringLiteral("/p") << QStringLiteral("\ttwo words\t")
                                     << QStringLiteral("/p/two words.mp3");
    QTest::newRow("non-Latin") << QStringLiteral("/p") << QStringLiteral("東京 – ポッドキャスト")
                               << QStringLiteral("/p/東京 – ポッドキャスト.mp3");
    QTest::newRow("name ending in a space")
        << QStringLiteral("/p") << QString(199, QLatin1Char('a')) + QLatin1Char(' ') + QString(100, QLatin1Char('b'))
        << QStringLiteral("/p/") + QString(199, QLatin1Char('a')) + QStringLiteral(" .mp3");
    // A name fits in 255 bytes of UTF-8 with ".mp3" and a counter: 243 bytes
    // at most, cut at a character boundary.
    QTest::newRow("151 Cyrillic letters: 288 bytes cut to 121 letters")
        << QStringLiteral("/p") << QString(151, QChar(0x0416)) << QStringLiteral("/p/") + QString(121, QChar(0x0416)) + QStringLiteral(".mp3");
    QTest::newRow("300 Japanese characters: 200 units, cut to 81")
        << QStringLiteral("/p") << QString(300, QChar(0x3042)) << QStringLiteral("/p/") + QString(81, QChar(0x3042)) + QStringLiteral(".mp3");
    QTest::newRow("no cut inside a surrogate pair")
        << QStringLiteral("/p") << QStringLiteral("a") + QString::fromUcs4(U"\U0001F3A7").repeated(100)
        << QStringLiteral("/p/a") + QString::fromUcs4(U"\U0001F3A7").repeated(60) + QStringLiteral(".mp3");
    QTest::newRow("243 bytes fit as they are")
        << QStringLiteral("/p") << QStringLiteral("a") + QString(121, QChar(0x0416))
        << QStringLiteral("/p/a") + QString(121, QChar(0x0416)) + QStringLiteral(".mp3");
    QTest::newRow("folder ending in the delimiter") << QStringLiteral("/p/") << QStringLiteral("Show")
                                                    << QStringLiteral("/p/Show.mp3");
    QTest::newRow("empty folder") << QString() << QStringLiteral("Show") << QStringLiteral("/Show.mp3");
    QTest::newRow("folder taken as it stands") << QStringLiteral(" /p ") << QStringLiteral("Show")
                                               << QStringLiteral(" /p /Show.mp3");
    QTest::newRow("always .mp3") << QStringLiteral("/p") << QStringLiteral("clip.m4a")
                                 << QStringLiteral("/p/clip.m4a.mp3");
}

void TestFileNaming::episodeFilePath()
{
    QFETCH(QString, folder);
    QFETCH(QString, title);
    QFETCH(QString, expected);
    QCOMPARE(::episodeFilePath(folder, title), expected);
}

void TestFileNaming::uniqueFileName_data()
{
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");

    QTest::newRow("free") << QStringList() << QStringLiteral("Show.mp3") << QStringLiteral("Show.mp3");
    QTest::newRow("taken") << QStringList{"Show.mp3"} << QStringLiteral("Show.mp3") << QStringLiteral("Show (2).mp3");
    QTest::newRow("two taken") << QStringList{"Show.mp3", "Show (2).mp3"} << QStringLiteral("Show.mp3")
                               << QStringLiteral("Show (3).mp3");
    QTest::newRow("from the base name, not the last candidate")
        << QStringList{"Show 5.mp3", "Show 5 (2).mp3", "Show 5 (3).mp3"} << QStringLiteral("Show 5.mp3")
        << QStringLiteral("Show 5 (4).mp3");
    QTest::newRow("a folder does not count") << QStringList{"Show.mp3/"} << QStringLiteral("Show.mp3")
                                             << QStringLiteral("Show.mp3");
    QTest::newRow("last dot only") << QStringList{"a.b.mp3"} << QStringLiteral("a.b.mp3")
                                   << QStringLiteral("a.b (2).mp3");
    QTest::newRow("no extension") << QStringList{"notes"} << QStringLiteral("notes") << QStringLiteral("notes (2)");
}

void TestFileNaming::uniqueFileName()
{
    QFETCH(QStringList, present);
    QFETCH(QString, name);
    QFETCH(QString, expected);

    QTemporaryDir dir;
    for (const QString &entry : present) {
        if (entry.endsWith(QLatin1Char('/')))
            QVERIFY(QDir(dir.path()).mkdir(entry.chopped(1)));
        else
            testhelpers::writeFileBytes(dir.filePath(entry), "x");
    }
    QCOMPARE(UniqueFileName(dir.filePath(name)), dir.filePath(expected));
}

void TestFileNaming::invalidCharactersInPath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("error");

    QTest::newRow("vertical bar") << QStringLiteral("/tmp/a|b") << QStringLiteral("Invalid characters in path");
    QTest::newRow("double quote") << QStringLiteral("/tmp/\"q\"") << QStringLiteral("Invalid characters in path");
    QTest::newRow("angle bracket") << QStringLiteral("/tmp/<x>") << QStringLiteral("Invalid characters in path");
    QTest::newRow("line break") << QStringLiteral("/tmp/a\nb") << QStringLiteral("Invalid characters in path");
    QTest::newRow("colon and star are fine in a folder") << QStringLiteral("/tmp/a:b*c") << kNoError;
}

void TestFileNaming::invalidCharactersInPath()
{
    QFETCH(QString, folder);
    QFETCH(QString, error);
    QCOMPARE(errorOf([&] { UniqueFileName(::episodeFilePath(folder, QStringLiteral("Show"))); }), error);
}

QTEST_GUILESS_MAIN(TestFileNaming)
#include "tst_filenaming.moc"
