// Without a working TLS library (here: OpenSSL configured, before anything
// touches it, with a provider that offers no algorithm) https requests fail
// with the program's message while http keeps working.

#include "base/errors.h"
#include "net/postform.h"
#include "net/webget.h"
#include "testserver.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>

namespace {

QString errorOf(const std::function<void()> &call)
{
    try {
        call();
    } catch (const AppError &e) {
        return e.message();
    }
    return QStringLiteral("<no error>");
}

} // namespace

class TestNoTls : public QObject
{
    Q_OBJECT

private slots:
    void httpsFails_data()
    {
        QTest::addColumn<QString>("call");
        QTest::newRow("FetchUrl") << QStringLiteral("fetch");
        QTest::newRow("download") << QStringLiteral("download");
        QTest::newRow("PostForm") << QStringLiteral("post");
    }

    void httpsFails()
    {
        QFETCH(QString, call);
        TestServer server;  // plain: the request must not even get that far
        server.route("/x", Response::ok("plain"));
        const QString url = QStringLiteral("https://127.0.0.1:%1/x").arg(server.port());
        const QString error = errorOf([&] {
            if (call == QLatin1String("fetch")) {
                FetchUrl(url);
            } else if (call == QLatin1String("download")) {
                QTemporaryDir dir;
                QFile file(dir.filePath("f"));
                QVERIFY(file.open(QIODevice::WriteOnly));
                DownloadTransfer().get(url, &file);
            } else {
                PostForm(url, {"a=1"}, 3000);
            }
        });
        QCOMPARE(error, QStringLiteral("Could not load SSL library."));
        QCOMPARE(server.requestCount(), 0);
    }

    void redirectToHttpsFails()
    {
        TestServer server;
        server.route("/x", Response::redirect(QStringLiteral("https://127.0.0.1:%1/feed").arg(server.port()).toLatin1()));
        QCOMPARE(errorOf([&] { FetchUrl(server.urlString("/x")); }),
                 QStringLiteral("Could not load SSL library."));
    }

    void httpStillWorks()
    {
        TestServer server;
        server.route("/x", Response::ok("plain"));
        QCOMPARE(FetchUrl(server.urlString("/x")), QStringLiteral("plain\r\n"));
        QCOMPARE(PostForm(server.urlString("/x"), {"a=1"}, 3000), QStringLiteral("plain"));
    }
};

int main(int argc, char *argv[])
{
    // Before the first TLS use: OpenSSL reads its configuration once.
    qputenv("OPENSSL_CONF", MORVANE_TEST_DATA_DIR "/openssl-null-provider.cnf");
    QCoreApplication app(argc, argv);
    TestNoTls test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_notls.moc"
