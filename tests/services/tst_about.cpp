// The About box: the letter rain's arithmetic and its painting of changed
// cells only, the hidden picture's slide, the links, license.txt, Esc and
// dragging; and every command of the main window's menus having a handler.
#include "app/main.h"
#include "base/versioninfo.h"
#include "scripteddialogs.h"
#include "services/about.h"
#include "services/aboutrain.h"
#include "services/updatecheck.h"
#include "testhelpers.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;
using testhelpers::EnvironmentGuard;
using testhelpers::writeFileBytes;

Q_DECLARE_METATYPE(RainColour)

namespace {

AppIdentity identity()
{
    AppIdentity id;
    id.companyName = QStringLiteral("ZANTERO");
    id.productName = QStringLiteral("Morvane");
    id.title = QStringLiteral("ZANTERO - Morvane");
    id.version = QStringLiteral("3.1");
    return id;
}

void sendMouse(QWidget *target, QEvent::Type type, const QPoint &local, Qt::MouseButton button)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(local), QPointF(target->mapToGlobal(local)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

// How many receivers the action's triggered signal has (QObject::receivers is
// protected; the member pointer reaches it without pretending the action is of
// another class).
int triggeredReceivers(QAction *action)
{
    struct Peek : QObject {
        using QObject::receivers;
    };
    int (QObject::*receivers)(const char *) const = &Peek::receivers;
    return (action->*receivers)(SIGNAL(triggered(bool)));
}

} // namespace

class TestAbout : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void colours_data();
    void colours();
    void tailRow_data();
    void tailRow();
    void gridFromCreationSize();
    void tickDrawsAndMoves();

    void layout();
    void paintsChangedCellsOnly();
    void resizeRestartsWithCreationSize();
    void slide();
    void links_data();
    void links();
    void license();
    void escapeCloses_data();
    void escapeCloses();
    void dragging_data();
    void dragging();
    void buttonsTakeMouseClicks();
    void menuOpensModalBox();
    void everyCommandHasAHandler();

private:
    std::unique_ptr<TAboutBox> makeBox() { return std::make_unique<TAboutBox>(identity(), m_dir->path(), m_dialogs); }

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestAbout::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    qputenv("MORVANE_MAKER_HOST", "127.0.0.1:9");
}

void TestAbout::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void TestAbout::cleanup()
{
    m_dialogs.verifyDone();
}

void TestAbout::colours_data()
{
    QTest::addColumn<int>("brightness");
    QTest::addColumn<RainColour>("head");
    QTest::addColumn<RainColour>("trail");
    // v = b * 255 / 100, d = v / 3; (v * 150 / 255, v, v * 100 / 255)
    QTest::newRow("0") << 0 << RainColour{0, 0, 0} << RainColour{0, 0, 0};
    QTest::newRow("50") << 50 << RainColour{74, 127, 49} << RainColour{24, 42, 16};
    QTest::newRow("99") << 99 << RainColour{148, 252, 98} << RainColour{49, 84, 32};
}

void TestAbout::colours()
{
    QFETCH(int, brightness);
    QFETCH(RainColour, head);
    QFETCH(RainColour, trail);
    QVERIFY(rainHeadColour(brightness) == head);
    QVERIFY(rainTrailColour(brightness) == trail);
}

void TestAbout::tailRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("tail");
    QTest::newRow("far down") << 45 << 31 << 5;
    QTest::newRow("exactly 40") << 40 << 31 << 0;
    QTest::newRow("row 0 wraps to the bottom") << 0 << 31 << -40 + 32 + 32;
    QTest::newRow("wraps once") << 30 << 31 << 22;
    QTest::newRow("few rows wrap twice") << 1 << 20 << 3;
}

void TestAbout::tailRow()
{
    QFETCH(int, row);
    QFETCH(int, rows);
    QFETCH(int, tail);
    QCOMPARE(rainTailRow(row, rows), tail);
}

void TestAbout::gridFromCreationSize()
{
    LetterRain rain;
    rain.start(QStringLiteral("zan"), 446, 374);
    QCOMPARE(rain.columns(), 55);
    QCOMPARE(rain.rows(), 31);
    QCOMPARE(rain.drops().size(), 110);
    for (int i = 0; i < rain.drops().size(); ++i) {
        const RainDrop &d = rain.drops().at(i);
        QCOMPARE(d.column, i % 55);
        QVERIFY(d.row >= 0 && d.row < 31);
        QVERIFY(d.speed >= 1 && d.speed <= 3);
        QVERIFY(d.brightness >= 0 && d.brightness <= 99);
    }
    // The drop count is bounded.
    LetterRain wide;
    wide.start(QStringLiteral("zan"), 8 * 3000, 120);
    QCOMPARE(wide.drops().size(), 5000);
}

