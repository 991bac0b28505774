// The main window as the user meets it: start-up, the settings file, the
// download location, the feed list commands, the menus and the error handler.
#include "app/main.h"
#include "feeds/displayrss.h"
#include "feeds/episodemodel.h"
#include "feeds/finddialog.h"
#include "feeds/findpodcasts.h"
#include "transcribe/transcribeform.h"
#include "feeds/feedlistfile.h"
#include "feeds/feedlistmodel.h"
#include "scripteddialogs.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QProgressBar>
#include <QTabWidget>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include "testhelpers.h"
#include <QTimer>

#include <memory>

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;

using testhelpers::readFileBytes;
using testhelpers::writeFileBytes;

namespace {

QByteArray settingsBytes(const QString &location)
{
    return QByteArray("\xEF\xBB\xBF[Settings]\r\nDownloadLocation=") + location.toUtf8() + "\r\n\r\n";
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void firstStart();
    void startWithList();
    void invalidSettingsRebuilt();
    void savedLocation_data();
    void savedLocation();
    void dataFolderInTheWay();
    void typingSavesEveryChange();
    void unwritableSettingsReportedPerChange();

    void layoutAndMenus();
    void shortcuts();
    void tabOrder_data();
    void tabOrder();
    void tabLeavesTranscript();
    void arrowKeysMoveWithinList_data();
    void arrowKeysMoveWithinList();
    void minimumSize();
    void accessibleNames();
    void windowIcon();

    void welcomeWhileListEmpty();
    void addFeed_data();
    void addFeed();
    void addFeedCancelled();
    void addFeedKeepsSelectionOnNewRow();
    void deleteSelected();
    void deleteAllAndClear_data();
    void deleteAllAndClear();
    void copyUrl();
    void listSaveFailureReachesErrorHandler();
    void twoCopiesShareTheList();
    void listChangedOnDiskIsShown();
    void deleteButtonMenuOpensUnderButton();

    void folderPicker();
    void explore();
    void onlineHelp();
    void openingFailsVisibly();
    void resetAnsweredNo();
    void resetAnsweredYes();

private:
    std::unique_ptr<TAppForm> makeWindow();
    // A shown, active window with rows in both lists.
    std::unique_ptr<TAppForm> makeFilledWindow();
    QString dataFile(const char *name) const { return m_program->filePath(QLatin1String(name)); }
    void selectFeeds(TAppForm &w, const QList<int> &rows);

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_program, m_config, m_desktop;
    bool m_restarted = false;
};

void TestMainWindow::init()
{
    m_program = std::make_unique<QTemporaryDir>();
    m_config = std::make_unique<QTemporaryDir>();
    m_desktop = std::make_unique<QTemporaryDir>();
    m_restarted = false;
}

void TestMainWindow::cleanup()
{
    m_dialogs.verifyDone();
}

std::unique_ptr<TAppForm> TestMainWindow::makeWindow()
{
    AppEnvironment env;
    env.dialogs = &m_dialogs;
    env.versionFile = QCoreApplication::applicationFilePath();
    env.programFolder = m_program->path();
    env.configFolder = m_config->path();
    env.desktopFolder = m_desktop->path();
    env.restartProgram = [this] { m_restarted = true; };
    return std::make_unique<TAppForm>(env);
}

std::unique_ptr<TAppForm> TestMainWindow::makeFilledWindow()
{
    writeFileBytes(dataFile("list.txt"), "http://a.example/feed\nhttp://b.example/feed\nhttp://c.example/feed\n");
    auto w = makeWindow();
    w->episodeModel()->setRows({{"One", "http://m.example/1.mp3", "d1", ""},
                                {"Two", "http://m.example/2.mp3", "d2", ""},
                                {"Three", "http://m.example/3.mp3", "d3", ""}});
    w->show();
    if (!QTest::qWaitForWindowActive(w.get()))
        return nullptr;
    return w;
}

void TestMainWindow::selectFeeds(TAppForm &w, const QList<int> &rows)
{
    w.ListBox1->clearSelection();
    for (int row : rows)
        w.ListBox1->selectionModel()->select(w.feedModel()->index(row, 0),
                                             QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestMainWindow::firstStart()
{
    auto w = makeWindow();
    QCOMPARE(w->windowTitle(), "ZANTERO - Morvane");
    QCOMPARE(w->dataFolder(), m_program->path() + "/");
    QCOMPARE(w->Edit1->text(), m_desktop->path());
    QCOMPARE(w->rememberedFolder(), m_desktop->path());
    // settings.ini exists at once, holding the Desktop, readable by its owner only.
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes(m_desktop->path()));
    QCOMPARE(QFile::permissions(dataFile("settings.ini")) & 0x0FFF, QFileDevice::ReadUser | QFileDevice::WriteUser);
    // No list.txt: the one-shot first-run timer is armed, and start-up writes no list.
    QVERIFY(w->Timer1->isActive());
    QCOMPARE(w->Timer1->interval(), 100);
    QVERIFY(!QFile::exists(dataFile("list.txt")));
    QTRY_VERIFY(!w->Timer1->isActive());
    QVERIFY(!QFile::exists(dataFile("chk.tmp")));
    // The timer fetched the podcast directory; the maker's server cannot be
    // reached here, so the box tells so and an empty list.txt is written.
    const Box box = m_dialogs.takeBox();
    QCOMPARE(box.title, QStringLiteral("ERROR"));
    QCOMPARE(box.icon, Icon::Error);
    QVERIFY(!box.text.isEmpty());
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("\xEF\xBB\xBF"));
}

void TestMainWindow::welcomeWhileListEmpty()
{
    writeFileBytes(dataFile("list.txt"), "");
    auto w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    QVERIFY(w->Panel4->isVisible());
    QVERIFY(!w->ListBox1->isVisible());
    QVERIFY(w->Label3->text().contains("empty"));
    QCOMPARE(w->Button6->text(), "Add RSS...");
    QCOMPARE(w->Button7->text(), "Find Podcasts...");
    QCOMPARE(w->Button8->text(), "Import OPML...");
    // Each way in is one click away.
    m_dialogs.answerInput(std::nullopt);
    QTest::mouseClick(w->Button6, Qt::LeftButton);
    QCOMPARE(m_dialogs.lastInputPrompt, "Please enter new RSS URL:");
    m_dialogs.answerFile(std::nullopt);
    QTest::mouseClick(w->Button8, Qt::LeftButton);
    QCOMPARE(m_dialogs.lastFileMode, UserDialogs::FileMode::Open);
    QVERIFY(!w->findPodcasts());
    QTest::mouseClick(w->Button7, Qt::LeftButton);
    QVERIFY(w->findPodcasts());
    QVERIFY(w->findPodcasts()->isVisible());
    w->findPodcasts()->close();

    // The first feed brings the list back; emptying it, the welcome.
    w->feedModel()->append({"http://a.example/feed"});
    QVERIFY(w->ListBox1->isVisible());
    QVERIFY(!w->Panel4->isVisible());
    w->DeleteAll1->trigger();
    QVERIFY(w->Panel4->isVisible());
    QVERIFY(!w->ListBox1->isVisible());

    // A list that starts with feeds shows them.
    writeFileBytes(dataFile("list.txt"), "http://a.example/feed\n");
    auto filled = makeWindow();
    filled->show();
    QVERIFY(QTest::qWaitForWindowExposed(filled.get()));
    QVERIFY(filled->ListBox1->isVisible());
    QVERIFY(!filled->Panel4->isVisible());
}

void TestMainWindow::startWithList()
{
    writeFileBytes(dataFile("list.txt"), "http://a.example/feed\nhttp://b.example/feed\n");
    auto w = makeWindow();
    QCOMPARE(w->feedUrls(), (QStringList{"http://a.example/feed", "http://b.example/feed"}));
    QVERIFY(!w->Timer1->isActive());
    // Start-up never writes list.txt.
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("http://a.example/feed\nhttp://b.example/feed\n"));

