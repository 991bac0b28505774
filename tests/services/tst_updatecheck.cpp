// The update check as the main window runs it, and the notification window:
// TimerChecker ticks, the "Update Notifications" item, the "IMPORTANT" box on
// the window thread, and TNewVer's place, countdown, link and dragging.
#include "app/main.h"
#include "base/makerserver.h"
#include "net/servicerequest.h"
#include "scripteddialogs.h"
#include "services/check.h"
#include "services/newversion.h"
#include "services/servicesettings.h"
#include "services/updatecheck.h"
#include "testhelpers.h"
#include "testserver.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QImage>
#include <QTimer>

#include <memory>

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;
using testhelpers::EnvironmentGuard;
using testhelpers::writeFileBytes;

namespace {

const QString kPath = QStringLiteral("/php/check2.php");

QByteArray replyFor(const QByteArray &version, const QByteArray &url, const QByteArray &notice = {})
{
    QByteArray reply = "<version>" + version + "</version>\r\n<url>" + url + "</url>\r\n\r\n\r\n\r\n";
    if (!notice.isEmpty())
        reply += "<important>" + notice + "</important>\r\n";
    return reply;
}

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &local, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

} // namespace

class TestUpdateCheck : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void checkAnnouncesOnce();
    void showUpdateZero();
    void failedCheckEnablesItemOnly();
    void noticeShownBeforeCheckDone();
    void toggleWritesStore();

    void notificationLayout();
    void closesOnEleventhTick();
    void closeButton();
    void linkTarget_data();
    void linkTarget();
    void linkClickOpensAndCloses();
    void linkColourFollowsPointer();
    void dragging_data();
    void dragging();

private:
    std::unique_ptr<TAppForm> makeWindow(const TestServer &maker);
    std::unique_ptr<TNewVer> makeNotification(const QString &link);
    // Ticks TimerChecker by hand until the check is done and the timer stops.
    void runCheck(TAppForm &w);
    ServiceSettings store() const { return ServiceSettings(m_dir->filePath("Morvane.conf")); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<EnvironmentGuard> m_host;
};

void TestUpdateCheck::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestUpdateCheck::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    // list.txt exists, so the first-run directory fetch stays out of the way.
    writeFileBytes(m_dir->filePath("list.txt"), "");
}

void TestUpdateCheck::cleanup()
{
    m_host.reset();
    m_dialogs.verifyDone();
}

std::unique_ptr<TAppForm> TestUpdateCheck::makeWindow(const TestServer &maker)
{
    const QByteArray host = QStringLiteral("127.0.0.1:%1").arg(maker.port()).toLatin1();
    m_host = std::make_unique<EnvironmentGuard>(
        std::initializer_list<std::pair<const char *, const char *>>{{"MORVANE_MAKER_HOST", host.constData()}});
    AppEnvironment env;
    env.dialogs = &m_dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = m_dir->path();
    env.configFolder = m_dir->path();
    env.desktopFolder = m_dir->path();
    env.serviceSettingsFile = store().fileName();
    auto w = std::make_unique<TAppForm>(env);
    w->updateCheck()->setup().machineIdFile = m_dir->filePath("no-machine-id");
    return w;
}

void TestUpdateCheck::runCheck(TAppForm &w)
{
    QVERIFY(w.TimerChecker->isActive());
    QCOMPARE(w.TimerChecker->interval(), 1000);
    w.TimerChecker->stop(); // ticked by hand from here on
    QVERIFY(!w.UpdateNotifications1->isEnabled());
    QVERIFY(w.UpdateNotifications1->isChecked());
    w.TimerCheckerTimer();
    QVERIFY(w.updateCheck()->CheckStarted);
    QTRY_VERIFY_WITH_TIMEOUT(w.updateCheck()->checkDone(), 30000);
    w.TimerChecker->start();
    w.TimerCheckerTimer();
    QVERIFY(!w.TimerChecker->isActive());
    QVERIFY(w.UpdateNotifications1->isEnabled());
}

