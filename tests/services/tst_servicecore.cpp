// The maker services without a window: the reply reader, the stored form of
// the download link, the failure record, the https-then-http request, the
// per-user store, the installation's identity and the update check itself,
// against the local test servers standing in for the maker's server.
#include "base/errors.h"
#include "net/postform.h"
#include "net/servicerequest.h"
#include "services/check.h"
#include "services/identity.h"
#include "services/servicesettings.h"
#include "testhelpers.h"
#include "testserver.h"

#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QUrlQuery>

#include <memory>

using testhelpers::errorOf;
using testhelpers::writeFileBytes;

namespace {

using testhelpers::fieldsOf;

const QString kPath = QStringLiteral("/php/check2.php");
// A port on which nothing listens: every attempt is refused.
const QString kDeadHost = QStringLiteral("127.0.0.1:9");

QString hostOf(const TestServer &server)
{
    return QStringLiteral("127.0.0.1:%1").arg(server.port());
}

} // namespace

class TestServiceCore : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();

    void extractTagValue_data();
    void extractTagValue();
    void replyLines_data();
    void replyLines();
    void scrambleRoundTrip_data();
    void scrambleRoundTrip();
    void unscrambleRefusesOrIgnores_data();
    void unscrambleRefusesOrIgnores();
    void diagnosticsAddAndClear();

    void requestFallback_data();
    void requestFallback();

    void storeReadsText_data();
    void storeReadsText();
    void storeWritesText();
    void storeInTheUsersConfigFolder();

    void machineGuid_data();
    void machineGuid();
    void osDescription_data();
    void osDescription();
    void localeName_data();
    void localeName();

    void checkSendsIdentity();
    void checkDecisions_data();
    void checkDecisions();
    void checkKeepsStoredLinkWithoutUrlLine();
    void checkNotice_data();
    void checkNotice();

private:
    UpdateCheckSetup setupFor(const QString &host) const;
    ServiceSettings store() const { return ServiceSettings(m_dir->filePath("Morvane.conf")); }

    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestServiceCore::initTestCase()
{
    // Nothing here may reach the user's own configuration.
    QStandardPaths::setTestModeEnabled(true);
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestServiceCore::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

UpdateCheckSetup TestServiceCore::setupFor(const QString &host) const
{
    UpdateCheckSetup setup;
    setup.appTitle = QStringLiteral("ZANTERO - Morvane");
    setup.version = QStringLiteral("2.0");
    setup.address = updateCheckAddress(host);
    setup.settingsFile = store().fileName();
    setup.machineIdFile = m_dir->filePath("no-machine-id");
    setup.locale = QLocale::c();
    setup.today = QDate(2026, 12, 10);
    setup.timeoutMs = 3000;
    return setup;
}

// ---- reading replies ---------------------------------------------------------

void TestServiceCore::extractTagValue_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("value");
    QTest::newRow("value") << "<version>1.5</version>" << "version" << "1.5";
    QTest::newRow("tag asked in upper case") << "<version>1.5</version>" << "VERSION" << "1.5";
    QTest::newRow("leading blank") << " <version>1.5</version>" << "version" << "";
    QTest::newRow("trailing blank") << "<version>1.5</version> " << "version" << "";
    QTest::newRow("tags in upper case") << "<VERSION>1.5</VERSION>" << "version" << "";
    QTest::newRow("nothing between") << "<version></version>" << "version" << "";
    QTest::newRow("other tag") << "<url>1.5</url>" << "version" << "";
    QTest::newRow("blanks inside kept") << "<important>  Read  </important>" << "important" << "  Read  ";
    QTest::newRow("empty line") << "" << "version" << "";
    QTest::newRow("empty tag") << "<>x</>" << "" << "";
    QTest::newRow("only the opening tag") << "<url>" << "url" << "";
}

void TestServiceCore::extractTagValue()
{
    QFETCH(QString, line);
    QFETCH(QString, tag);
    QFETCH(QString, value);
    QCOMPARE(ExtractTagValue(line, tag), value);
}

