// Logic of the application shell that needs no window: text decoding and the
// feed list file, the settings file, the data folder, the version record, the
// popup guard and the error box text.
#include "app/datafolder.h"
#include "base/errors.h"
#include "base/makerserver.h"
#include "base/popupguard.h"
#include "base/settings.h"
#include "base/textcodec.h"
#include "base/versioninfo.h"
#include "feeds/feedlistfile.h"
#include "platform/folders.h"
#include "platform/namedmutex.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "testhelpers.h"

using testhelpers::readFileBytes;
using testhelpers::writeFileBytes;

class TestAppCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void errorBoxText_data();
    void errorBoxText();

    void lineEnds_data();
    void lineEnds();
    void decodeTextCrLfFallback_data();
    void decodeTextCrLfFallback();
    void textInPieces_data();
    void textInPieces();
    void longTextInPieces();
    void feedListReading_data();
    void feedListReading();
    void feedListRoundTrip();
    void feedListMerge_data();
    void feedListMerge();
    void feedListBadInput_data();
    void feedListBadInput();

    void settingsFormat();
    void settingsReading();
    void settingsInvalidUtf8_data();
    void settingsInvalidUtf8();
    void settingsOwnerOnlyAndAtomic();

    void dataFolder();
    void versionRecord();
    void versionRecordMissing();
    void popupGuard();
    void makerHost();
    void namedMutex();
};

void TestAppCore::errorBoxText_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("shown");
    QTest::newRow("letter") << "Connection refused" << "Connection refused.";
    QTest::newRow("exclamation") << "Invalid RSS!" << "Invalid RSS!";
    QTest::newRow("parenthesis") << "failed (404)" << "failed (404)";
    QTest::newRow("full stop") << "Done." << "Done.";
    QTest::newRow("digit") << "HTTP/1.1 404" << "HTTP/1.1 404.";
    QTest::newRow("slash is above the full stop") << "path/" << "path/.";
    QTest::newRow("comma is below") << "a," << "a,";
    QTest::newRow("empty") << "" << "";
}

void TestAppCore::errorBoxText()
{
    QFETCH(QString, message);
    QFETCH(QString, shown);
    QCOMPARE(::errorBoxText(message), shown);
}

void TestAppCore::lineEnds_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("normalized");
    QTest::newRow("empty") << "" << "";
    QTest::newRow("one line") << "a" << "a\r\n";
    QTest::newRow("lf") << "a\nb\n" << "a\r\nb\r\n";
    QTest::newRow("lone cr") << "a\rb" << "a\r\nb\r\n";
    QTest::newRow("cr lf kept") << "a\r\n\r\nb" << "a\r\n\r\nb\r\n";
    QTest::newRow("lf cr is two breaks") << "a\n\rb" << "a\r\n\r\nb\r\n";
    QTest::newRow("only a break") << "\n" << "\r\n";
    QTest::newRow("nul cuts") << QString::fromUtf16(u"ab\r\ncd\0ef\n", 10) << "ab\r\ncd\r\n";
    QTest::newRow("nul first") << QString(QChar(u'\0')) + "x" << "";
    QTest::newRow("byte-order mark inside") << u"a\n\uFEFFb"_qs << u"a\r\n\uFEFFb\r\n"_qs;
    QTest::newRow("non-ascii around breaks") << u"é\r\n€\rü\n\u4E2D\U0001F600"_qs << u"é\r\n€\r\nü\r\n\u4E2D\U0001F600\r\n"_qs;
}

void TestAppCore::lineEnds()
{
    QFETCH(QString, text);
    QFETCH(QString, normalized);
    QCOMPARE(normalizeLineEnds(text), normalized);
    QCOMPARE(decodeTextCrLf(text.toUtf8()), normalized);
    QCOMPARE(decodeTextCrLf("\xEF\xBB\xBF" + text.toUtf8()), normalized);
    // The one-pass form and the split-and-join form agree.
    QCOMPARE(joinLinesCrLf(splitLines(text)), normalized);
}