void TestUpdateCheck::checkAnnouncesOnce()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok(replyFor("3.2", "https://dl.example/morvane-3.2")));
    auto w = makeWindow(maker);
    runCheck(*w);
    QCOMPARE(maker.requestCount(), 1);
    QVERIFY(w->UpdateNotifications1->isChecked());
    TNewVer *note = w->updateCheck()->NewVer;
    QVERIFY(note);
    QCOMPARE(note->Label2->text(), QStringLiteral("Click to download Morvane 3.2"));
    QTRY_VERIFY(note->isVisible());
    // Further ticks neither check again nor make a second notification.
    w->TimerCheckerTimer();
    QCOMPARE(w->updateCheck()->NewVer, note);
    QCOMPARE(w->findChildren<TNewVer *>().size(), 1);
    QCOMPARE(maker.requestCount(), 1);
}

void TestUpdateCheck::showUpdateZero()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok(replyFor("3.2", "https://dl.example/")));
    store().writeInteger("ShowUpdate", 0);
    auto w = makeWindow(maker);
    runCheck(*w);
    QCOMPARE(maker.requestCount(), 0);
    QVERIFY(!w->UpdateNotifications1->isChecked());
    QVERIFY(!w->updateCheck()->NewVer);
}

void TestUpdateCheck::failedCheckEnablesItemOnly()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok("ERROR: unknown application"));
    auto w = makeWindow(maker);
    runCheck(*w);
    QCOMPARE(maker.requestCount(), 1);
    QVERIFY(w->UpdateNotifications1->isChecked());
    QVERIFY(!w->updateCheck()->NewVer);
    QVERIFY(w->updateCheck()->results().diagnostics.hasError());
    QCOMPARE(store().readText("LastUpdateCheck"), QString());
}

void TestUpdateCheck::noticeShownBeforeCheckDone()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok(replyFor("3.1", "https://dl.example/", "  Server moves on Friday  ")));
    auto w = makeWindow(maker);
    bool doneWhileShown = true;
    bool onWindowThread = false;
    m_dialogs.onNextMessage([&](const Box &) {
        doneWhileShown = w->updateCheck()->checkDone();
        onWindowThread = QThread::currentThread() == w->thread();
    });
    runCheck(*w);
    QCOMPARE(m_dialogs.takeBox(), (Box{"  Server moves on Friday  ", "IMPORTANT", Icon::Warning, {}}));
    QVERIFY(!doneWhileShown);
    QVERIFY(onWindowThread);
    // The running version: nothing to announce.
    QVERIFY(!w->updateCheck()->NewVer);
}

void TestUpdateCheck::toggleWritesStore()
{
    TestServer maker(TestServer::Https);
    maker.route(kPath, Response::ok(replyFor("3.1", "https://dl.example/")));
    auto w = makeWindow(maker);
    runCheck(*w);
    w->UpdateNotifications1->trigger();
    QVERIFY(!w->UpdateNotifications1->isChecked());
    QCOMPARE(store().readText("ShowUpdate"), QStringLiteral("0"));
    w->UpdateNotifications1->trigger();
    QVERIFY(w->UpdateNotifications1->isChecked());
    QCOMPARE(store().readText("ShowUpdate"), QStringLiteral("1"));
    QCOMPARE(maker.requestCount(), 1);
}

// ---- the notification window -------------------------------------------------------

std::unique_ptr<TNewVer> TestUpdateCheck::makeNotification(const QString &link)
{
    auto note = std::make_unique<TNewVer>(QStringLiteral("Morvane"), QStringLiteral("3.2"), link, m_dialogs, nullptr);
    // Ticked by hand.
    note->TimerClose->stop();
    note->TimerLink->stop();
    return note;
}

