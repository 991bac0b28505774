// The feedback window: the composed text, the e-mail check, the request the
// local server receives, what counts as delivered, and closing with Esc.
#include "app/main.h"
#include "base/versioninfo.h"
#include "scripteddialogs.h"
#include "services/feedback.h"
#include "services/feedbackrequest.h"
#include "testhelpers.h"
#include "testserver.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

Q_DECLARE_METATYPE(Response)

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;
using testhelpers::EnvironmentGuard;

namespace {

using testhelpers::fieldsOf;

const QString kPath = QStringLiteral("/php/feedback.php");
const Box kSuccess{"Your feedback is received.\r\rThank you!", "Success", Icon::Information, {}};
const Box kFailure{"Something went wrong. Your feedback could not be delivered.\r\rPlease try again later.",
                   "Failure", Icon::Error, {}};

AppIdentity identity()
{
    AppIdentity id;
    id.companyName = QStringLiteral("ZANTERO");
    id.productName = QStringLiteral("Morvane");
    id.title = QStringLiteral("ZANTERO - Morvane");
    id.version = QStringLiteral("3.1");
    return id;
}

} // namespace

class TestFeedback : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void composedText_data();
    void composedText();
    void email_data();
    void email();
    void layout();
    void choiceSwitchesButNeverClears();
    void emptyMessageSendsNothing_data();
    void emptyMessageSendsNothing();
    void invalidEmailSendsNothing();
    void fieldsReceived_data();
    void fieldsReceived();
    void reply_data();
    void reply();
    void silentServerBounded_data();
    void silentServerBounded();
    void escapeCloses_data();
    void escapeCloses();
    void menuOpensModalWindow();

private:
    void useHost(const QString &host);
    std::unique_ptr<TFeedbackForm> makeForm() { return std::make_unique<TFeedbackForm>(identity(), m_dialogs); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<EnvironmentGuard> m_host;
};

void TestFeedback::initTestCase()
{
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestFeedback::cleanup()
{
    m_host.reset();
    m_dialogs.verifyDone();
}

void TestFeedback::useHost(const QString &host)
{
    const QByteArray value = host.toLatin1();
    m_host = std::make_unique<EnvironmentGuard>(
        std::initializer_list<std::pair<const char *, const char *>>{{"MORVANE_MAKER_HOST", value.constData()}});
}

void TestFeedback::composedText_data()
{
    QTest::addColumn<int>("choice");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("text");
    QTest::newRow("like") << int(FeedbackChoice::Like) << "Great" << "I like it!\rGreat";
    QTest::newRow("dislike") << int(FeedbackChoice::Dislike) << "  Slow\r\n" << "I dislike it!\rSlow";
    QTest::newRow("none") << int(FeedbackChoice::None) << "\tJust this " << "Just this";
    QTest::newRow("multi-line keeps CR LF") << int(FeedbackChoice::Like) << "\r\nLine 1\r\n\r\nLine 2\r\n"
                                            << "I like it!\rLine 1\r\n\r\nLine 2";
}

void TestFeedback::composedText()
{
    QFETCH(int, choice);
    QFETCH(QString, message);
    QFETCH(QString, text);
    QCOMPARE(composeFeedback(FeedbackChoice(choice), message), text);
}

void TestFeedback::email_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("valid");
    QTest::newRow("plain") << "user@example.com" << true;
    QTest::newRow("marks in local part") << "a_b.c+d-e@mail.example.org" << true;
    QTest::newRow("digits") << "42@x1.io" << true;
    QTest::newRow("hyphen in domain") << "me@my-host.example" << true;
    QTest::newRow("no dot in domain") << "user@localhost" << false;
    QTest::newRow("domain ends with dot") << "user@example.com." << false;
    QTest::newRow("domain ends with hyphen") << "user@example.com-" << false;
    QTest::newRow("space inside") << "us er@example.com" << false;
    QTest::newRow("no @") << "user.example.com" << false;
    QTest::newRow("two @") << "a@b@example.com" << false;
    QTest::newRow("final line feed") << "user@example.com\n" << false;
    QTest::newRow("non-ASCII") << "jürgen@example.de" << false;
}

void TestFeedback::email()
{
    QFETCH(QString, address);
    QFETCH(bool, valid);
    QCOMPARE(isValidEmail(address), valid);
}

