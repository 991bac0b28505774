#include "base/errors.h"
#include "net/postform.h"
#include "testserver.h"

#include <QRegularExpression>
#include <QTest>
#include <QUrlQuery>

#include <functional>

#include "testhelpers.h"

Q_DECLARE_METATYPE(Response)

namespace {

using testhelpers::errorOf;
using testhelpers::fieldsOf;
using testhelpers::kNoError;

} // namespace

class TestPostForm : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void encodesForm_data();
    void encodesForm();
    void fieldsArriveIntact();
    void sendsPathHeaders_data();
    void sendsPathHeaders();
    void choosesPathByScheme_data();
    void choosesPathByScheme();
    void errorStatusByPath_data();
    void errorStatusByPath();
    void redirectsByPath_data();
    void redirectsByPath();
    void decodesReply_data();
    void decodesReply();
    void verifiesCertificateOnSecurePath_data();
    void verifiesCertificateOnSecurePath();
    void timesOutOnSilentServer_data();
    void timesOutOnSilentServer();
};

void TestPostForm::initTestCase()
{
    // The secure path trusts the test CA through the program's own hook.
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestPostForm::encodesForm_data()
{
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("empty list") << QStringList() << QByteArray();
    QTest::newRow("one field") << QStringList{"cmd=podcast"} << QByteArray("cmd=podcast");
    QTest::newRow("pairs joined by &") << QStringList{"a=1", "b=2", "c=3"} << QByteArray("a=1&b=2&c=3");
    QTest::newRow("CR LF") << QStringList{"feedback=line 1\r\nline 2\n"}
                           << QByteArray("feedback=line+1%0D%0Aline+2%0A");
    QTest::newRow("& and = in value") << QStringList{"q=a&b=c"} << QByteArray("q=a%26b%3Dc");
    QTest::newRow("plus and space") << QStringList{"x=1+1 = 2"} << QByteArray("x=1%2B1+%3D+2");
    QTest::newRow("space in name") << QStringList{"my name=v"} << QByteArray("my+name=v");
    QTest::newRow("non-ASCII as UTF-8")
        << QStringList{QStringLiteral("n=Caf\u00e9 \u20ac")} << QByteArray("n=Caf%C3%A9+%E2%82%AC");
    QTest::newRow("kept and escaped ASCII")
        << QStringList{"k=AZaz09-._~*'()!/%?#"} << QByteArray("k=AZaz09-._%7E%2A%27%28%29%21%2F%25%3F%23");
    QTest::newRow("no =") << QStringList{"flag"} << QByteArray("flag=");
    QTest::newRow("empty name and value") << QStringList{"=", "k="} << QByteArray("=&k=");
}

void TestPostForm::encodesForm()
{
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, expected);
    QCOMPARE(encodeForm(fields), expected);
}

void TestPostForm::fieldsArriveIntact()
{
    const QStringList fields{"cmd=feedback", "email=a+b@example.com",
                             QStringLiteral("feedback=First line\r\nSecond & last = \u00fc"), "empty="};
    for (const auto scheme : {TestServer::Http, TestServer::Https}) {
        TestServer server(scheme);
        server.route("/php/feedback.php", Response::ok("OK"));
        QCOMPARE(PostForm(server.urlString("/php/feedback.php"), fields, 10000), QStringLiteral("OK"));
        const RecordedRequest request = server.lastRequest("/php/feedback.php");
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.body, encodeForm(fields));
        QCOMPARE(fieldsOf(request.body), fields);
    }
}

void TestPostForm::sendsPathHeaders_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("connection");

    QTest::newRow("secure") << int(TestServer::Https)
                            << QByteArray("application/x-www-form-urlencoded; charset=utf-8") << QByteArray("close");
    QTest::newRow("plain") << int(TestServer::Http) << QByteArray("application/x-www-form-urlencoded")
                           << QByteArray();
}

void TestPostForm::sendsPathHeaders()
{
    QFETCH(int, scheme);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, connection);

    TestServer server{TestServer::Scheme(scheme)};
    server.route("/form", Response::ok("OK"));
    PostForm(server.urlString("/form"), {"a=1"}, 10000);
    const RecordedRequest request = server.lastRequest("/form");
    QCOMPARE(request.header("Content-Type"), contentType);
    if (connection.isEmpty())
        QVERIFY(request.header("Connection").toLower() != "close");
    else
        QCOMPARE(request.header("Connection").toLower(), connection);
    QCOMPARE(request.header("Content-Length"), QByteArray("3"));
}