void TestUpdateCheck::notificationLayout()
{
    auto note = makeNotification(QString());
    QVERIFY(!note->isVisible());
    QVERIFY(note->windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(note->windowFlags() & Qt::WindowStaysOnTopHint);
    QCOMPARE(note->windowType(), Qt::Tool); // no taskbar entry
    QCOMPARE(note->TimerStart->interval(), 1);
    QCOMPARE(note->TimerClose->interval(), 1000);
    QCOMPARE(note->TimerLink->interval(), 100);
    QTRY_VERIFY(note->isVisible());
    QTRY_COMPARE(note->size(), QSize(320, 68));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(note->pos(), QPoint(screen.right() + 1 - 320 - 5, screen.top() + 5));
    QCOMPARE(note->Label1->text(), QStringLiteral("UPDATE AVAILABLE"));
    QCOMPARE(note->Label1->geometry(), QRect(3, 3, 224, 16));
    QCOMPARE(note->Label2->geometry(), QRect(0, 22, 230, 44));
    QCOMPARE(note->Image1->geometry(), QRect(4, 4, 60, 60));
    QCOMPARE(note->Panel3->geometry(), QRect(297, 1, 22, 66));
    QCOMPARE(note->Button1->size(), QSize(22, 22));
    QCOMPARE(note->AutoCloseCountdown, 11);
}

void TestUpdateCheck::closesOnEleventhTick()
{
    auto note = makeNotification(QString());
    QTRY_VERIFY(note->isVisible());
    for (int tick = 1; tick <= 10; ++tick) {
        note->TimerCloseTimer();
        QVERIFY2(note->isVisible(), qPrintable(QString::number(tick)));
    }
    note->TimerCloseTimer();
    QCOMPARE(note->AutoCloseCountdown, 0);
    QVERIFY(!note->TimerClose->isActive());
    // Shrinking into its centre, then closed.
    QVERIFY(note->isVisible());
    QTRY_VERIFY(!note->isVisible());
    QCOMPARE(note->size(), QSize(320, 68));
    QVERIFY(note->mask().isEmpty());
}

void TestUpdateCheck::closeButton()
{
    auto note = makeNotification(QStringLiteral("https://dl.example/"));
    QTRY_VERIFY(note->isVisible());
    QTest::mouseClick(note->Button1, Qt::LeftButton);
    QVERIFY(!note->isVisible());
}

void TestUpdateCheck::linkTarget_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QString>("opened"); // "home": the maker's home page
    QTest::newRow("https") << "https://dl.example/morvane-3.2.tar.gz" << "https://dl.example/morvane-3.2.tar.gz";
    QTest::newRow("http") << "http://dl.example/get?v=3.2" << "http://dl.example/get?v=3.2";
    QTest::newRow("scheme in capitals") << "HTTPS://dl.example/x" << "https://dl.example/x";
    QTest::newRow("empty") << "" << "home";
    QTest::newRow("file URL") << "file:///etc/passwd" << "home";
    QTest::newRow("local path") << "/usr/bin/xterm" << "home";
    QTest::newRow("relative") << "downloads/morvane" << "home";
    QTest::newRow("custom scheme") << "steam://run/1" << "home";
    QTest::newRow("javascript") << "javascript:alert(1)" << "home";
    QTest::newRow("http without host") << "http:///etc/passwd" << "home";
}

void TestUpdateCheck::linkTarget()
{
    QFETCH(QString, link);
    QFETCH(QString, opened);
    const QUrl expected(opened == "home" ? makerHomePage() : opened);
    QCOMPARE(TNewVer::linkTarget(link), expected);
}

void TestUpdateCheck::linkClickOpensAndCloses()
{
    auto note = makeNotification(QStringLiteral("file:///home/user/evil.desktop"));
    QTRY_VERIFY(note->isVisible());
    QTest::mouseClick(note->Label2, Qt::LeftButton);
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl(makerHomePage()));
    QVERIFY(!note->isVisible());

    auto second = makeNotification(QStringLiteral("https://dl.example/3.2"));
    QTRY_VERIFY(second->isVisible());
    QTest::mouseClick(second->Label2, Qt::LeftButton);
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl("https://dl.example/3.2"));
    QVERIFY(!second->isVisible());
}