void TestAppCore::decodeTextCrLfFallback_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("windows-1252") << QByteArray("caf\xE9\nna\xEFve") << u"café\r\nnaïve\r\n"_qs;
    QTest::newRow("invalid after a NUL still counts") << QByteArray("ok\n\0\xFF", 5) << "ok\r\n";
    QTest::newRow("utf16le") << QByteArray("\xFF\xFE" "a\0\n\0b\0", 8) << "a\r\nb\r\n";
    QTest::newRow("two of three bytes at the end") << QByteArray("a\n\xE2\x82") << u"a\r\nâ\u201A\r\n"_qs;
    QTest::newRow("complete sequence at the end") << QByteArray("a\n\xE2\x82\xAC") << u"a\r\n€\r\n"_qs;
    QTest::newRow("cut-off sequence before ascii") << QByteArray("\xC3" "a\n\xC3\xA9") << u"Ãa\r\nÃ©\r\n"_qs;
    QTest::newRow("stray continuation byte") << QByteArray("a\x80z") << u"a€z\r\n"_qs;
    QTest::newRow("truncated sequence at the end") << QByteArray("a\n\xC3") << u"a\r\nÃ\r\n"_qs;
}

void TestAppCore::decodeTextCrLfFallback()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(decodeTextCrLf(bytes), text);
    QCOMPARE(decodeTextCrLf(bytes), normalizeLineEnds(decodeText(bytes)));
}

void TestAppCore::textInPieces_data()
{
    QTest::addColumn<QByteArray>("bytes");
    const QByteArray longLine = QByteArray("<item><title>") + QByteArray(40, 'x') + "</title></item>";
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("ascii lines") << QByteArray("ab\r\ncd\ref\ngh");
    QTest::newRow("cr lf at every place") << QByteArray("\r\n\r\r\n\n\r");
    QTest::newRow("long lines past 16-byte blocks") << longLine + "\n" + longLine + "\r\n" + longLine;
    QTest::newRow("byte-order mark alone") << QByteArray("\xEF\xBB\xBF");
    QTest::newRow("byte-order mark and text") << QByteArray("\xEF\xBB\xBF" "a\nb");
    QTest::newRow("start of a byte-order mark") << QByteArray("\xEF\xBB");
    QTest::newRow("start of a mark, then ascii") << QByteArray("\xEF\xBB" "a");
    QTest::newRow("two byte-order marks") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF" "a");
    QTest::newRow("three byte-order marks") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF" "a");
    QTest::newRow("two marks then invalid") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\xEF\xBB\xBF" "a\xFF");
    QTest::newRow("mark at the start without a first") << QByteArray("\xC3\xA9\xEF\xBB\xBF" "a");
    QTest::newRow("multi-byte runs") << QByteArray("caf\xC3\xA9 \xE2\x82\xAC\xE2\x82\xAC\n\xF0\x9F\x98\x80");
    QTest::newRow("windows-1252 after utf-8 and breaks") << QByteArray("\xC3\xA9\r\n\r\xEF\xBB\xBFx\ncaf\xE9\r");
    QTest::newRow("mark then invalid") << QByteArray("\xEF\xBB\xBF" "a\r\n\xFF\xC3\xA9");
    QTest::newRow("nul then valid") << QByteArray("a\r\0\xC3\xA9\n", 7);
    QTest::newRow("nul then invalid") << QByteArray("\xC3\xA9\n\0\xC3", 6);
    QTest::newRow("nul after a line without a break") << QByteArray("ab\0cd", 5);
    QTest::newRow("utf-16le") << QByteArray("\xFF\xFE" "a\0\r\0\n\0\xE9\0", 10);
    QTest::newRow("utf-16be") << QByteArray("\xFE\xFF" "\0a\0\n", 6);
    QTest::newRow("cut-off sequence at the end") << QByteArray("ab\n\xE2\x82");
}