void TestServiceCore::replyLines_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty") << "" << QStringList();
    QTest::newRow("CR LF, LF, CR") << "a\r\nb\nc\rd" << QStringList{"a", "b", "c", "d"};
    QTest::newRow("final break adds no line") << "a\r\n" << QStringList{"a"};
    QTest::newRow("blank lines kept") << "a\n\n\r\nb\n" << QStringList{"a", "", "", "b"};
    QTest::newRow("LF CR is two breaks") << "a\n\rb" << QStringList{"a", "", "b"};
}

void TestServiceCore::replyLines()
{
    QFETCH(QString, reply);
    QFETCH(QStringList, lines);
    QCOMPARE(::replyLines(reply), lines);
}

// ---- the stored form of the link ----------------------------------------------

void TestServiceCore::scrambleRoundTrip_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII URL") << "https://downloads.example/morvane-3.2.tar.gz";
    QTest::newRow("non-ASCII") << "https://örnek.example/indir/sürüm 3.2 – ünlü 🎧";
    QTest::newRow("one character") << "x";
    QTest::newRow("empty") << "";
}

void TestServiceCore::scrambleRoundTrip()
{
    QFETCH(QString, text);
    const QString stored = ScrambleText(text);
    QCOMPARE(stored.size(), text.toUtf8().size() * 2);
    for (const QChar c : stored)
        QVERIFY2(QStringLiteral("0123456789ABCDEF").contains(c), qPrintable(stored));
    // The stored text does not show the link in clear.
    if (text.size() > 4)
        QVERIFY(!QByteArray::fromHex(stored.toLatin1()).contains(text.left(4).toUtf8()));
    QCOMPARE(UnscrambleText(stored), text);
    QCOMPARE(UnscrambleText(stored.toLower()), text);
}

void TestServiceCore::unscrambleRefusesOrIgnores_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("text");
    const QString url = QStringLiteral("https://a.example/");
    const QString good = ScrambleText(url);
    QTest::newRow("empty") << "" << "";
    QTest::newRow("not hexadecimal in one pair") << good.left(6) + "G" + good.mid(7) << "";
    QTest::newRow("a blank in a pair") << good.left(4) + " " + good.mid(5) << "";
    QTest::newRow("a sign in a pair") << "+" + good.mid(1) << "";
    QTest::newRow("final odd character ignored") << good + "7" << url;
}

void TestServiceCore::unscrambleRefusesOrIgnores()
{
    QFETCH(QString, stored);
    QFETCH(QString, text);
    QCOMPARE(UnscrambleText(stored), text);
}

void TestServiceCore::diagnosticsAddAndClear()
{
    ServiceDiagnostics d;
    QVERIFY(!d.hasError());
    d.add(QStringLiteral(" \t\r\n"));
    QVERIFY(!d.hasError());
    QCOMPARE(d.text(), QString());
    d.add(QStringLiteral("Error: Registry open problem!"));
    QVERIFY(d.hasError());
    d.add(QStringLiteral("  "));
    d.add(QStringLiteral(" HTTPS Response:\rrefused "));
    QCOMPARE(d.text(), QStringLiteral("Error: Registry open problem!\r\r HTTPS Response:\rrefused "));
    d.clear();
    QVERIFY(!d.hasError());
    QCOMPARE(d.text(), QString());
    // A blank message leaves a set flag as it was.
    d.add(QStringLiteral("INVALIDSERVERRESPONSE"));
    d.add(QString());
    QVERIFY(d.hasError());
}

// ---- https, then http ------------------------------------------------------------

void TestServiceCore::requestFallback_data()
{
    QTest::addColumn<QString>("server");      // "https", "http" or "none"
    QTest::addColumn<bool>("errorBefore");    // a failure recorded before the request
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("error");
    QTest::addColumn<QStringList>("recordedPrefixes");
    QTest::newRow("https answers") << "https" << false << "<version>3.2</version>" << false << QStringList();
    QTest::newRow("https answers, earlier failure kept")
        << "https" << true << "<version>3.2</version>" << true << QStringList{"Error: Registry open problem!"};
    QTest::newRow("http answers after https failed, record cleared")
        << "http" << true << "<version>3.2</version>" << false << QStringList();
    QTest::newRow("both fail") << "none" << false << "" << true
                               << QStringList{"HTTPS Response:\r", "HTTP Response:\r"};
}