void TestAbout::tickDrawsAndMoves()
{
    LetterRain rain;
    rain.start(QStringLiteral("zan"), 446, 374);
    rain.drops().resize(3);
    rain.drops()[0] = RainDrop{0, 0, 1, 50, {}};       // row 0: head only, tail wraps
    rain.drops()[1] = RainDrop{1, 10, 2, 99, {}};
    rain.drops()[2] = RainDrop{2, 32, 1, 0, {}};       // beyond rows + 1 after moving
    const QList<RainCell> cells = rain.tick();
    QCOMPARE(cells.size(), 8);
    QCOMPARE(cells[0].kind, RainCell::Erase);
    QCOMPARE(cells[0].row, rainTailRow(0, 31));
    QCOMPARE(cells[1].kind, RainCell::Head);
    QCOMPARE(cells[1].row, 0);
    QVERIFY(cells[1].colour == rainHeadColour(50));
    QCOMPARE(cells[3].kind, RainCell::Trail);
    QCOMPARE(cells[3].row, 9);
    QVERIFY(cells[3].colour == rainTrailColour(99));
    QCOMPARE(cells[3].character, cells[4].character);
    for (const RainCell &c : cells) {
        if (c.kind != RainCell::Erase)
            QVERIFY(QStringLiteral("zan").contains(c.character));
    }
    QCOMPARE(rain.drops()[0].last, cells[1].character);
    // Frame 0: every speed divides it, every drop moves one row.
    QCOMPARE(rain.drops()[0].row, 1);
    QCOMPARE(rain.drops()[1].row, 11);
    QCOMPARE(rain.drops()[2].row, 0); // 33 > rows + 1: back to the top
    QCOMPARE(rain.frame(), 1);
    rain.tick(); // frame 1: only speed 1 moves
    QCOMPARE(rain.drops()[0].row, 2);
    QCOMPARE(rain.drops()[1].row, 11);
}

void TestAbout::layout()
{
    auto box = makeBox();
    QCOMPARE(box->windowTitle(), QStringLiteral("About Morvane"));
    QCOMPARE(box->size(), QSize(446, 374));
    QVERIFY(box->isModal());
    QCOMPARE(box->windowType(), Qt::Tool);
    QCOMPARE(box->Panel1->geometry(), QRect(48, 42, 350, 291));
    QCOMPARE(box->Image1->geometry(), QRect(10, 123, 32, 32));
    QCOMPARE(box->Label2->geometry(), QRect(49, 122, 290, 40));
    QCOMPARE(box->Label2->text(), QStringLiteral("Morvane 3.1"));
    QCOMPARE(box->BitBtn1->geometry(), QRect(49, 224, 122, 33));
    QCOMPARE(box->BitBtn2->geometry(), QRect(177, 224, 122, 33));
    QCOMPARE(box->BitBtn1->text(), QStringLiteral("OK"));
    QCOMPARE(box->BitBtn2->text(), QStringLiteral("Info"));
    QCOMPARE(box->Credits1->text(), QStringLiteral("Acknowledgements..."));
    QCOMPARE(box->Howtouninstall1->text(), QStringLiteral("How to uninstall..."));
    QCOMPARE(box->LicensePrivacyPolicy1->text(), QStringLiteral("License..."));
    QCOMPARE(box->Label5->toolTip(), TAboutBox::homePageUrl());
    QVERIFY(!box->PanelEgg->isVisible());
    QCOMPARE(box->PanelEgg->geometry(), QRect((446 - 324) / 2, (374 - 220) / 2, 324, 220));
    QCOMPARE(box->tmTimer->interval(), 50);
    QVERIFY(box->tmTimer->isActive());
    QCOMPARE(box->TimerEgg->interval(), 5);
    QVERIFY(!box->TimerEgg->isActive());
    QVERIFY(!box->Image2->pixmap().isNull());
    QCOMPARE(box->Image2->pixmap().deviceIndependentSize(), QSizeF(344, 105));
    QCOMPARE(box->ImageEgg->pixmap().deviceIndependentSize(), QSizeF(320, 214));
    QCOMPARE(box->rain().columns(), box->rainSize().width() / 8);
    QCOMPARE(box->rain().rows(), box->rainSize().height() / 12);
}