void TestPostForm::choosesPathByScheme_data()
{
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("secure");

    QTest::newRow("https") << QStringLiteral("https://") << true;
    QTest::newRow("HTTPS") << QStringLiteral("HTTPS://") << true;
    QTest::newRow("Https") << QStringLiteral("Https://") << true;
    QTest::newRow("HTTP") << QStringLiteral("HTTP://") << false;
    QTest::newRow("no scheme") << QString() << false;
    QTest::newRow("ftp") << QStringLiteral("ftp://") << false;
    QTest::newRow("file") << QStringLiteral("file://") << false;
}

void TestPostForm::choosesPathByScheme()
{
    QFETCH(QString, scheme);
    QFETCH(bool, secure);

    TestServer https(TestServer::Https);
    TestServer http(TestServer::Http);
    https.route("/form", Response::ok("secure path"));
    http.route("/form", Response::ok("plain path"));
    const quint16 port = secure ? https.port() : http.port();
    const QString url = scheme + QStringLiteral("127.0.0.1:%1/form").arg(port);

    if (secure) {
        QCOMPARE(PostForm(url, {"a=1"}, 10000), QStringLiteral("secure path"));
        QCOMPARE(https.lastRequest().header("Connection"), QByteArray("close"));
    } else if (scheme.compare(QLatin1String("http://"), Qt::CaseInsensitive) == 0) {
        QCOMPARE(PostForm(url, {"a=1"}, 10000), QStringLiteral("plain path"));
    } else {
        const QString error = errorOf([&] { PostForm(url, {"a=1"}, 10000); });
        QVERIFY(error != kNoError);
        QVERIFY(!error.isEmpty());
        QCOMPARE(http.requestCount(), 0);
    }
}

void TestPostForm::errorStatusByPath_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<Response>("response");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("error");

    const QByteArray page = "<html><body>No such page</body></html>";
    const Response notFound = Response::status(404, "Not Found", page, "text/html");
    QTest::newRow("https 404 returns the page") << int(TestServer::Https) << notFound << QString::fromLatin1(page)
                                                << kNoError;
    QTest::newRow("http 404 raises the status line") << int(TestServer::Http) << notFound << QString()
                                                     << QStringLiteral("HTTP/1.1 404 Not Found");
    QTest::newRow("https 500 returns the page")
        << int(TestServer::Https) << Response::status(500, "Internal Server Error", "oops")
        << QStringLiteral("oops") << kNoError;
    QTest::newRow("http 500") << int(TestServer::Http) << Response::status(500, "Internal Server Error", "oops")
                              << QString() << QStringLiteral("HTTP/1.1 500 Internal Server Error");
    QTest::newRow("http 302 is a failure") << int(TestServer::Http) << Response::redirect("/elsewhere")
                                           << QString() << QStringLiteral("HTTP/1.1 302 Found");
}

void TestPostForm::errorStatusByPath()
{
    QFETCH(int, scheme);
    QFETCH(Response, response);
    QFETCH(QString, result);
    QFETCH(QString, error);

    TestServer server{TestServer::Scheme(scheme)};
    server.route("/form", response);
    server.route("/elsewhere", Response::ok("followed"));
    QString text;
    QCOMPARE(errorOf([&] { text = PostForm(server.urlString("/form"), {"a=1"}, 10000); }), error);
    QCOMPARE(text, result);
    if (scheme == TestServer::Http)
        QCOMPARE(server.requestCount(), 1);
}

void TestPostForm::redirectsByPath_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<bool>("followed");

    QTest::newRow("1") << 1 << true;
    QTest::newRow("5, the most followed") << 5 << true;
    QTest::newRow("6") << 6 << false;
}

void TestPostForm::redirectsByPath()
{
    QFETCH(int, hops);
    QFETCH(bool, followed);

    TestServer server(TestServer::Https);
    server.route("/final", Response::ok("final"));
    const QString start = server.routeRedirectChain("/r", hops, "/final");
    QString text;
    const QString error = errorOf([&] { text = PostForm(server.urlString(start), {"a=1"}, 10000); });
    if (followed) {
        QCOMPARE(error, kNoError);
        QCOMPARE(text, QStringLiteral("final"));
    } else {
        QVERIFY(error != kNoError);
    }
}