void TestServiceCore::requestFallback()
{
    QFETCH(QString, server);
    QFETCH(bool, errorBefore);
    QFETCH(QString, reply);
    QFETCH(bool, error);
    QFETCH(QStringList, recordedPrefixes);

    std::unique_ptr<TestServer> maker;
    QString host = kDeadHost;
    if (server != QLatin1String("none")) {
        maker = std::make_unique<TestServer>(server == QLatin1String("https") ? TestServer::Https : TestServer::Http);
        maker->route(kPath, Response::ok("<version>3.2</version>"));
        host = hostOf(*maker);
    }
    ServiceDiagnostics d;
    if (errorBefore)
        d.add(QStringLiteral("Error: Registry open problem!"));
    const QStringList lines{"cmd=check", "appname=ZANTERO - Morvane"};
    QCOMPARE(serviceRequest(updateCheckAddress(host), lines, d, 3000), reply);
    QCOMPARE(d.hasError(), error);
    const QStringList recorded = d.text().isEmpty() ? QStringList() : d.text().split(QStringLiteral("\r\r"));
    QCOMPARE(recorded.size(), recordedPrefixes.size());
    for (int i = 0; i < recorded.size(); ++i)
        QVERIFY2(recorded.at(i).startsWith(recordedPrefixes.at(i)), qPrintable(recorded.at(i)));
    if (server == QLatin1String("none")) {
        // Each record carries the attempt's own message.
        const QString httpError = errorOf([&] { PostForm("http://" + updateCheckAddress(host), lines, 3000); });
        // Without the milliseconds the transport reports, which differ per attempt.
        static const QRegularExpression times(QStringLiteral("\\d+ ms"));
        QCOMPARE(QString(recorded.last()).replace(times, "N ms"),
                 QString(QStringLiteral("HTTP Response:\r") + httpError).replace(times, "N ms"));
    }
    if (maker) {
        const RecordedRequest got = maker->lastRequest(kPath);
        QCOMPARE(got.method, QByteArray("POST"));
        QCOMPARE(got.encrypted, server == QLatin1String("https"));
        QCOMPARE(fieldsOf(got.body), lines);
    }
}

// ---- the per-user store -----------------------------------------------------------

void TestServiceCore::storeReadsText_data()
{
    QTest::addColumn<QByteArray>("line"); // the ShowUpdate line of the file; empty: none
    QTest::addColumn<int>("showUpdate");
    QTest::newRow("0 as text") << QByteArray("ShowUpdate=0") << 0;
    QTest::newRow("1 as text") << QByteArray("ShowUpdate=1") << 1;
    QTest::newRow("missing") << QByteArray() << 1;
    QTest::newRow("empty") << QByteArray("ShowUpdate=") << 1;
    QTest::newRow("not a number") << QByteArray("ShowUpdate=yes") << 1;
    QTest::newRow("a list, not text") << QByteArray("ShowUpdate=0, 1") << 1;
    QTest::newRow("a stored number, not text") << QByteArray("ShowUpdate=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0)") << 1;
}

void TestServiceCore::storeReadsText()
{
    QFETCH(QByteArray, line);
    QFETCH(int, showUpdate);
    writeFileBytes(store().fileName(), "[Settings]\n" + line + "\nLastUpdateCheck=10/12/2026\n");
    store().open();
    QCOMPARE(store().readInteger("ShowUpdate", 1), showUpdate);
    QCOMPARE(store().readText("LastUpdateCheck"), QStringLiteral("10/12/2026"));
    QCOMPARE(store().readText("CurrentURL", "none"), QStringLiteral("none"));
}

void TestServiceCore::storeWritesText()
{
    // No file yet: an empty store, created on the first write.
    store().open();
    QCOMPARE(store().readInteger("LastUpdateCheckCount", 0), 0);
    store().writeInteger("LastUpdateCheckCount", 4);
    store().writeText("CurrentVersion", "3.2");
    QSettings raw(store().fileName(), QSettings::IniFormat);
    QCOMPARE(raw.value("Settings/LastUpdateCheckCount").typeId(), QMetaType::QString);
    QCOMPARE(raw.value("Settings/LastUpdateCheckCount").toString(), QStringLiteral("4"));
    QCOMPARE(store().readInteger("LastUpdateCheckCount", 0), 4);
    QCOMPARE(store().readText("CurrentVersion"), QStringLiteral("3.2"));

    // A file that is not a settings file cannot be opened.
    writeFileBytes(store().fileName(), "[Settings\n\xff\xfe=\n");
    QVERIFY(errorOf([&] { store().open(); }) != testhelpers::kNoError);
}