// Whatever the pieces the bytes arrive in, the text is the one the general
// decoding gives for all of them at once.
void TestAppCore::textInPieces()
{
    QFETCH(QByteArray, bytes);
    const QString expected = normalizeLineEnds(decodeText(bytes));
    QCOMPARE(decodeTextCrLf(bytes), expected);

    // With blocks of one character, every piece starts a block of its own:
    // the text across block boundaries must be the same.
    for (const qsizetype blockChars : {CrLfTextBuilder::kDefaultBlockChars, qsizetype(1)}) {
        auto build = [&bytes, blockChars](const QList<qsizetype> &cuts, bool reserve) {
            CrLfTextBuilder builder(blockChars);
            if (reserve)
                builder.reserveFor(bytes.size());
            qsizetype from = 0;
            for (qsizetype cut : cuts) {
                builder.append(QByteArrayView(bytes).sliced(from, cut - from));
                from = cut;
            }
            builder.append(QByteArrayView(bytes).sliced(from));
            return builder.take();
        };
        for (qsizetype i = 0; i <= bytes.size(); ++i) {
            for (qsizetype j = i; j <= bytes.size(); ++j)
                QVERIFY2(build({i, j}, (i + j) % 2 == 0) == expected,
                         qPrintable(QStringLiteral("blocks of %1, cut at %2 and %3").arg(blockChars).arg(i).arg(j)));
        }
        QList<qsizetype> everyByte;
        for (qsizetype i = 1; i < bytes.size(); ++i)
            everyByte.append(i);
        QCOMPARE(build(everyByte, false), expected);
    }

    // A builder is empty again after take().
    CrLfTextBuilder builder;
    builder.append(bytes);
    QCOMPARE(builder.take(), expected);
    builder.append("z");
    QCOMPARE(builder.take(), QStringLiteral("z\r\n"));
}

// A text longer than a block, arriving as a feed does: the blocks joined give
// the text of the bytes decoded at once.
void TestAppCore::longTextInPieces()
{
    QByteArray bytes;
    const QByteArray line = QByteArray("<item><title>caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80</title></item>");
    while (bytes.size() < 3 * CrLfTextBuilder::kDefaultBlockChars)
        bytes += line + (bytes.size() % 3 == 0 ? "\r\n" : "\n");
    bytes += line;  // no final line break
    const QString expected = decodeTextCrLf(bytes);
    QVERIFY(expected.size() > 2 * CrLfTextBuilder::kDefaultBlockChars);
    QVERIFY(expected.endsWith(QStringLiteral("</item>\r\n")));

    CrLfTextBuilder builder;
    // Uneven pieces, so sequences and CR LF pairs are cut at every kind of place.
    for (qsizetype from = 0, step = 1; from < bytes.size(); from += step, step = step * 7 % 65521 + 1)
        builder.append(QByteArrayView(bytes).sliced(from, qMin(step, bytes.size() - from)));
    const QString text = builder.take();
    QCOMPARE(text.size(), expected.size());
    QVERIFY(text == expected);
}

void TestAppCore::feedListReading_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("rows");
    const QStringList ab{"a", "b"};
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("bom only") << QByteArray("\xEF\xBB\xBF") << QStringList();
    QTest::newRow("utf8 bom crlf") << QByteArray("\xEF\xBB\xBF" "a\r\nb\r\n") << ab;
    QTest::newRow("lf") << QByteArray("a\nb\n") << ab;
    QTest::newRow("lone cr") << QByteArray("a\rb") << ab;
    QTest::newRow("mixed, no final break") << QByteArray("a\r\n\rb") << ab;
    QTest::newRow("empty lines dropped") << QByteArray("\r\n\r\na\n\n\nb\r\n\r\n") << ab;
    QTest::newRow("blank line kept") << QByteArray("a\n   \nb\n") << QStringList{"a", "   ", "b"};
    QTest::newRow("blanks around kept") << QByteArray(" http://x \r\n") << QStringList{" http://x "};
    QTest::newRow("nul ends the text") << QByteArray("a\nb\0c\nd\n", 8) << QStringList{"a", "b"};
    QTest::newRow("utf8 without bom") << QByteArray("http://é.example/ü\n") << QStringList{u"http://é.example/ü"_qs};
    QTest::newRow("windows-1252 accents") << QByteArray("caf\xE9\r\n\x80uro\r\n")
                                          << QStringList{u"café"_qs, u"€uro"_qs};
    QTest::newRow("utf16le bom") << QByteArray("\xFF\xFE" "a\0\r\0\n\0b\0", 10) << ab;
    QTest::newRow("utf16be bom") << QByteArray("\xFE\xFF\0a\0\n\0b", 8) << ab;
    QTest::newRow("utf8 bom, invalid after it") << QByteArray("\xEF\xBB\xBF" "a\xFF\nb")
                                                << QStringList{u"a\uFFFD"_qs, "b"};
}