    // An empty list.txt still counts as not the first run.
    writeFileBytes(dataFile("list.txt"), "");
    auto second = makeWindow();
    QVERIFY(second->feedUrls().isEmpty());
    QVERIFY(!second->Timer1->isActive());
}

void TestMainWindow::invalidSettingsRebuilt()
{
    QDir(m_program->path()).mkdir("Müzik");
    // Saved by another editor in Windows-1252: not UTF-8, so thrown away.
    writeFileBytes(dataFile("settings.ini"), "[Settings]\r\nDownloadLocation=" + m_program->path().toUtf8()
                                             + "/M\xFCzik\r\nOpenAIKey=sk-x\r\n");
    auto w = makeWindow(); // no message: cleanup() checks that no box was shown
    QCOMPARE(w->Edit1->text(), m_desktop->path());
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes(m_desktop->path()));
    QCOMPARE(w->settings().value("Settings", "OpenAIKey"), QString());
}

void TestMainWindow::savedLocation_data()
{
    QTest::addColumn<QString>("saved");
    QTest::addColumn<bool>("kept");
    QTest::newRow("existing folder") << "folder" << true;
    QTest::newRow("link to a folder") << "link" << true;
    QTest::newRow("missing folder") << "gone" << false;
    QTest::newRow("a file, not a folder") << "file" << false;
    QTest::newRow("empty") << "" << false;
}