void TestServiceCore::storeInTheUsersConfigFolder()
{
    const QString expected = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                             + QStringLiteral("/ZANTERO/Morvane.conf");
    QCOMPARE(ServiceSettings::nativeFileName(), expected);
}

// ---- identity ------------------------------------------------------------------------

void TestServiceCore::machineGuid_data()
{
    QTest::addColumn<QByteArray>("content"); // "<none>": no file
    QTest::addColumn<QString>("guid");
    QTest::addColumn<bool>("error");
    // The app-specific id that systemd-id128 machine-id --app-specific gives for
    // our application id on a machine with this id.
    QTest::newRow("machine id") << QByteArray("3d1219c7c4c5404aaa1f6d2a48adfda4\n")
                                << "f4a46d75-8a00-4fa9-8333-df165a724e90" << false;
    QTest::newRow("no file") << QByteArray("<none>") << "" << false;
    QTest::newRow("empty file") << QByteArray() << "" << false;
    QTest::newRow("first boot") << QByteArray("uninitialized\n") << "" << false;
    QTest::newRow("not an id") << QByteArray("hello\n") << "" << true;
}

void TestServiceCore::machineGuid()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, guid);
    QFETCH(bool, error);
    const QString file = m_dir->filePath("machine-id");
    if (content != "<none>")
        writeFileBytes(file, content);
    QString got;
    const QString failure = errorOf([&] { got = ReadMachineGuid(file); });
    QCOMPARE(failure != testhelpers::kNoError, error);
    QCOMPARE(got, guid);
    // Never the raw id.
    if (!content.isEmpty())
        QVERIFY(!got.remove('-').contains(QString::fromLatin1(content.trimmed())));
}

void TestServiceCore::osDescription_data()
{
    QTest::addColumn<QString>("pretty");
    QTest::addColumn<QString>("release");
    QTest::addColumn<QString>("architecture");
    QTest::addColumn<QString>("description");
    QTest::newRow("Debian amd64") << "Debian GNU/Linux 12 (bookworm)" << "6.1.0-18-amd64" << "x86_64"
                                  << "Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, 64-bit Edition)";
    QTest::newRow("patch as build") << "Fedora Linux 40" << "6.8.11-300.fc40.x86_64" << "x86_64"
                                    << "Fedora Linux 40 (Version 6.8, Build 11, 64-bit Edition)";
    QTest::newRow("32-bit") << "Debian GNU/Linux 12 (bookworm)" << "6.1.0-18-686-pae" << "i386"
                            << "Debian GNU/Linux 12 (bookworm) (Version 6.1, Build 0, 32-bit Edition)";
    QTest::newRow("arm64, two numbers") << "Ubuntu 24.04 LTS" << "6.8-rc1" << "arm64"
                                        << "Ubuntu 24.04 LTS (Version 6.8, Build 0, 64-bit Edition)";
}

void TestServiceCore::osDescription()
{
    QFETCH(QString, pretty);
    QFETCH(QString, release);
    QFETCH(QString, architecture);
    QFETCH(QString, description);
    QCOMPARE(formatOsDescription(pretty, release, architecture), description);
}

void TestServiceCore::localeName_data()
{
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("name");
    QTest::newRow("en_US") << QLocale("en_US") << "en-US";
    QTest::newRow("de_AT") << QLocale("de_AT") << "de-AT";
    QTest::newRow("tr_TR") << QLocale("tr_TR") << "tr-TR";
    QTest::newRow("C") << QLocale::c() << "xx";
    QTest::newRow("POSIX") << QLocale("POSIX") << "xx";
}

void TestServiceCore::localeName()
{
    QFETCH(QLocale, locale);
    QFETCH(QString, name);
    QCOMPARE(UserLocaleName(locale), name);
}