void TestAbout::paintsChangedCellsOnly()
{
    auto box = makeBox();
    box->tmTimer->stop();
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    box->rain().drops().resize(1);
    box->rain().drops()[0] = RainDrop{3, 20, 1, 99, {}};
    box->tmTimerTimer();
    const QRegion dirty = box->lastDirtyRegion();
    QCOMPARE(dirty, QRegion(QRect(24, rainTailRow(20, box->rain().rows()) * 12, 8, 12))
                        + QRegion(QRect(24, 19 * 12, 8, 24)));
    QVERIFY(box->testAttribute(Qt::WA_OpaquePaintEvent));
}

void TestAbout::resizeRestartsWithCreationSize()
{
    auto box = makeBox();
    const QSize created = box->rainSize();
    const int columns = box->rain().columns();
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    box->rain().drops()[0].row = 999;
    box->resize(600, 500);
    QTRY_VERIFY(box->rain().drops()[0].row < box->rain().rows());
    QCOMPARE(box->rain().columns(), columns);
    QCOMPARE(box->rainSize(), created);
    QCOMPARE(box->rain().drops().size(), 2 * columns);
    QVERIFY(box->rain().drops()[0].row < box->rain().rows());
}

void TestAbout::slide()
{
    auto box = makeBox();
    box->show();
    const QPoint home = box->Panel1->pos();
    box->Image1DblClick();
    QVERIFY(box->PanelEgg->isVisible());
    QVERIFY(box->TimerEgg->isActive());
    box->TimerEgg->stop(); // stepped by hand
    box->TimerEgg->start();
    box->TimerEggTimer();
    QCOMPARE(box->Panel1->pos(), home + QPoint(5, 0));
    // While sliding, neither double-click does anything.
    box->Image1DblClick();
    box->ImageEggDblClick();
    QVERIFY(box->PanelEgg->isVisible());
    QCOMPARE(box->Panel1->pos(), home + QPoint(5, 0));
    while (box->TimerEgg->isActive())
        box->TimerEggTimer();
    QVERIFY(box->Panel1->x() > box->width());
    QVERIFY(box->Panel1->x() <= box->width() + 5);
    QCOMPARE(box->Panel1->y(), home.y());
    // Uncovered: a double-click on the picture puts the panel back, centred.
    QTest::mouseDClick(box->ImageEgg, Qt::LeftButton);
    QVERIFY(!box->PanelEgg->isVisible());
    QCOMPARE(box->Panel1->pos(), QPoint((box->width() - 350) / 2, home.y()));
}

void TestAbout::links_data()
{
    QTest::addColumn<QString>("which");
    QTest::addColumn<QUrl>("url");
    QTest::newRow("Label5") << "Label5" << QUrl("http://127.0.0.1:9/");
    QTest::newRow("Acknowledgements") << "Credits1" << QUrl("https://127.0.0.1:9/blog/credits-and-acknowledgements/");
    QTest::newRow("How to uninstall") << "Howtouninstall1"
                                      << QUrl("http://127.0.0.1:9/blog/how-to-uninstall-zantero-software/");
}

void TestAbout::links()
{
    QFETCH(QString, which);
    QFETCH(QUrl, url);
    auto box = makeBox();
    box->show();
    if (which == "Label5")
        QTest::mouseClick(box->Label5, Qt::LeftButton);
    else
        box->findChild<QAction *>(which)->trigger();
    QCOMPARE(m_dialogs.takeOpenedUrl(), url);
}

void TestAbout::license()
{
    auto box = makeBox();
    box->LicensePrivacyPolicy1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"File not found!", "License", Icon::Error, {}}));
    QVERIFY(m_dialogs.openedUrls().isEmpty());
    writeFileBytes(m_dir->filePath("license.txt"), "GPL");
    box->LicensePrivacyPolicy1->trigger();
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl::fromLocalFile(m_dir->filePath("license.txt")));
}

void TestAbout::escapeCloses_data()
{
    QTest::addColumn<QString>("button");
    QTest::newRow("OK") << "BitBtn1";
    QTest::newRow("Info") << "BitBtn2";
}

void TestAbout::escapeCloses()
{
    QFETCH(QString, button);
    auto box = makeBox();
    box->show();
    QVERIFY(QTest::qWaitForWindowActive(box.get()));
    auto *target = box->findChild<QPushButton *>(button);
    target->setFocus();
    QTest::keyClick(target, Qt::Key_Escape);
    QVERIFY(!box->isVisible());
}