void TestFeedback::layout()
{
    auto form = makeForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Morvane feedback"));
    QCOMPARE(form->size(), QSize(525, 326));
    QCOMPARE(form->minimumSize(), form->maximumSize());
    QVERIFY(form->isModal());
    QCOMPARE(form->Label1->text(), QStringLiteral("We would really appreciate your feedback."));
    QCOMPARE(form->Label2->text(), QStringLiteral("What did you like or dislike?"));
    QCOMPARE(form->Label3->text(), QStringLiteral("Include my e-mail:"));
    QCOMPARE(form->BitBtn1->text(), QStringLiteral("Send"));
    QCOMPARE(form->Panel4->findChild<QLabel *>("Panel4Caption")->text(), QStringLiteral("I like it!"));
    QCOMPARE(form->Panel5->findChild<QLabel *>("Panel5Caption")->text(), QStringLiteral("I dislike it!"));
    QCOMPARE(form->Edit1->maxLength(), 100);
    form->Memo1->setPlainText(QString(10050, QLatin1Char('x')));
    QCOMPARE(form->Memo1->toPlainText().size(), 10000);
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    QCOMPARE(QApplication::focusWidget(), form->Memo1);
}

void TestFeedback::choiceSwitchesButNeverClears()
{
    auto form = makeForm();
    form->show();
    QCOMPARE(form->choice(), FeedbackChoice::None);
    QCOMPARE(form->Panel4->backgroundRole(), QPalette::Button);
    QTest::mouseClick(form->Image1, Qt::LeftButton);
    QCOMPARE(form->choice(), FeedbackChoice::Like);
    QCOMPARE(form->Panel4->backgroundRole(), QPalette::Highlight);
    QCOMPARE(form->Panel4->frameShadow(), QFrame::Sunken);
    QCOMPARE(form->Panel5->frameShadow(), QFrame::Raised);
    QTest::mouseClick(form->Panel4, Qt::LeftButton, {}, QPoint(200, 20));
    QCOMPARE(form->choice(), FeedbackChoice::Like);
    QTest::mouseClick(form->Panel5, Qt::LeftButton, {}, QPoint(200, 20));
    QCOMPARE(form->choice(), FeedbackChoice::Dislike);
    QVERIFY(!form->isSelected(form->Panel4));
    QTest::mouseClick(form->Image2, Qt::LeftButton);
    QCOMPARE(form->choice(), FeedbackChoice::Dislike);
}

void TestFeedback::emptyMessageSendsNothing_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("empty") << "";
    QTest::newRow("blank") << "   \n\t  ";
}

void TestFeedback::emptyMessageSendsNothing()
{
    QFETCH(QString, message);
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("OK"));
    useHost(QStringLiteral("127.0.0.1:%1").arg(maker.port()));
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->Image1Click(); // a choice alone is not sent
    form->Memo1->setPlainText(message);
    form->Edit1->setFocus();
    form->BitBtn1->click();
    m_dialogs.takeBeep();
    QCOMPARE(QApplication::focusWidget(), form->Memo1);
    QCOMPARE(maker.requestCount(), 0);
    QVERIFY(form->isVisible());
}

void TestFeedback::invalidEmailSendsNothing()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("OK"));
    useHost(QStringLiteral("127.0.0.1:%1").arg(maker.port()));
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->Memo1->setPlainText("Nice");
    form->Edit1->setText("  user@localhost ");
    form->BitBtn1->click();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Invalid e-mail address!", "Failure", Icon::Error, {}}));
    QCOMPARE(QApplication::focusWidget(), form->Edit1);
    QCOMPARE(maker.requestCount(), 0);
}

void TestFeedback::fieldsReceived_data()
{
    QTest::addColumn<bool>("like");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("email");
    QTest::addColumn<QStringList>("fields");
    const QStringList head{"cmd=feedback", "appname=ZANTERO - Morvane", "version=3.1"};
    QTest::newRow("like, one word, address")
        << true << "Lovely" << "  me@example.org " << head + QStringList{"feedback=I like it!\rLovely", "email=me@example.org"};
    QTest::newRow("no choice, lines, no address")
        << false << " Line 1\nLine 2 + 3 & 4 \n" << "" << head + QStringList{"feedback=Line 1\r\nLine 2 + 3 & 4"};
    QTest::newRow("blank address left out") << false << "x" << "   " << head + QStringList{"feedback=x"};
}

void TestFeedback::fieldsReceived()
{
    QFETCH(bool, like);
    QFETCH(QString, message);
    QFETCH(QString, email);
    QFETCH(QStringList, fields);
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("OK\r\n"));
    useHost(QStringLiteral("127.0.0.1:%1").arg(maker.port()));
    auto form = makeForm();
    form->show();
    if (like)
        form->Image1Click();
    form->Memo1->setPlainText(message);
    form->Edit1->setText(email);
    form->BitBtn1->click();
    QCOMPARE(m_dialogs.takeBox(), kSuccess);
    QVERIFY(!form->isVisible());
    QCOMPARE(maker.requestCount(), 1);
    const RecordedRequest got = maker.lastRequest(kPath);
    QVERIFY(got.encrypted);
    QCOMPARE(fieldsOf(got.body), fields);
}