void TestMainWindow::savedLocation()
{
    QFETCH(QString, saved);
    QFETCH(bool, kept);
    QTemporaryDir places;
    QDir(places.path()).mkdir("folder");
    QFile::link(places.filePath("folder"), places.filePath("link"));
    writeFileBytes(places.filePath("file"), "x");
    const QString location = saved.isEmpty() ? QString() : places.filePath(saved);
    writeFileBytes(dataFile("settings.ini"), settingsBytes(location) + "[Other]\r\nKey=kept\r\n");

    auto w = makeWindow();
    const QString expected = kept ? location : m_desktop->path();
    QCOMPARE(w->Edit1->text(), expected);
    QCOMPARE(w->rememberedFolder(), expected);
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes(expected) + "[Other]\r\nKey=kept\r\n\r\n");
}

void TestMainWindow::dataFolderInTheWay()
{
    writeFileBytes(dataFile("chk.tmp"), "someone else's");
    auto w = makeWindow();
    const QString perUser = m_config->path() + "/ZANTERO/Morvane/";
    QCOMPARE(w->dataFolder(), perUser);
    QCOMPARE(readFileBytes(perUser + "settings.ini"), settingsBytes(m_desktop->path()));
    QVERIFY(!QFile::exists(dataFile("settings.ini")));
}

void TestMainWindow::typingSavesEveryChange()
{
    auto w = makeWindow();
    w->Edit1->clear();
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes(QString()));
    QTest::keyClicks(w->Edit1, "/tm");
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes("/tm"));
    QTest::keyClick(w->Edit1, 'p');
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes("/tmp"));
    // The folder picker's remembered folder does not follow the typing.
    QCOMPARE(w->rememberedFolder(), m_desktop->path());
}

void TestMainWindow::unwritableSettingsReportedPerChange()
{
    auto w = makeWindow();
    QFile::remove(dataFile("settings.ini"));
    QDir(m_program->path()).mkdir("settings.ini"); // a folder in the way of the file
    QTest::keyClicks(w->Edit1, "ab");
    for (int i = 0; i < 2; ++i) {
        const Box box = m_dialogs.takeBox();
        QCOMPARE(box.title, "Morvane");
        QCOMPARE(box.icon, Icon::Error);
        QVERIFY2(box.text.contains("settings.ini"), qPrintable(box.text));
        QVERIFY(box.text.endsWith('.'));
    }
    QCOMPARE(w->Edit1->text(), m_desktop->path() + "ab"); // the program goes on
}