void TestAbout::dragging_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("moves");
    QTest::newRow("background, left") << "window" << int(Qt::LeftButton) << true;
    QTest::newRow("Panel1, middle") << "Panel1" << int(Qt::MiddleButton) << true;
    QTest::newRow("Image2, left") << "Image2" << int(Qt::LeftButton) << true;
    QTest::newRow("Image1, left") << "Image1" << int(Qt::LeftButton) << true;
    QTest::newRow("Label2, left") << "Label2" << int(Qt::LeftButton) << true;
    QTest::newRow("ImageEgg, left") << "ImageEgg" << int(Qt::LeftButton) << true;
    QTest::newRow("Panel1, right") << "Panel1" << int(Qt::RightButton) << false;
    QTest::newRow("OK button, left") << "BitBtn1" << int(Qt::LeftButton) << false;
    QTest::newRow("Info button, left") << "BitBtn2" << int(Qt::LeftButton) << false;
}

void TestAbout::dragging()
{
    QFETCH(QString, target);
    QFETCH(int, button);
    QFETCH(bool, moves);
    auto box = makeBox();
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    QWidget *on = target == "window" ? box.get() : box->findChild<QWidget *>(target);
    QVERIFY(on);
    const QPoint start = box->pos();
    const QPoint grip(4, 4);
    sendMouse(on, QEvent::MouseButtonPress, grip, Qt::MouseButton(button));
    sendMouse(on, QEvent::MouseMove, grip + QPoint(20, -10), Qt::MouseButton(button));
    sendMouse(on, QEvent::MouseButtonRelease, grip, Qt::MouseButton(button));
    QCOMPARE(box->pos(), moves ? start + QPoint(20, -10) : start);
}

// A real click, through the window's event filters, at each button's centre:
// Info opens its menu, OK closes the box.
void TestAbout::buttonsTakeMouseClicks()
{
    auto box = makeBox();
    box->show();
    QVERIFY(QTest::qWaitForWindowExposed(box.get()));
    const QPoint start = box->pos();
    bool menuShown = false;
    QTimer::singleShot(0, [&] {
        QTRY_VERIFY(box->PopupMenu1->isVisible());
        menuShown = true;
        box->PopupMenu1->close();
    });
    QTest::mouseClick(box->BitBtn2, Qt::LeftButton, {}, box->BitBtn2->rect().center());
    QVERIFY(menuShown);
    QVERIFY(box->isVisible());
    QTest::mouseClick(box->BitBtn1, Qt::LeftButton, {}, box->BitBtn1->rect().center());
    QVERIFY(!box->isVisible());
    QCOMPARE(box->pos(), start);
}

void TestAbout::menuOpensModalBox()
{
    writeFileBytes(m_dir->filePath("list.txt"), "");
    AppEnvironment env;
    env.dialogs = &m_dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = m_dir->path();
    env.configFolder = m_dir->path();
    env.desktopFolder = m_dir->path();
    TAppForm w(env);
    QVERIFY(w.About1->isEnabled());
    QPointer<TAboutBox> shown;
    QTimer::singleShot(0, [&] {
        shown = qobject_cast<TAboutBox *>(QApplication::activeModalWidget());
        QVERIFY(shown);
        shown->BitBtn1->click();
    });
    w.About1->trigger();
    QTRY_VERIFY(shown.isNull()); // closed and freed
}

void TestAbout::everyCommandHasAHandler()
{
    writeFileBytes(m_dir->filePath("list.txt"), "");
    AppEnvironment env;
    env.dialogs = &m_dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = m_dir->path();
    env.configFolder = m_dir->path();
    env.desktopFolder = m_dir->path();
    env.serviceSettingsFile = m_dir->filePath("Morvane.conf");
    TAppForm w(env);
    // The update check ends (the maker's server cannot be reached here) and
    // enables its item.
    w.TimerChecker->stop();
    w.TimerCheckerTimer();
    QTRY_VERIFY_WITH_TIMEOUT(w.updateCheck()->checkDone(), 30000);
    w.TimerCheckerTimer();

    // An item that only sits in a menu, with no handler, is the baseline.
    QMenu probeMenu;
    QAction *probe = probeMenu.addAction(QStringLiteral("probe"));
    const int bare = triggeredReceivers(probe);

    QList<QMenu *> menus;
    for (QAction *top : w.menuBar()->actions())
        menus.append(top->menu());
    menus += {w.PopupMenu1, w.PopupMenu2, w.PopupMenu3};
    int commands = 0;
    for (QMenu *menu : menus) {
        QVERIFY(menu);
        for (QAction *a : menu->actions()) {
            if (a->isSeparator())
                continue;
            QVERIFY2(triggeredReceivers(a) > bare, qPrintable(a->objectName()));
            // An item shown only while a batch runs (Cancel Downloads) is not
            // in the table of an idle window.
            if (!a->isVisible())
                continue;
            ++commands;
            QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
        }
    }
    QCOMPARE(commands, 27); // 14 menu bar items, 4 + 7 + 2 in the popups
}

QTEST_MAIN(TestAbout)
#include "tst_about.moc"
