// The Download command on the real main window: the worker walks the selected
// rows against the local server, with the window's status words, button,
// progress bar and boxes.
#include "app/main.h"
#include "downloads/downloader.h"
#include "feeds/episodemodel.h"
#include "scripteddialogs.h"
#include "testwindow.h"
#include "testserver.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QMenu>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include "testhelpers.h"

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;

class TestDownloader : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void nothingSelected_data();
    void nothingSelected();
    void downloadsSelectedRowsInOrder();
    void entryPointsStartTheSameBatch_data();
    void entryPointsStartTheSameBatch();
    void existingFileGetsCounter();
    void failedRowShowsBoxAndBatchGoesOn();
    void emptyLocationEndsBatch();
    void invalidLocationEndsBatch();
    void missingFoldersAreMade();
    void redirectLimitWritesEmptyFile();
    void secondStartOnlyBeeps();
    void listReplacedMidBatch();
    void listReplacedByLongerOne();
    void cancelStopsTheBatch_data();
    void cancelStopsTheBatch();
    void longTitlesFitTheSystem();
    void windowClosedMidBatch();
    void downloadFileNameOfRow();

private:
    std::unique_ptr<TAppForm> makeWindow();
    void setRows(int count, const QString &path = QStringLiteral("/e"));
    void select(const QList<int> &rows);
    void startAndWait();
    QStringList statuses() const;

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TAppForm> m_window;
    TestServer m_http{TestServer::Http};
    QString m_folder;
};

void TestDownloader::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_folder = m_dir->filePath("Podcasts");
    m_http.clearRequests();
    m_window = makeWindow();
    m_window->Edit1->setText(m_folder);
}

void TestDownloader::cleanup()
{
    m_window.reset();
    m_dialogs.verifyDone();
    m_dialogs.reset();
}

std::unique_ptr<TAppForm> TestDownloader::makeWindow()
{
    return makeTestWindow(m_dialogs, m_dir->path());
}

// Rows "Episode 1" ... "Episode n", each with the URL path + "/<n>".
void TestDownloader::setRows(int count, const QString &path)
{
    EpisodeRows rows;
    for (int i = 1; i <= count; ++i)
        rows.append({QStringLiteral("Episode %1").arg(i), m_http.urlString(QStringLiteral("%1/%2").arg(path).arg(i)),
                     QStringLiteral("date"), QString()});
    m_window->episodeModel()->setRows(rows);
}