void TestMainWindow::layoutAndMenus()
{
    auto w = makeWindow();
    QCOMPARE(w->Button3->text(), "Add RSS...");
    QCOMPARE(w->Button3->size(), QSize(130, 30));
    QCOMPARE(w->Button5->text(), "Delete");
    QCOMPARE(w->BitBtn2->text(), "Explore");
    QCOMPARE(w->BitBtn1->text(), "Download");
    QVERIFY(w->BitBtn1->font().bold());
    QCOMPARE(w->Button1->text(), "Transcribe");
    QCOMPARE(w->Label1->text(), "Download Location:");
    QCOMPARE(w->Edit1->width(), 281);
    QCOMPARE(w->PageControl1->tabText(0), "RSS Feeds");
    QCOMPARE(w->PageControl2->tabText(0), "Downloadable Episodes");
    QVERIFY(w->ProgressBar1->isHidden());
    QCOMPARE(w->ProgressBar1->maximum(), 100);
    QVERIFY(w->ListBox1->horizontalHeader()->isHidden());
    QCOMPARE(w->ListView1->model()->columnCount(), 4);
    const QStringList headers{"Title", "URL", "Date", "Status"};
    for (int c = 0; c < 4; ++c)
        QCOMPARE(w->ListView1->model()->headerData(c, Qt::Horizontal).toString(), headers[c]);
    QCOMPARE(w->ListView1->columnWidth(0), 150);
    QCOMPARE(w->ListView1->columnWidth(3), 100);
    QCOMPARE(w->TimerChecker->interval(), 1000);

    // Menus with their separators, in order ("-" is a separator), as shown:
    // hidden items left out.
    auto texts = [](QMenu *menu) {
        QStringList out;
        for (QAction *a : menu->actions()) {
            if (a->isVisible())
                out << (a->isSeparator() ? QStringLiteral("-") : a->text());
        }
        return out;
    };
    QStringList bar;
    for (QAction *a : w->menuBar()->actions())
        bar << a->text();
    QCOMPARE(bar, (QStringList{"Podcast", "Edit", "Settings", "Help"}));
    QCOMPARE(texts(w->File1), (QStringList{"Add RSS...", "-", "Clear Podcast List", "Fetch Podcast List",
                                            "Find Podcasts...", "-", "Import OPML...", "Export OPML...", "-", "Exit"}));
    QCOMPARE(texts(w->Edit2), (QStringList{"Find...", "Find Next"}));
    QCOMPARE(texts(w->Settings1), (QStringList{"Reset to Defaults..."}));
    QCOMPARE(texts(w->Help1),
             (QStringList{"Online Help", "-", "Update Notifications", "-", "Send Feedback...", "About..."}));
    QCOMPARE(texts(w->PopupMenu1), (QStringList{"Retrieve Episodes", "-", "Copy URL", "Delete", "-", "View Source..."}));
    QCOMPARE(texts(w->PopupMenu2), (QStringList{"Download", "Transcribe", "-", "Copy Title", "Copy URL", "Copy Date", "-",
                                                "Deselect All", "Select All"}));
    QCOMPARE(texts(w->PopupMenu3), (QStringList{"Delete Selected", "Delete All"}));
    // Shown between Download and Transcribe while a batch runs.
    QCOMPARE(w->CancelDownloads1->text(), QStringLiteral("Cancel Downloads"));
    QCOMPARE(w->PopupMenu2->actions().indexOf(w->CancelDownloads1), 1);
    QCOMPARE(w->CancelDownloads1->shortcut(), QKeySequence(Qt::Key_Escape));
    QVERIFY(w->UpdateNotifications1->isCheckable());
    QVERIFY(w->UpdateNotifications1->isChecked());
    QVERIFY(!w->UpdateNotifications1->isEnabled());
    QCOMPARE(w->Help1->actions().at(3), w->UpdateNotificationsBar);
    QCOMPARE(w->Exit1->shortcut(), QKeySequence(Qt::ALT | Qt::Key_F4));
    QCOMPARE(w->Help2->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(w->FindNext1->shortcut(), QKeySequence(Qt::Key_F3));
    for (QAction *a : {w->Add1, w->Exit1, w->Find1, w->Help2, w->SendFeedback1, w->About1, w->Download1, w->Transcribe1})
        QVERIFY2(!a->icon().isNull(), qPrintable(a->objectName()));
    QVERIFY(!w->Button2->icon().isNull());
}

void TestMainWindow::shortcuts()
{
    qputenv("MORVANE_MAKER_HOST", "127.0.0.1:9");
    auto w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    w->ListView1->setFocus();
    QTest::keyClick(w.get(), Qt::Key_F1);
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl("http://127.0.0.1:9/help/morvane/"));
    QSignalSpy closed(w->Exit1, &QAction::triggered);
    QTest::keyClick(w->Edit1, Qt::Key_F4, Qt::AltModifier);
    QCOMPARE(closed.count(), 1);
    QVERIFY(!w->isVisible());
}

void TestMainWindow::tabOrder_data()
{
    QTest::addColumn<bool>("backward");
    QTest::newRow("Tab") << false;
    QTest::newRow("Shift+Tab") << true;
}

// Tab goes from control to control and round again; it leaves each list
// however many rows it has.
void TestMainWindow::tabOrder()
{
    QFETCH(bool, backward);
    auto w = makeFilledWindow();
    QVERIFY(w);
    QList<QWidget *> expected{w->ListBox1, w->ListView1, w->Edit1, w->Button2, w->BitBtn2,
                              w->BitBtn1,  w->Button1,   w->Button3, w->Button5};
    if (backward)
        std::reverse(expected.begin(), expected.end());
    expected.first()->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), expected.first());
    for (int step = 1; step <= expected.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), backward ? Qt::Key_Backtab : Qt::Key_Tab,
                        backward ? Qt::ShiftModifier : Qt::NoModifier);
        QWidget *want = expected.at(step % expected.size());
        QVERIFY2(QApplication::focusWidget() == want,
                 qPrintable(QStringLiteral("step %1: %2 instead of %3")
                                .arg(step)
                                .arg(QApplication::focusWidget() ? QApplication::focusWidget()->objectName() : "nothing",
                                     want->objectName())));
    }
}