void TestFeedback::reply_data()
{
    QTest::addColumn<QString>("scheme"); // which server answers: "https" or "http"
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("delivered");
    QTest::newRow("OK") << "https" << QByteArray("OK") << true;
    QTest::newRow("OK and line break") << "https" << QByteArray("OK\r\n") << true;
    QTest::newRow("padded OK over http") << "http" << QByteArray("  OK\n") << true;
    QTest::newRow("lower case") << "https" << QByteArray("ok") << false;
    QTest::newRow("full stop") << "https" << QByteArray("OK.") << false;
    QTest::newRow("empty") << "https" << QByteArray() << false;
    QTest::newRow("both fail") << "none" << QByteArray("OK") << false;
}

void TestFeedback::reply()
{
    QFETCH(QString, scheme);
    QFETCH(QByteArray, reply);
    QFETCH(bool, delivered);
    TestServer maker(scheme == "http" ? TestServer::Http : TestServer::Https);
    maker.route(kPath, Response::ok(reply));
    useHost(scheme == "none" ? QStringLiteral("127.0.0.1:9") : QStringLiteral("127.0.0.1:%1").arg(maker.port()));
    auto form = makeForm();
    form->show();
    form->Image2Click();
    form->Memo1->setPlainText("Keep me");
    form->Edit1->setText("me@example.org");
    form->BitBtn1->click();
    QCOMPARE(m_dialogs.takeBox(), delivered ? kSuccess : kFailure);
    QCOMPARE(form->isVisible(), !delivered);
    // Not delivered: everything typed is still there for another try.
    QCOMPARE(form->Memo1->toPlainText(), QStringLiteral("Keep me"));
    QCOMPARE(form->Edit1->text(), QStringLiteral("me@example.org"));
    QCOMPARE(form->choice(), FeedbackChoice::Dislike);
    QVERIFY(!QGuiApplication::overrideCursor());
}

void TestFeedback::silentServerBounded_data()
{
    QTest::addColumn<Response>("response");
    QTest::newRow("never answers") << Response::noAnswer();
    // A byte every half second: the 100 bytes would take 50 s.
    QTest::newRow("trickles") << Response::ok(QByteArray(100, 'x')).slow(1, 500);
}

void TestFeedback::silentServerBounded()
{
    // Each attempt ends at its own 3 s time-out, however the server answers.
    QFETCH(Response, response);
    TestServer maker(TestServer::Http);
    maker.route(kPath, response);
    useHost(QStringLiteral("127.0.0.1:%1").arg(maker.port()));
    auto form = makeForm();
    form->show();
    form->Memo1->setPlainText("Hello?");
    form->BitBtn1->click(); // returns: both attempts are bounded
    QCOMPARE(m_dialogs.takeBox(), kFailure);
    QVERIFY(form->isVisible());
    QCOMPARE(form->Memo1->toPlainText(), QStringLiteral("Hello?"));
}

void TestFeedback::escapeCloses_data()
{
    QTest::addColumn<QString>("where");
    QTest::newRow("Memo1") << "Memo1";
    QTest::newRow("Edit1") << "Edit1";
    QTest::newRow("BitBtn1") << "BitBtn1";
}

void TestFeedback::escapeCloses()
{
    QFETCH(QString, where);
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("OK"));
    useHost(QStringLiteral("127.0.0.1:%1").arg(maker.port()));
    auto form = makeForm();
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form.get()));
    form->Memo1->setPlainText("Unsent");
    QWidget *target = form->findChild<QWidget *>(where);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!form->isVisible());
    QCOMPARE(maker.requestCount(), 0);
}

void TestFeedback::menuOpensModalWindow()
{
    QTemporaryDir dir;
    QFile list(dir.filePath("list.txt"));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.close();
    AppEnvironment env;
    env.dialogs = &m_dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = dir.path();
    env.configFolder = dir.path();
    env.desktopFolder = dir.path();
    TAppForm w(env);
    QVERIFY(w.SendFeedback1->isEnabled());
    QPointer<TFeedbackForm> shown;
    QTimer::singleShot(0, [&] {
        shown = qobject_cast<TFeedbackForm *>(QApplication::activeModalWidget());
        QVERIFY(shown);
        QVERIFY(shown->Memo1->toPlainText().isEmpty());
        QTest::keyClick(shown->Memo1, Qt::Key_Escape);
    });
    w.SendFeedback1->trigger();
    // Closed and freed.
    QTRY_VERIFY(shown.isNull());
}

QTEST_MAIN(TestFeedback)
#include "tst_feedback.moc"