// ---- the update check -------------------------------------------------------------------

void TestServiceCore::checkSendsIdentity()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("<version>2.0</version>\r\n<url>https://a.example/</url>\r\n"));
    UpdateCheckResults results;
    runUpdateCheck(setupFor(hostOf(maker)), results, {});
    QVERIFY2(!results.diagnostics.hasError(), qPrintable(results.diagnostics.text()));
    QCOMPARE(maker.requestCount(), 1);
    const RecordedRequest got = maker.lastRequest(kPath);
    QCOMPARE(fieldsOf(got.body), (QStringList{"cmd=check", "appname=ZANTERO - Morvane", "version=2.0",
                                              "os=" + OsDescription(), "local=xx", "guid="}));
    QVERIFY(OsDescription().endsWith("-bit Edition)"));
}

void TestServiceCore::checkDecisions_data()
{
    QTest::addColumn<QString>("lastCheck");   // "", "today" or "yesterday"
    QTest::addColumn<QString>("count");       // as stored
    QTest::addColumn<QString>("showUpdate");  // as stored; empty: not stored
    QTest::addColumn<QByteArray>("reply");    // "<down>": neither scheme answers
    QTest::addColumn<int>("requests");
    QTest::addColumn<QString>("countAfter");
    QTest::addColumn<bool>("announced");
    QTest::addColumn<QString>("storedVersion");

    const QByteArray v201 = "<version>2.0.1</version>\r\n<url>https://dl.example/2.0.1</url>\r\n";
    QTest::newRow("ShowUpdate 0: no request") << "" << "" << "0" << v201 << 0 << "" << false << "";
    QTest::newRow("first of the day") << "" << "" << "" << v201 << 1 << "1" << true << "2.0.1";
    QTest::newRow("fourth of the day") << "today" << "3" << "1" << v201 << 1 << "4" << true << "2.0.1";
    QTest::newRow("fifth of the day sends, announces nothing")
        << "today" << "4" << "1" << v201 << 1 << "5" << false << "2.0.1";
    QTest::newRow("sixth of the day sends nothing") << "today" << "5" << "1" << v201 << 0 << "5" << false << "";
    QTest::newRow("a new day starts at 1") << "yesterday" << "5" << "1" << v201 << 1 << "1" << true << "2.0.1";
    QTest::newRow("same version") << "" << "" << "" << QByteArray("<version>2.0</version>") << 1 << "1" << false
                                  << "2.0";
    QTest::newRow("lower version is announced too")
        << "" << "" << "" << QByteArray("<version>1.9</version>") << 1 << "1" << true << "1.9";
    QTest::newRow("not a number") << "" << "" << "" << QByteArray("<version>beta</version>") << 1 << "1" << false
                                  << "beta";
    QTest::newRow("no version line") << "" << "" << "" << QByteArray("hello") << 1 << "1" << false << "";
    QTest::newRow("reply starting with ERROR")
        << "today" << "2" << "" << QByteArray("ERROR\r\n<version>2.1</version>") << 1 << "2" << false << "";
    QTest::newRow("both schemes fail") << "today" << "2" << "" << QByteArray("<down>") << 0 << "2" << false << "";
}