// The Transcribe window's transcript takes no Tab characters: Tab leaves it
// for the next control, as in every window of the program.
void TestMainWindow::tabLeavesTranscript()
{
    auto w = makeWindow();
    auto *form = new TFormTranscribe(w->settings(), m_dialogs, w.get());
    form->show();
    QVERIFY(QTest::qWaitForWindowActive(form));
    form->MemoOpenAI->setPlainText(QStringLiteral("transcript"));
    form->MemoOpenAI->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), form->MemoOpenAI);
    QTest::keyClick(form->MemoOpenAI, Qt::Key_Tab);
    QVERIFY(QApplication::focusWidget() != form->MemoOpenAI);
    QCOMPARE(form->MemoOpenAI->toPlainText(), QStringLiteral("transcript"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), form->MemoOpenAI);
    form->close();
}

void TestMainWindow::arrowKeysMoveWithinList_data()
{
    QTest::addColumn<QString>("list");
    QTest::newRow("feed list") << "ListBox1";
    QTest::newRow("episode list") << "ListView1";
}

void TestMainWindow::arrowKeysMoveWithinList()
{
    QFETCH(QString, list);
    auto w = makeFilledWindow();
    QVERIFY(w);
    auto *view = w->findChild<QTableView *>(list);
    QVERIFY(view);
    view->setFocus();
    view->setCurrentIndex(view->model()->index(0, 0));
    QTest::keyClick(view, Qt::Key_Down);
    QCOMPARE(view->currentIndex().row(), 1);
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Down); // the last row stays current
    QCOMPARE(view->currentIndex().row(), 2);
    QTest::keyClick(view, Qt::Key_Up);
    QCOMPARE(view->currentIndex().row(), 1);
    QCOMPARE(QApplication::focusWidget(), view);
    // Moving within the feed list retrieves nothing: that takes a click.
    QCOMPARE(w->episodeModel()->rowCount(), 3);
}

// At its minimum size every control of the window is whole and none covers
// another; above it the window grows freely.
void TestMainWindow::minimumSize()
{
    auto w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QSize minimum = w->minimumSize();
    QVERIFY(minimum.isValid() && !minimum.isEmpty());
    QCOMPARE(minimum, w->minimumSizeHint());
    w->resize(1, 1);
    QTRY_COMPARE(w->size(), minimum);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    const QList<QWidget *> controls{w->Button3, w->Button5, w->PageControl1, w->PageControl2, w->Label1, w->Edit1,
                                    w->Button2, w->BitBtn2,  w->Label2,       w->BitBtn1,      w->Button1, w->StatusBar1};
    auto inWindow = [&w](QWidget *c) { return QRect(c->mapTo(w.get(), QPoint(0, 0)), c->size()); };
    for (QWidget *c : controls) {
        QVERIFY2(w->rect().contains(inWindow(c)), qPrintable(c->objectName()));
        // Whole: at least the size it asks for (a control of fixed size, its size).
        const QSize needed = c->minimumSize() == c->maximumSize() ? c->minimumSize()
                                                                  : c->minimumSizeHint().expandedTo(c->minimumSize());
        QVERIFY2(c->width() >= needed.width() && c->height() >= needed.height(), qPrintable(c->objectName()));
        for (QWidget *other : controls) {
            if (other != c)
                QVERIFY2(!inWindow(c).intersects(inWindow(other)),
                         qPrintable(c->objectName() + " and " + other->objectName()));
        }
    }
    w->resize(1200, 900);
    QTRY_COMPARE(w->size(), QSize(1200, 900));
}

void TestMainWindow::accessibleNames()
{
    auto w = makeWindow();
    // Every button that shows only an image says what it does.
    const QList<QAbstractButton *> buttons = w->findChildren<QAbstractButton *>();
    int imageOnly = 0;
    for (QAbstractButton *b : buttons) {
        if (!b->text().isEmpty() || b->icon().isNull() || b->objectName().startsWith("qt_"))
            continue; // Qt's own buttons (the menu bar's overflow arrow) name themselves
        ++imageOnly;
        QVERIFY2(!b->accessibleName().isEmpty(), qPrintable(b->objectName()));
        QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
    }
    QVERIFY(imageOnly >= 1);
    QCOMPARE(w->Button2->accessibleName(), "Select folder");
    QCOMPARE(w->Button2->toolTip(), "Select folder");

    // What assistive technology is told.
    auto name = [](QObject *o) {
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(o);
        return a ? a->text(QAccessible::Name) : QStringLiteral("<no interface>");
    };
    QCOMPARE(name(w->Button2), "Select folder");
    QCOMPARE(name(w->ListBox1), "RSS Feeds");
    QCOMPARE(name(w->ListView1), "Downloadable Episodes");
    QCOMPARE(name(w->Edit1), "Download Location:");
    QAccessibleInterface *feeds = QAccessible::queryAccessibleInterface(w->ListBox1);
    QVERIFY(feeds && feeds->tableInterface());
    QCOMPARE(feeds->tableInterface()->columnDescription(0), "RSS");
    QAccessibleInterface *episodes = QAccessible::queryAccessibleInterface(w->ListView1);
    QVERIFY(episodes && episodes->tableInterface());
    const QStringList columns{"Title", "URL", "Date", "Status"};
    for (int c = 0; c < columns.size(); ++c)
        QCOMPARE(episodes->tableInterface()->columnDescription(c), columns.at(c));
}