void TestPostForm::decodesReply_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("expected");

    const QByteArray utf8 = QStringLiteral("Caf\u00e9\nline").toUtf8();
    QTest::newRow("secure, no charset: UTF-8") << int(TestServer::Https) << QByteArray("text/html") << utf8
                                               << QStringLiteral("Caf\u00e9\nline");
    QTest::newRow("secure, no Content-Type") << int(TestServer::Https) << QByteArray() << utf8
                                             << QStringLiteral("Caf\u00e9\nline");
    QTest::newRow("secure, ISO-8859-1") << int(TestServer::Https) << QByteArray("text/html; charset=ISO-8859-1")
                                        << QByteArray("Caf\xE9") << QStringLiteral("Caf\u00e9");
    QTest::newRow("secure, quoted windows-1252")
        << int(TestServer::Https) << QByteArray("text/html; charset=\"windows-1252\"") << QByteArray("\x80")
        << QStringLiteral("\u20ac");
    QTest::newRow("plain, no charset: ISO-8859-1") << int(TestServer::Http) << QByteArray("text/html") << utf8
                                                   << QString::fromLatin1(utf8);
    QTest::newRow("plain, UTF-8") << int(TestServer::Http) << QByteArray("text/plain; charset=UTF-8") << utf8
                                  << QStringLiteral("Caf\u00e9\nline");
}

void TestPostForm::decodesReply()
{
    QFETCH(int, scheme);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(QString, expected);

    TestServer server{TestServer::Scheme(scheme)};
    server.route("/form", Response::ok(body, contentType));
    QCOMPARE(PostForm(server.urlString("/form"), {}, 10000), expected);
    QCOMPARE(server.lastRequest().body, QByteArray());
}

void TestPostForm::verifiesCertificateOnSecurePath_data()
{
    QTest::addColumn<int>("certificate");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("signed by a trusted CA") << int(TestServer::Certificate::CaSigned) << true;
    QTest::newRow("self-signed") << int(TestServer::Certificate::SelfSigned) << false;
}

void TestPostForm::verifiesCertificateOnSecurePath()
{
    QFETCH(int, certificate);
    QFETCH(bool, accepted);

    TestServer server(TestServer::Https, QSsl::SecureProtocols, TestServer::Certificate(certificate));
    server.route("/form", Response::ok("OK"));
    const QString error = errorOf([&] { PostForm(server.urlString("/form"), {"a=1"}, 10000); });
    QCOMPARE(error == kNoError, accepted);
    QCOMPARE(server.requestCount(), accepted ? 1 : 0);
}

void TestPostForm::timesOutOnSilentServer_data()
{
    QTest::addColumn<int>("scheme");
    QTest::addColumn<Response>("response");
    QTest::addColumn<QString>("expected");

    QTest::newRow("https, never answers") << int(TestServer::Https) << Response::noAnswer()
                                          << QStringLiteral("Connection timed out");
    QTest::newRow("http, never answers") << int(TestServer::Http) << Response::noAnswer()
                                         << QStringLiteral("Connection timed out");
    QTest::newRow("https, stalls mid-body") << int(TestServer::Https) << Response::ok("abcdef").stallAfter(2)
                                            << QStringLiteral("Connection timed out after 2 of 6 bytes");
    // A byte every half second never lets the connection fall silent; the
    // 100 bytes would take 50 s.
    QTest::newRow("https, trickles") << int(TestServer::Https) << Response::ok(QByteArray(100, 'x')).slow(1, 500)
                                     << QStringLiteral("Connection timed out after [1-9] of 100 bytes");
    QTest::newRow("http, trickles") << int(TestServer::Http) << Response::ok(QByteArray(100, 'x')).slow(1, 500)
                                    << QStringLiteral("Connection timed out after [1-9] of 100 bytes");
}

void TestPostForm::timesOutOnSilentServer()
{
    QFETCH(int, scheme);
    QFETCH(Response, response);
    QFETCH(QString, expected);

    TestServer server{TestServer::Scheme(scheme)};
    server.route("/form", response);
    // expected is a pattern: how far a trickling body came depends on timing.
    const QString error = errorOf([&] { PostForm(server.urlString("/form"), {"feedback=hi"}, 3000); });
    QVERIFY2(QRegularExpression(QRegularExpression::anchoredPattern(expected)).match(error).hasMatch(),
             qPrintable(error));
    QCOMPARE(server.requestCount(), 1);
}

QTEST_GUILESS_MAIN(TestPostForm)
#include "tst_postform.moc"