void TestServiceCore::checkDecisions()
{
    QFETCH(QString, lastCheck);
    QFETCH(QString, count);
    QFETCH(QString, showUpdate);
    QFETCH(QByteArray, reply);
    QFETCH(int, requests);
    QFETCH(QString, countAfter);
    QFETCH(bool, announced);
    QFETCH(QString, storedVersion);

    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok(reply));
    UpdateCheckSetup setup = setupFor(reply == "<down>" ? kDeadHost : hostOf(maker));
    const QString today = dateText(setup.locale, setup.today);
    const QString yesterday = dateText(setup.locale, setup.today.addDays(-1));
    QVERIFY(today != yesterday);
    if (!lastCheck.isEmpty())
        store().writeText("LastUpdateCheck", lastCheck == "today" ? today : yesterday);
    if (!count.isEmpty())
        store().writeText("LastUpdateCheckCount", count);
    if (!showUpdate.isEmpty())
        store().writeText("ShowUpdate", showUpdate);

    UpdateCheckResults results;
    runUpdateCheck(setup, results, [](const QString &notice) { QFAIL(qPrintable("notice shown: " + notice)); });

    QCOMPARE(maker.requestCount(), requests);
    QCOMPARE(results.UpdateAvailable, announced);
    QCOMPARE(results.showUpdate, showUpdate == "0" ? 0 : 1);
    QCOMPARE(store().readText("LastUpdateCheckCount"), countAfter);
    const bool counted = requests == 1 && reply != "<down>" && !reply.startsWith("ERROR");
    QCOMPARE(store().readText("LastUpdateCheck"),
             counted ? today : (lastCheck.isEmpty() ? QString() : (lastCheck == "today" ? today : yesterday)));
    QCOMPARE(store().readText("CurrentVersion"), storedVersion);
    QCOMPARE(results.ReportedVersion, storedVersion);
    if (reply == "<down>" || reply.startsWith("ERROR"))
        QVERIFY(results.diagnostics.hasError());
    if (reply.startsWith("ERROR"))
        QVERIFY(results.diagnostics.text().endsWith("INVALIDSERVERRESPONSE"));
    if (announced)
        QCOMPARE(UnscrambleText(store().readText("CurrentURL")), results.DownloadLink);
}

void TestServiceCore::checkKeepsStoredLinkWithoutUrlLine()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("<version>3.0</version>\r\n"));
    const QString earlier = QStringLiteral("https://dl.example/earlier");
    store().writeText("CurrentURL", ScrambleText(earlier));
    UpdateCheckResults results;
    runUpdateCheck(setupFor(hostOf(maker)), results, {});
    QVERIFY(results.UpdateAvailable);
    QCOMPARE(results.DownloadLink, earlier);
    QCOMPARE(store().readText("CurrentURL"), ScrambleText(earlier));

    // A url line that is no url tag replaces the link with nothing.
    maker.route(kPath, Response::ok("<version>3.0</version>\r\nfree text\r\n"));
    UpdateCheckResults second;
    runUpdateCheck(setupFor(hostOf(maker)), second, {});
    QCOMPARE(second.DownloadLink, QString());
    QCOMPARE(store().readText("CurrentURL"), QString());
}

void TestServiceCore::checkNotice_data()
{
    QTest::addColumn<QString>("line5");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("padded notice shown with its blanks")
        << "<important>  Please update: security fix  </important>"
        << QStringList{"  Please update: security fix  "};
    QTest::newRow("blank notice not shown") << "<important> \t </important>" << QStringList();
    QTest::newRow("no notice") << "" << QStringList();
    QTest::newRow("markup kept as written")
        << "<important><a href=\"file:///etc/passwd\">CLICKME</a> <b>now</b></important>"
        << QStringList{"<a href=\"file:///etc/passwd\">CLICKME</a> <b>now</b>"};
    const QString cut = QStringLiteral("\r\r(The notice was cut here: it is longer than this box shows.)");
    QTest::newRow("1 MB notice cut at 2,000 characters")
        << "<important>" + QString("n").repeated(1 << 20) + "</important>"
        << QStringList{QString("n").repeated(2000) + cut};
    QTest::newRow("exactly 2,000 characters kept")
        << "<important>" + QString("n").repeated(2000) + "</important>" << QStringList{QString("n").repeated(2000)};
}

void TestServiceCore::checkNotice()
{
    QFETCH(QString, line5);
    QFETCH(QStringList, shown);
    TestServer maker(TestServer::Https);
    QByteArray reply = "<version>2.0</version>\r\n<url>https://a.example/</url>\r\nx\r\nx\r\nx\r\n";
    reply += line5.toUtf8();
    maker.route(kPath, Response::ok(reply));
    UpdateCheckResults results;
    QStringList notices;
    runUpdateCheck(setupFor(hostOf(maker)), results, [&](const QString &notice) { notices.append(notice); });
    QCOMPARE(notices, shown);
    QVERIFY(!results.UpdateAvailable);
}

QTEST_GUILESS_MAIN(TestServiceCore)
#include "tst_servicecore.moc"