void TestAppCore::feedListReading()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    writeFileBytes(path, bytes);
    QCOMPARE(readFeedListFile(path), rows);
}

void TestAppCore::feedListMerge_data()
{
    // What this copy read (base), what it shows after its change (mine),
    // what the file holds now that another copy wrote it (theirs).
    QTest::addColumn<QStringList>("base");
    QTest::addColumn<QStringList>("mine");
    QTest::addColumn<QStringList>("theirs");
    QTest::addColumn<QStringList>("merged");

    const QStringList ab{"a", "b"};
    QTest::newRow("nothing changed") << ab << ab << ab << ab;
    QTest::newRow("only this copy added") << ab << QStringList{"a", "b", "m"} << ab << QStringList{"a", "b", "m"};
    QTest::newRow("both added") << QStringList{"a"} << QStringList{"a", "m"} << QStringList{"a", "t"}
                                << QStringList{"a", "t", "m"};
    QTest::newRow("this deleted, the other added") << ab << QStringList{"b"} << QStringList{"a", "b", "t"}
                                                   << QStringList{"b", "t"};
    QTest::newRow("the other deleted, this added") << ab << QStringList{"a", "b", "m"} << QStringList{"b"}
                                                   << QStringList{"b", "m"};
    QTest::newRow("both deleted, different rows") << QStringList{"a", "b", "c"} << QStringList{"a", "c"}
                                                  << QStringList{"a", "b"} << QStringList{"a"};
    QTest::newRow("both deleted the same row") << ab << QStringList{"b"} << QStringList{"b"} << QStringList{"b"};
    QTest::newRow("cleared here, added there") << ab << QStringList() << QStringList{"a", "b", "t"}
                                               << QStringList{"t"};
    QTest::newRow("the second of two equal rows deleted")
        << QStringList{"x", "y", "x"} << QStringList{"x", "y"} << QStringList{"x", "y", "x", "t"}
        << QStringList{"x", "y", "t"};
    QTest::newRow("the first of two equal rows deleted")
        << QStringList{"x", "y", "x"} << QStringList{"y", "x"} << QStringList{"x", "y", "x"}
        << QStringList{"y", "x"};
    QTest::newRow("reordered by hand there") << ab << QStringList{"a", "b", "m"} << QStringList{"b", "a"}
                                             << QStringList{"b", "a", "m"};
    QTest::newRow("deleted there, added again here") << ab << QStringList{"a", "b", "a"} << QStringList{"b"}
                                                     << QStringList{"b", "a"};
}

void TestAppCore::feedListMerge()
{
    QFETCH(QStringList, base);
    QFETCH(QStringList, mine);
    QFETCH(QStringList, theirs);
    QFETCH(QStringList, merged);
    QCOMPARE(mergeFeedLists(base, mine, theirs), merged);
}