namespace {

// Whether the widget, as drawn, shows the colour anywhere.
bool drawsColour(QWidget *widget, const QColor &colour)
{
    const QImage image = widget->grab().toImage();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y).rgb() == colour.rgb())
                return true;
    return false;
}

} // namespace

// TimerLink, running on its own, gives the link the highlight colour while
// the pointer is over it, and the text colour otherwise; as drawn.
void TestUpdateCheck::linkColourFollowsPointer()
{
    auto note = makeNotification(QString());
    QTRY_VERIFY(note->isVisible());
    QTRY_COMPARE(note->size(), QSize(320, 68));
    note->TimerLink->start(); // runs on its own here
    const QColor highlight = note->palette().color(QPalette::Highlight);
    const QColor text = note->palette().color(QPalette::WindowText);
    QVERIFY(highlight != text);
    QVERIFY(!drawsColour(note->Label2, highlight));
    QCursor::setPos(note->Label2->mapToGlobal(note->Label2->rect().center()));
    QTRY_COMPARE(note->Label2->palette().color(QPalette::WindowText), highlight);
    QVERIFY(drawsColour(note->Label2, highlight));
    QCursor::setPos(note->mapToGlobal(QPoint(-50, 200)));
    QTRY_COMPARE(note->Label2->palette().color(QPalette::WindowText), text);
    QVERIFY(!drawsColour(note->Label2, highlight));
}

void TestUpdateCheck::dragging_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("window, left") << "window" << int(Qt::LeftButton) << true;
    QTest::newRow("Panel1, middle") << "Panel1" << int(Qt::MiddleButton) << true;
    QTest::newRow("Image1, left") << "Image1" << int(Qt::LeftButton) << true;
    QTest::newRow("Label1, left") << "Label1" << int(Qt::LeftButton) << true;
    QTest::newRow("Panel3, left") << "Panel3" << int(Qt::LeftButton) << true;
    QTest::newRow("Image1, right") << "Image1" << int(Qt::RightButton) << false;
    QTest::newRow("Panel1, right") << "Panel1" << int(Qt::RightButton) << false;
    QTest::newRow("Panel2, left") << "Panel2" << int(Qt::LeftButton) << false;
    QTest::newRow("Label2, middle") << "Label2" << int(Qt::MiddleButton) << false;
}

void TestUpdateCheck::dragging()
{
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, moves);
    auto note = makeNotification(QString());
    QTRY_VERIFY(note->isVisible());
    QTRY_COMPARE(note->size(), QSize(320, 68));
    QWidget *on = target == "window" ? note.get() : note->findChild<QWidget *>(target);
    QVERIFY(on);
    const QPoint grip = target == "Panel3" ? QPoint(11, 50) : (target == "window" ? QPoint(0, 0) : QPoint(2, 10));
    const QPoint start = note->pos();
    sendMouse(on, QEvent::MouseButtonPress, grip, Qt::MouseButton(button));
    sendMouse(on, QEvent::MouseMove, grip + QPoint(-30, 12), Qt::MouseButton(button));
    // The window moved under the pointer: the next position is measured anew.
    sendMouse(on, QEvent::MouseMove, grip + QPoint(-30, 12) - (note->pos() - start) + QPoint(-5, 3),
              Qt::MouseButton(button));
    sendMouse(on, QEvent::MouseButtonRelease, grip, Qt::MouseButton(button));
    QCOMPARE(note->pos(), moves ? start + QPoint(-35, 15) : start);
    QCOMPARE(note->size(), QSize(320, 68));
    // Released: moving on does nothing.
    sendMouse(on, QEvent::MouseMove, grip + QPoint(40, 40), Qt::MouseButton(button));
    QCOMPARE(note->pos(), moves ? start + QPoint(-35, 15) : start);
}

QTEST_MAIN(TestUpdateCheck)
#include "tst_updatecheck.moc"