void TestDownloader::select(const QList<int> &rows)
{
    QTableView *view = m_window->ListView1;
    view->clearSelection();
    for (int row : rows)
        view->selectionModel()->select(view->model()->index(row, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestDownloader::startAndWait()
{
    m_window->BitBtn1->click();
    QTRY_VERIFY(m_window->downloader() == nullptr && m_window->BitBtn1->isEnabled());
    m_dialogs.takeBeep();  // the end of the batch
}

QStringList TestDownloader::statuses() const
{
    QStringList out;
    for (const EpisodeRow &row : m_window->episodeModel()->rows())
        out.append(row.status);
    return out;
}

void TestDownloader::nothingSelected_data()
{
    QTest::addColumn<int>("rows");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<bool>("firstUrlBlank");

    QTest::newRow("empty list") << 0 << QList<int>() << false;
    QTest::newRow("no row selected") << 3 << QList<int>() << false;
    QTest::newRow("first selected row has a blank URL") << 3 << QList<int>{1, 2} << true;
}

void TestDownloader::nothingSelected()
{
    QFETCH(int, rows);
    QFETCH(QList<int>, selected);
    QFETCH(bool, firstUrlBlank);

    setRows(rows);
    if (firstUrlBlank) {
        EpisodeRows list = m_window->episodeModel()->rows();
        list[selected.first()].url = QStringLiteral(" \t ");
        m_window->episodeModel()->setRows(list);
    }
    select(selected);
    m_window->BitBtn1->click();
    QCOMPARE(m_dialogs.takeBox(), (Box{"No file selected!", "Warning", Icon::Warning, {}}));
    QVERIFY(m_window->downloader() == nullptr);
    QCOMPARE(m_window->BitBtn1->text(), QStringLiteral("Download"));
    QCOMPARE(m_http.requestCount(), 0);
}

void TestDownloader::downloadsSelectedRowsInOrder()
{
    for (int i = 1; i <= 5; ++i)
        m_http.route(QStringLiteral("/e/%1").arg(i), Response::pattern(1000 * i).slow(500, 5));
    setRows(5);
    EpisodeRows rows = m_window->episodeModel()->rows();
    rows[1].status = QStringLiteral("Downloaded");  // an earlier batch's word stays
    m_window->episodeModel()->setRows(rows);
    select({4, 0, 2});

    startAndWait();

    QCOMPARE(statuses(), (QStringList{"Downloaded", "Downloaded", "Downloaded", QString(), "Downloaded"}));
    QStringList order;
    for (const RecordedRequest &r : m_http.requests())
        order.append(QString::fromLatin1(r.path));
    QCOMPARE(order, (QStringList{"/e/1", "/e/3", "/e/5"}));
    for (int i : {1, 3, 5})
        QCOMPARE(testhelpers::readFileBytes(m_folder + QStringLiteral("/Episode %1.mp3").arg(i)),
                 TestServer::patternBytes(0, 1000 * i));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden).size(), 3);
    QCOMPARE(m_window->BitBtn1->text(), QStringLiteral("Download"));
    QVERIFY(m_window->ProgressBar1->isHidden());
    QCOMPARE(m_window->ProgressBar1->value(), 100);
    QCOMPARE(m_window->Taskbar1.progressValue(), 100);
    QCOMPARE(m_window->Taskbar1.progressState(), TaskbarProgress::State::None);
    QCOMPARE(m_window->statusText(), QString());
}

void TestDownloader::entryPointsStartTheSameBatch_data()
{
    QTest::addColumn<QString>("entry");
    QTest::newRow("Download button") << QStringLiteral("button");
    QTest::newRow("popup item") << QStringLiteral("popup");
    QTest::newRow("double-click") << QStringLiteral("double-click");
}

void TestDownloader::entryPointsStartTheSameBatch()
{
    QFETCH(QString, entry);
    m_http.route("/e/1", Response::pattern(100));
    m_http.route("/e/2", Response::pattern(200));
    setRows(2);
    select({0, 1});
    if (entry == QLatin1String("button")) {
        m_window->BitBtn1->click();
    } else if (entry == QLatin1String("popup")) {
        QVERIFY(m_window->Download1->isEnabled());
        m_window->Download1->trigger();
    } else {
        Q_EMIT m_window->ListView1->doubleClicked(m_window->episodeModel()->index(1, 0));
    }
    QTRY_VERIFY(m_window->downloader() == nullptr && m_window->BitBtn1->isEnabled());
    m_dialogs.takeBeep();
    QCOMPARE(statuses(), (QStringList{"Downloaded", "Downloaded"}));  // every selected row, not the one clicked
}

void TestDownloader::existingFileGetsCounter()
{
    m_http.route("/e/1", Response::pattern(300));
    QVERIFY(QDir().mkpath(m_folder));
    testhelpers::writeFileBytes(m_folder + "/Episode 1.mp3", "older");
    setRows(1);
    select({0});
    startAndWait();
    QCOMPARE(testhelpers::readFileBytes(m_folder + "/Episode 1.mp3"), QByteArray("older"));
    QCOMPARE(testhelpers::readFileBytes(m_folder + "/Episode 1 (2).mp3"), TestServer::patternBytes(0, 300));
    QCOMPARE(statuses(), QStringList{"Downloaded"});
}

void TestDownloader::failedRowShowsBoxAndBatchGoesOn()
{
    m_http.route("/e/1", Response::status(404, "Not Found", "<html>gone</html>"));
    m_http.route("/e/2", Response::pattern(500));
    setRows(2);
    select({0, 1});

    // While the box is up the worker waits: the next row has not begun.
    QStringList statusesAtBox;
    m_dialogs.onNextMessage([&](const Box &) { statusesAtBox = statuses(); });
    startAndWait();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Download Error on URL: " + m_http.urlString("/e/1") + "\r\rHTTP/1.1 404 Not Found",
                                       "ERROR", Icon::Error, {}}));
    QCOMPARE(statusesAtBox, (QStringList{"Download Failed", QString()}));
    QCOMPARE(statuses(), (QStringList{"Download Failed", "Downloaded"}));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList{"Episode 2.mp3"});
}