void TestAppCore::feedListRoundTrip()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    // Written by another editor: LF line ends, an empty line, Windows-1252 text.
    writeFileBytes(path, QByteArray("http://a.example/caf\xE9\n\n  \nhttp://b.example\n"));
    const QStringList rows = readFeedListFile(path);
    writeFeedListFile(path, rows);
    QCOMPARE(readFileBytes(path), QByteArray("\xEF\xBB\xBF" "http://a.example/caf\xC3\xA9\r\n  \r\nhttp://b.example\r\n"));
    QCOMPARE(readFeedListFile(path), rows);

    writeFeedListFile(path, {});
    QCOMPARE(readFileBytes(path), QByteArray("\xEF\xBB\xBF"));

    // A folder in the way of the file: the error carries the file's name.
    QDir(dir.path()).mkdir("blocked.txt");
    QVERIFY_THROWS_EXCEPTION(AppError, writeFeedListFile(dir.filePath("blocked.txt"), {"x"}));
    QVERIFY_THROWS_EXCEPTION(AppError, readFeedListFile(dir.filePath("absent.txt")));
}

void TestAppCore::feedListBadInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("rows");
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919 + 13) & 0xff);
    QTest::newRow("binary") << binary << -1;
    QByteArray huge;
    huge.reserve(30 * 1000 * 1000);
    for (int i = 0; i < 600000; ++i)
        huge += "http://feeds.example/podcast/" + QByteArray::number(i) + "/rss.xml?lang=en&x=yyyyy\r\n";
    QTest::newRow("tens of MB") << huge << 600000;
    QTest::newRow("truncated utf8 sequence") << QByteArray("http://a\r\nhttp://\xC3") << 2;
    QTest::newRow("odd utf16 length") << QByteArray("\xFF\xFE" "a\0\n\0b", 7) << 2;
}

void TestAppCore::feedListBadInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, rows);
    QTemporaryDir dir;
    const QString path = dir.filePath("list.txt");
    writeFileBytes(path, bytes);
    const QStringList read = readFeedListFile(path);
    if (rows >= 0)
        QCOMPARE(read.size(), rows);
    for (const QString &row : read)
        QVERIFY(!row.isEmpty() && !row.contains(QChar(u'\r')) && !row.contains(QChar(u'\n')));
}

void TestAppCore::settingsFormat()
{
    QTemporaryDir dir;
    IniDocument ini(dir.filePath("settings.ini"));
    ini.setValue("Settings", "DownloadLocation", "/home/u/Desktop");
    ini.setValue("Settings", "OpenAIKey", "sk-1");
    ini.setValue("settings", "downloadlocation", "/home/u/Müzik"); // same key, other case
    ini.save();
    QCOMPARE(readFileBytes(ini.fileName()),
             QByteArray("\xEF\xBB\xBF[Settings]\r\nDownloadLocation=/home/u/M\xC3\xBCzik\r\nOpenAIKey=sk-1\r\n\r\n"));
}

void TestAppCore::settingsReading()
{
    IniDocument ini;
    QVERIFY(ini.parse("; a comment\n   ;another\n[SETTINGS]\nopenaikey=sk=with=equals\n"
                      "downloadlocation = /tmp/x \nnot a pair\n[Other]\nK=v\n"));
    QCOMPARE(ini.value("Settings", "OpenAIKey"), "sk=with=equals");
    QCOMPARE(ini.value("settings", "DownloadLocation"), " /tmp/x ");
    QCOMPARE(ini.value("Settings", "Missing", "dflt"), "dflt");
    QCOMPARE(ini.value("other", "k"), "v");
    // Keys stay in the order first stored, under the spelling first seen.
    ini.setValue("Settings", "New", "n");
    QCOMPARE(ini.serialize(), QByteArray("\xEF\xBB\xBF[SETTINGS]\r\nopenaikey=sk=with=equals\r\n"
                                         "downloadlocation= /tmp/x \r\nNew=n\r\n\r\n[Other]\r\nK=v\r\n\r\n"));
}

void TestAppCore::settingsInvalidUtf8_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("windows-1252 accent") << QByteArray("[Settings]\r\nDownloadLocation=C:\\M\xFCzik\r\n");
    QTest::newRow("utf16") << QByteArray("\xFF\xFE[\0S\0]\0", 8);
    QTest::newRow("binary") << QByteArray("\x00\xFF\xFE\x80\x81", 5);
}

void TestAppCore::settingsInvalidUtf8()
{
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    IniDocument ini(dir.filePath("settings.ini"));
    writeFileBytes(ini.fileName(), bytes);
    QVERIFY_THROWS_EXCEPTION(AppError, ini.load());
}