// The main window and the windows it opens carry the program's icon.
void TestMainWindow::windowIcon()
{
    auto w = makeWindow();
    const QIcon icon = w->windowIcon();
    QVERIFY(!icon.isNull());
    // Drawn in every size a desktop asks for, whatever the screen's scale.
    QCOMPARE(icon.availableSizes(), (QList<QSize>{{16, 16}, {32, 32}, {48, 48}, {64, 64}, {128, 128}, {256, 256}}));
    QCOMPARE(icon.cacheKey(), w->FindDialog1->windowIcon().cacheKey());
    TFormDisplayRSS viewer(QStringLiteral("<rss/>"), m_dialogs, w.get());
    QCOMPARE(viewer.windowIcon().cacheKey(), icon.cacheKey());
}

void TestMainWindow::addFeed_data()
{
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("added");
    // Nothing listens on port 1: the retrieval that follows the adding fails
    // at once with the transport's error.
    QTest::newRow("url") << "http://127.0.0.1:1/pod" << true;
    QTest::newRow("blanks kept") << "  http://127.0.0.1:1/pod  " << true;
    QTest::newRow("initial text unchanged") << "http://" << true;
    QTest::newRow("empty") << "" << false;
    QTest::newRow("blanks and controls") << " \t \x01 " << false;
}

void TestMainWindow::addFeed()
{
    QFETCH(QString, entered);
    QFETCH(bool, added);
    writeFileBytes(dataFile("list.txt"), "http://old.example\n");
    auto w = makeWindow();
    m_dialogs.answerInput(entered);
    w->Button3->click();
    QCOMPARE(m_dialogs.lastInputTitle, "RSS");
    QCOMPARE(m_dialogs.lastInputPrompt, "Please enter new RSS URL:");
    QCOMPARE(m_dialogs.lastInputInitial, "http://");
    if (!added) {
        QCOMPARE(m_dialogs.takeBox(), (Box{"Invalid RSS!", "RSS", Icon::Warning, {}}));
        QCOMPARE(w->feedUrls(), QStringList{"http://old.example"});
        QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("http://old.example\n"));
        return;
    }
    QCOMPARE(w->feedUrls(), (QStringList{"http://old.example", entered}));
    QCOMPARE(w->currentFeedRow(), 1);
    // Adding ends with the retrieval of the new feed, which fails here.
    const Box failure = m_dialogs.takeBox();
    QCOMPARE(failure.title, "Morvane");
    QCOMPARE(failure.icon, Icon::Error);
    QCOMPARE(readFileBytes(dataFile("list.txt")), "\xEF\xBB\xBFhttp://old.example\r\n" + entered.toUtf8() + "\r\n");
}

void TestMainWindow::addFeedCancelled()
{
    auto w = makeWindow();
    m_dialogs.answerInput(std::nullopt);
    w->Add1->trigger(); // the menu item performs the button
    QVERIFY(w->feedUrls().isEmpty());
    QVERIFY(!QFile::exists(dataFile("list.txt")));
}

void TestMainWindow::addFeedKeepsSelectionOnNewRow()
{
    writeFileBytes(dataFile("list.txt"), "http://a\nhttp://b\n");
    auto w = makeWindow();
    selectFeeds(*w, {0, 1});
    m_dialogs.answerInput(QStringLiteral("http://127.0.0.1:1/c"));
    w->Button3->click();
    QCOMPARE(w->selectedFeedRows(), QList<int>{2});
    QCOMPARE(m_dialogs.takeBox().title, "Morvane"); // the retrieval of the unreachable feed
}