void TestDownloader::emptyLocationEndsBatch()
{
    m_http.route("/e/1", Response::pattern(100));
    setRows(2);
    select({0, 1});
    m_window->Edit1->setText(QString());
    startAndWait();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Unable to create directory", "ERROR", Icon::Error, {}}));
    QCOMPARE(statuses(), (QStringList{QString(), QString()}));
    QCOMPARE(m_http.requestCount(), 0);
    QCOMPARE(m_window->BitBtn1->text(), QStringLiteral("Download"));
}

void TestDownloader::invalidLocationEndsBatch()
{
    m_http.route("/e/1", Response::pattern(100));
    setRows(1);
    select({0});
    m_window->Edit1->setText(m_dir->filePath("a|b"));
    startAndWait();
    QCOMPARE(m_dialogs.takeBox(), (Box{"Invalid characters in path", "ERROR", Icon::Error, {}}));
    QCOMPARE(statuses(), QStringList{QString()});
    QCOMPARE(m_http.requestCount(), 0);
}

void TestDownloader::missingFoldersAreMade()
{
    m_http.route("/e/1", Response::pattern(100));
    setRows(1);
    select({0});
    const QString deep = m_dir->filePath("one/two/three");
    m_window->Edit1->setText(deep);
    startAndWait();
    QCOMPARE(testhelpers::readFileBytes(deep + "/Episode 1.mp3"), TestServer::patternBytes(0, 100));
}

void TestDownloader::redirectLimitWritesEmptyFile()
{
    m_http.route("/file", Response::pattern(100));
    const QString start = m_http.routeRedirectChain("/e/1/r", 9, "/file");
    setRows(1);
    EpisodeRows rows = m_window->episodeModel()->rows();
    rows[0].url = m_http.urlString(start);
    m_window->episodeModel()->setRows(rows);
    select({0});
    startAndWait();
    QCOMPARE(statuses(), QStringList{"Downloaded"});
    QCOMPARE(testhelpers::readFileBytes(m_folder + "/Episode 1.mp3"), QByteArray());
    QCOMPARE(m_window->statusText(), QString());  // the redirect notice is gone with the row
}

void TestDownloader::secondStartOnlyBeeps()
{
    m_http.route("/e/1", Response::pattern(4000).slow(1000, 100));
    setRows(1);
    select({0});
    m_window->BitBtn1->click();
    m_window->Download1->trigger();  // before the worker has even begun
    QCOMPARE(m_dialogs.beeps(), 1);
    m_dialogs.takeBeep();
    QTRY_VERIFY(!m_window->BitBtn1->isEnabled());
    QCOMPARE(m_window->BitBtn1->text(), QStringLiteral("DOWNLOADING..."));
    QVERIFY(!m_window->ProgressBar1->isHidden());
    m_window->Download1->trigger();  // the button is disabled; the popup item is not
    QCOMPARE(m_dialogs.beeps(), 1);
    m_dialogs.takeBeep();
    QTRY_VERIFY(m_window->downloader() == nullptr && m_window->BitBtn1->isEnabled());
    m_dialogs.takeBeep();
    QCOMPARE(m_http.requestCount(), 1);
}

void TestDownloader::listReplacedMidBatch()
{
    // Row 3 is being fetched when the list is replaced by one of a single
    // row: no word goes to rows that are gone, and the batch ends.
    m_http.route("/e/3", Response::pattern(4000).slow(1000, 100));
    setRows(3);
    select({2});
    m_window->BitBtn1->click();
    QTRY_COMPARE(statuses().value(2), QStringLiteral("Downloading..."));
    m_window->episodeModel()->setRows({EpisodeRow{"New", m_http.urlString("/x"), "d", QString()}});
    QTRY_VERIFY(m_window->downloader() == nullptr && m_window->BitBtn1->isEnabled());
    m_dialogs.takeBeep();
    QCOMPARE(statuses(), QStringList{QString()});
}

void TestDownloader::listReplacedByLongerOne()
{
    // Row 3 of feed A is under way when feed B, of five rows, replaces the
    // list: none of B's rows gets a word, and A's file is still written.
    m_http.route("/e/3", Response::pattern(4000).slow(1000, 100));
    setRows(3);
    select({2});
    m_window->BitBtn1->click();
    QTRY_COMPARE(statuses().value(2), QStringLiteral("Downloading..."));
    setRows(5, QStringLiteral("/b"));
    QTRY_VERIFY(m_window->downloader() == nullptr && m_window->BitBtn1->isEnabled());
    m_dialogs.takeBeep();
    QCOMPARE(statuses(), QStringList(5, QString()));
    QCOMPARE(testhelpers::readFileBytes(m_folder + "/Episode 3.mp3"), TestServer::patternBytes(0, 4000));
    QCOMPARE(m_http.requestCount(), 1);
}