void TestAppCore::settingsOwnerOnlyAndAtomic()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("settings.ini");
    writeFileBytes(path, "old");
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther
                                    | QFileDevice::ReadGroup);
    IniDocument ini(path);
    ini.setValue("Settings", "OpenAIKey", "secret");
    ini.save();
    QCOMPARE(QFile::permissions(path) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);
    // No temporary file is left beside it.
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"settings.ini"});

    const QString fresh = dir.filePath("fresh.ini");
    IniDocument(fresh).save();
    QCOMPARE(QFile::permissions(fresh) & (QFileDevice::ReadOther | QFileDevice::ReadGroup), QFileDevice::Permissions());
}

void TestAppCore::dataFolder()
{
    QTemporaryDir program, config;
    AppIdentity id;
    id.companyName = "ZANTERO";
    id.productName = "Morvane";

    QVERIFY(IsFolderWritable(program.path()));
    QVERIFY(!QFile::exists(program.filePath("chk.tmp")));
    QCOMPARE(chooseDataFolder(program.path(), id, config.path()), program.path() + "/");
    QVERIFY(!QFile::exists(config.filePath("ZANTERO")));

    // A chk.tmp in the way: the per-user folder is used and created, and the
    // file in the way is left alone.
    writeFileBytes(program.filePath("chk.tmp"), "mine");
    QVERIFY(!IsFolderWritable(program.path()));
    QCOMPARE(chooseDataFolder(program.path(), id, config.path()), config.path() + "/ZANTERO/Morvane/");
    QVERIFY(QFileInfo(config.filePath("ZANTERO/Morvane")).isDir());
    QCOMPARE(readFileBytes(program.filePath("chk.tmp")), QByteArray("mine"));
    // Created folders that exist already are fine.
    QCOMPARE(chooseDataFolder(program.path(), id, config.path()), config.path() + "/ZANTERO/Morvane/");
    // A new account without a config folder yet gets it made too.
    const QString fresh = config.filePath("home/.config");
    QCOMPARE(chooseDataFolder(program.path(), id, fresh), fresh + "/ZANTERO/Morvane/");
    QVERIFY(QFileInfo(fresh + "/ZANTERO/Morvane").isDir());

    QVERIFY(!IsFolderWritable(program.filePath("does/not/exist")));

    // An installed program keeps its data per user, root's included.
    QCOMPARE(chooseDataFolder(QStringLiteral("/usr/lib/morvane"), id, config.path()),
             config.path() + "/ZANTERO/Morvane/");
}

void TestAppCore::versionRecord()
{
    const VersionInfo info = ReadVersionInfo(QCoreApplication::applicationFilePath());
    QCOMPARE(info.strings.CompanyName, "ZANTERO");
    QCOMPARE(info.strings.ProductName, "Morvane");
    QCOMPARE(info.strings.FileDescription, "Morvane");
    QCOMPARE(info.strings.InternalName, "Morvane");
    QCOMPARE(info.strings.FileVersion, "3.1.0.0");
    QCOMPARE(info.strings.ProductVersion, "3.1.0.0");
    QCOMPARE(info.strings.LegalCopyright, QString());
    QCOMPARE(info.fileVersionMS, quint32(3u << 16 | 1u));
    QCOMPARE(info.fileVersionLS, quint32(0));
    const AppIdentity id = AppIdentity::fromVersionInfo(info);
    QCOMPARE(id.title, "ZANTERO - Morvane");
    QCOMPARE(id.version, "3.1");

    VersionInfo other;
    other.fileVersionMS = 12u << 16 | 345u;
    QCOMPARE(AppIdentity::fromVersionInfo(other).version, "12.345");
}