void TestMainWindow::twoCopiesShareTheList()
{
    // Two copies on one data folder add and delete in turn, each without
    // waiting to see the other's change: nothing is lost, nothing deleted
    // comes back, and both end up showing the file.
    writeFileBytes(dataFile("list.txt"), "r0\nr1\n");
    auto a = makeWindow();
    auto b = makeWindow();
    const auto add = [this](TAppForm &w, const QString &url) {
        m_dialogs.answerInput(url);
        w.Button3->click();
        m_dialogs.takeBox();  // the retrieval of a feed that is not there
    };
    add(*a, QStringLiteral("feedA"));
    add(*b, QStringLiteral("feedB"));
    const QStringList both{"r0", "r1", "feedA", "feedB"};
    QCOMPARE(readFeedListFile(dataFile("list.txt")), both);
    QCOMPARE(b->feedUrls(), both);
    QTRY_COMPARE(a->feedUrls(), both);

    selectFeeds(*a, {0});
    a->DeleteSelected1->trigger();         // r0
    selectFeeds(*b, {int(b->feedUrls().indexOf("feedA"))});
    b->DeleteSelected1->trigger();         // feedA
    const QStringList left{"r1", "feedB"};
    QCOMPARE(readFeedListFile(dataFile("list.txt")), left);
    QCOMPARE(b->feedUrls(), left);
    QTRY_COMPARE(a->feedUrls(), left);

    // Delete All clears what the copy shows.
    add(*b, QStringLiteral("feedC"));
    QTRY_COMPARE(a->feedUrls(), (QStringList{"r1", "feedB", "feedC"}));
    a->DeleteAll1->trigger();
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("\xEF\xBB\xBF"));
    QCOMPARE(a->feedUrls(), QStringList());
    QTRY_COMPARE(b->feedUrls(), QStringList());
}

void TestMainWindow::listChangedOnDiskIsShown()
{
    writeFileBytes(dataFile("list.txt"), "r0\nr1\nr2\n");
    auto w = makeWindow();
    selectFeeds(*w, {2});
    writeFeedListFile(dataFile("list.txt"), {"r1", "r2", "new"});
    QTRY_COMPARE(w->feedUrls(), (QStringList{"r1", "r2", "new"}));
    QCOMPARE(w->selectedFeedRows(), QList<int>{1});  // r2 stays selected
    // Starting up wrote nothing, and showing the change writes nothing.
    QCOMPARE(readFeedListFile(dataFile("list.txt")), (QStringList{"r1", "r2", "new"}));
}

void TestMainWindow::deleteSelected()
{
    writeFileBytes(dataFile("list.txt"), "r0\nr1\nr2\nr3\nr4\n");
    auto w = makeWindow();
    selectFeeds(*w, {0, 2, 3});
    w->DeleteSelected1->trigger();
    QCOMPARE(w->feedUrls(), (QStringList{"r1", "r4"}));
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("\xEF\xBB\xBFr1\r\nr4\r\n"));

    // With nothing selected the list stays and the file is still rewritten.
    QFile::remove(dataFile("list.txt"));
    w->ListBox1->clearSelection();
    w->Delete2->trigger();
    QCOMPARE(w->feedUrls(), (QStringList{"r1", "r4"}));
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("\xEF\xBB\xBFr1\r\nr4\r\n"));
}

void TestMainWindow::deleteAllAndClear_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("list");
    QTest::newRow("Delete All") << "DeleteAll1" << QByteArray("a\nb\n");
    QTest::newRow("Clear Podcast List") << "ClearList1" << QByteArray("a\nb\n");
    QTest::newRow("Delete All on an empty list") << "DeleteAll1" << QByteArray();
}

void TestMainWindow::deleteAllAndClear()
{
    QFETCH(QString, command);
    QFETCH(QByteArray, list);
    writeFileBytes(dataFile("list.txt"), list);
    auto w = makeWindow();
    selectFeeds(*w, {});
    w->findChild<QAction *>(command)->trigger();
    QVERIFY(w->feedUrls().isEmpty());
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("\xEF\xBB\xBF"));
}

void TestMainWindow::copyUrl()
{
    writeFileBytes(dataFile("list.txt"), "http://a\nhttp://b\nhttp://c\n");
    auto w = makeWindow();
    w->Copy1->trigger();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Please select RSS!", "Warning", Icon::Warning, {}}));
    selectFeeds(*w, {2, 1});
    w->Copy1->trigger();
    QCOMPARE(m_dialogs.takeClipboard(), "http://b");
}

void TestMainWindow::listSaveFailureReachesErrorHandler()
{
    writeFileBytes(dataFile("list.txt"), "a\nb\n");
    auto w = makeWindow();
    QFile::remove(dataFile("list.txt"));
    QDir(m_program->path()).mkdir("list.txt");
    selectFeeds(*w, {0});
    w->DeleteSelected1->trigger();
    const Box box = m_dialogs.takeBox();
    QCOMPARE(box.title, "Morvane");
    QCOMPARE(box.icon, Icon::Error);
    QVERIFY2(box.text.contains("list.txt"), qPrintable(box.text));
    QCOMPARE(w->feedUrls(), QStringList{"b"}); // the list on screen keeps the change
}