void TestDownloader::cancelStopsTheBatch_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Cancel Downloads in the popup") << false;
    QTest::newRow("Escape in the episode list") << true;
}

void TestDownloader::cancelStopsTheBatch()
{
    QFETCH(bool, escape);
    m_http.route("/e/1", Response::pattern(10000000).stallAfter(100000));
    m_http.route("/e/2", Response::pattern(100));
    setRows(2);
    select({0, 1});
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    QVERIFY(!m_window->CancelDownloads1->isVisible());
    m_window->BitBtn1->click();
    QTRY_COMPARE(statuses().value(0), QStringLiteral("Downloading..."));
    QTRY_VERIFY(m_http.requestCount() == 1);
    QVERIFY(m_window->CancelDownloads1->isVisible() && m_window->CancelDownloads1->isEnabled());
    QVERIFY(m_window->PopupMenu2->actions().contains(m_window->CancelDownloads1));
    if (escape) {
        m_window->ListView1->setFocus();
        QTest::keyClick(m_window->ListView1, Qt::Key_Escape);
    } else {
        m_window->CancelDownloads1->trigger();
    }
    QTRY_VERIFY(m_window->downloader() == nullptr && m_window->BitBtn1->isEnabled());
    m_dialogs.takeBeep();  // the end step
    QCOMPARE(statuses(), (QStringList{"Download Failed", QString()}));
    QCOMPARE(m_http.requestCount(), 1);  // the next row was not begun
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList());
    QCOMPARE(m_dialogs.boxes().size(), 0);
    QCOMPARE(m_window->BitBtn1->text(), QStringLiteral("Download"));
    QVERIFY(m_window->ProgressBar1->isHidden());
    QVERIFY(!m_window->CancelDownloads1->isVisible());
}

void TestDownloader::longTitlesFitTheSystem()
{
    // Two rows each of a 151-letter Russian and a 300-character Japanese
    // title: the second of each gets the counter, and every name fits in 255
    // bytes. The Transcribe command looks for the first one's file.
    const QString russian = QString(151, QChar(0x0416));
    const QString japanese = QString(300, QChar(0x3042));
    EpisodeRows rows;
    for (const QString &title : {russian, russian, japanese, japanese})
        rows.append({title, m_http.urlString("/e/1"), QStringLiteral("d"), QString()});
    m_http.route("/e/1", Response::pattern(500));
    m_window->episodeModel()->setRows(rows);
    select({0, 1, 2, 3});
    startAndWait();
    QCOMPARE(statuses(), QStringList(4, QStringLiteral("Downloaded")));
    const QStringList names = QDir(m_folder).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(names.size(), 4);
    for (const QString &name : names)
        QVERIFY2(name.toUtf8().size() <= 255, qPrintable(name));
    for (int row : {0, 2}) {
        select({row});
        const QString path = m_window->selectedEpisode().filePath;
        QVERIFY2(QFileInfo::exists(path), qPrintable(path));
        QVERIFY(QFileInfo::exists(path.chopped(4) + QStringLiteral(" (2).mp3")));
    }
}

void TestDownloader::windowClosedMidBatch()
{
    m_http.route("/e/1", Response::pattern(10000000).stallAfter(100000));
    setRows(1);
    select({0});
    m_window->show();
    m_window->BitBtn1->click();
    QTRY_COMPARE(statuses().value(0), QStringLiteral("Downloading..."));
    QTRY_VERIFY(m_http.requestCount() == 1);
    QPointer<TDownloader> worker = m_window->downloader();
    QVERIFY(worker);
    m_window->close();
    QVERIFY(worker.isNull());  // ended and gone with the window's close
    QCOMPARE(QDir(m_folder).entryList(QDir::Files | QDir::Hidden), QStringList());
    QCOMPARE(m_dialogs.boxes().size(), 0);
}

void TestDownloader::downloadFileNameOfRow()
{
    setRows(2);
    m_window->Edit1->setText(QStringLiteral("/pods/"));
    QCOMPARE(m_window->DosyaAdiNeOlmali(1), QStringLiteral("/pods/Episode 2.mp3"));
    QCOMPARE(m_window->DosyaAdiNeOlmali(2), QString());
}

QTEST_MAIN(TestDownloader)
#include "tst_downloader.moc"