void TestAppCore::versionRecordMissing()
{
    QTemporaryDir dir;
    writeFileBytes(dir.filePath("text"), "not an executable");
    writeFileBytes(dir.filePath("truncated"), readFileBytes(QCoreApplication::applicationFilePath()).left(100));
    QVERIFY_THROWS_EXCEPTION(AppError, ReadVersionInfo(dir.filePath("text")));
    QVERIFY_THROWS_EXCEPTION(AppError, ReadVersionInfo(dir.filePath("truncated")));
    QVERIFY_THROWS_EXCEPTION(AppError, ReadVersionInfo(dir.filePath("absent")));
    // An executable without a record: the shell.
    QVERIFY_THROWS_EXCEPTION(AppError, ReadVersionInfo("/bin/sh"));
}

void TestAppCore::popupGuard()
{
    int button = 0, menu = 0, otherButton = 0;
    PopupGuard guard;
    QVERIFY(guard.mayOpen(&button, &menu, 1000));
    guard.closed(&button, &menu, 1000);
    QVERIFY(guard.mayOpen(&otherButton, &menu, 1010)); // another button opens
    QVERIFY(!guard.mayOpen(&button, &menu, 1099));     // the closing click
    QVERIFY(guard.mayOpen(&button, &menu, 1099));      // refused once only
    guard.closed(&button, &menu, 2000);
    QVERIFY(guard.mayOpen(&button, &menu, 2100)); // 100 ms is late enough
    // Across the wrap-around of the 32-bit tick count.
    guard.closed(&button, &menu, 0xFFFFFFF0u);
    QVERIFY(!guard.mayOpen(&button, &menu, 0x00000010u));
    guard.closed(&button, &menu, 0xFFFFFFF0u);
    QVERIFY(guard.mayOpen(&button, &menu, 0x00000060u));
}

void TestAppCore::makerHost()
{
    const QByteArray saved = qgetenv("MORVANE_MAKER_HOST");
    qunsetenv("MORVANE_MAKER_HOST");
    QVERIFY(::makerHost().endsWith(".example"));
    qputenv("MORVANE_MAKER_HOST", "127.0.0.1:8080");
    QCOMPARE(onlineHelpUrl("Morvane"), "http://127.0.0.1:8080/help/morvane/");
    QCOMPARE(onlineHelpUrl("Big Pod Tool"), "http://127.0.0.1:8080/help/big-pod-tool/");
    QVERIFY(hasMakerServer());
    for (const char *placeholder : {"www.zantero.example", "zantero.example:8080", "EXAMPLE", "a.b.Example."})
        QVERIFY2(isPlaceholderHost(placeholder), placeholder);
    for (const char *real : {"127.0.0.1:9", "www.zantero.com", "example.com", "www.example.org:80", "notexample", "[::1]:80"})
        QVERIFY2(!isPlaceholderHost(real), real);
    qputenv("MORVANE_MAKER_HOST", "www.zantero.example");
    QVERIFY(!hasMakerServer());
    qputenv("MORVANE_MAKER_HOST", saved);
}

void TestAppCore::namedMutex()
{
    QTemporaryDir runtime;
    const QByteArray saved = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    const QString lockFile = runtime.filePath("ZANTERO_Morvane.lock");
    {
        auto first = std::make_unique<NamedMutex>("ZANTERO_Morvane");
        NamedMutex second("ZANTERO_Morvane"); // a second copy still starts
        QVERIFY(first->isHeld());
        QVERIFY(second.isHeld());
        QCOMPARE(first->path(), lockFile);
        // While copies run side by side the file stays; the last one removes it.
        first.reset();
        QVERIFY(QFile::exists(lockFile));
        NamedMutex third("ZANTERO_Morvane");
        QVERIFY(third.isHeld());
    }
    QVERIFY(!QFile::exists(lockFile));

    // A file left behind by a copy that crashed is taken over, and removed at the end.
    writeFileBytes(lockFile, QByteArray());
    {
        NamedMutex again("ZANTERO_Morvane");
        QVERIFY(again.isHeld());
    }
    QVERIFY(!QFile::exists(lockFile));
    qputenv("XDG_RUNTIME_DIR", saved);
}

QTEST_GUILESS_MAIN(TestAppCore)
#include "tst_appcore.moc"