void TestMainWindow::deleteButtonMenuOpensUnderButton()
{
    auto w = makeWindow();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QPoint shownAt;
    connect(w->PopupMenu3, &QMenu::aboutToShow, this, [&] {
        QTimer::singleShot(0, w->PopupMenu3, [&] {
            shownAt = w->PopupMenu3->pos();
            w->PopupMenu3->close();
        });
    });
    w->Button5->click(); // returns once the menu has closed
    QCOMPARE(shownAt, w->Button5->mapToGlobal(QPoint(0, w->Button5->height())));
}

void TestMainWindow::folderPicker()
{
    auto w = makeWindow();
    QTemporaryDir picked;
    m_dialogs.answerFolder(std::nullopt);
    w->Button2->click();
    QCOMPARE(m_dialogs.lastFolderTitle, "Select folder:");
    QCOMPARE(m_dialogs.lastFolderStart, m_desktop->path());
    QCOMPARE(w->Edit1->text(), m_desktop->path());

    QTest::keyClicks(w->Edit1, "typed");
    m_dialogs.answerFolder(picked.path());
    w->Button2->click();
    QCOMPARE(m_dialogs.lastFolderStart, m_desktop->path()); // typing did not move it
    QCOMPARE(w->Edit1->text(), picked.path());
    QCOMPARE(w->rememberedFolder(), picked.path());
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settingsBytes(picked.path()));

    // AddMyFolder ignores a blank folder.
    w->AddMyFolder(" \t ");
    QCOMPARE(w->Edit1->text(), picked.path());
}

void TestMainWindow::explore()
{
    auto w = makeWindow();
    w->BitBtn2->click();
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl::fromLocalFile(m_desktop->path()));
    w->Edit1->clear();
    w->BitBtn2->click(); // an empty path is handed on; nothing is shown
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl::fromLocalFile(QString()));
}

void TestMainWindow::onlineHelp()
{
    qputenv("MORVANE_MAKER_HOST", "127.0.0.1:9");
    auto w = makeWindow();
    w->Help2->trigger();
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl("http://127.0.0.1:9/help/morvane/"));
}

// Without a program to open them, "Online Help" and "Explore" say so.
void TestMainWindow::openingFailsVisibly()
{
    qputenv("MORVANE_MAKER_HOST", "127.0.0.1:9");
    auto w = makeWindow();
    m_dialogs.setOpenUrlWorks(false);
    const QString tail = QStringLiteral(": this system has no program to open it (xdg-open, of the package xdg-utils).");
    w->Help2->trigger();
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl("http://127.0.0.1:9/help/morvane/"));
    QCOMPARE(m_dialogs.takeBox(),
             (Box{"Could not open http://127.0.0.1:9/help/morvane/" + tail, "ERROR", Icon::Error, {}}));
    w->BitBtn2->click();
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl::fromLocalFile(m_desktop->path()));
    QCOMPARE(m_dialogs.takeBox(), (Box{"Could not open " + m_desktop->path() + tail, "ERROR", Icon::Error, {}}));
    m_dialogs.setOpenUrlWorks(true);
}

void TestMainWindow::resetAnsweredNo()
{
    writeFileBytes(dataFile("list.txt"), "a\n");
    auto w = makeWindow();
    const QByteArray settings = readFileBytes(dataFile("settings.ini"));
    for (auto answer : {QMessageBox::No, QMessageBox::NoButton}) {
        m_dialogs.answerAsk(answer);
        w->ResettoDefaults1->trigger();
        QCOMPARE(m_dialogs.takeBox(), (Box{"Restart Application?", "Confirmation", Icon::Question, {"Yes", "No"}}));
    }
    QCOMPARE(readFileBytes(dataFile("settings.ini")), settings);
    QCOMPARE(readFileBytes(dataFile("list.txt")), QByteArray("a\n"));
    QVERIFY(!m_restarted);
}

void TestMainWindow::resetAnsweredYes()
{
    writeFileBytes(dataFile("list.txt"), "a\n");
    auto w = makeWindow();
    w->show();
    m_dialogs.answerAsk(QMessageBox::Yes);
    w->ResettoDefaults1->trigger();
    m_dialogs.takeBox();
    QVERIFY(!QFile::exists(dataFile("settings.ini")));
    QVERIFY(!QFile::exists(dataFile("list.txt")));
    QVERIFY(m_restarted);
    QVERIFY(!w->isVisible());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
