// The Transcribe window and the main window's Transcribe command, against a
// local HTTPS server standing in for the transcription service.
#include "app/main.h"
#include "base/settings.h"
#include "feeds/episodemodel.h"
#include "multipart.h"
#include "scripteddialogs.h"
#include "speechstandin.h"
#include "testserver.h"
#include "testwindow.h"
#include "transcribe/transcribeform.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

#include "testhelpers.h"

using Icon = UserDialogs::Icon;
using Box = ScriptedDialogs::Box;
Q_DECLARE_METATYPE(ScriptedDialogs::Box)

namespace {

QByteArray item(const QByteArray &title, const QByteArray &url)
{
    return "<item><title>" + title + "</title><pubDate>Tue, 02 Jan 2024 10:00:00 GMT</pubDate><enclosure url=\"" + url
        + "\" type=\"audio/mpeg\" length=\"1\"/></item>\n";
}

} // namespace

class TestTranscribeForm : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void keyIsStoredAndRead();
    void serverAndModelStoredOnlyWhenChanged();
    void refusals_data();
    void refusals();
    void largeFileAsksFirst_data();
    void largeFileAsksFirst();
    void transcribes();
    void serviceErrorShowsBothBoxes();
    void saveWritesBesideTheAudio();
    void saveAsAndBrowse();
    void copyAndSelectAll();
    void commandFromMainWindow_data();
    void commandFromMainWindow();
    void commandLoadsExistingTranscript();
    void wholeRoad();
    void publisherTranscriptButton_data();
    void publisherTranscriptButton();
    void publisherTranscriptFailures_data();
    void publisherTranscriptFailures();
    void publisherTranscriptWholeRoad();
    void longEpisodeInParts();
    void cancelLeavesAllAsItWas_data();
    void cancelLeavesAllAsItWas();
    void failureKeepsFinishedParts();
    void keyWithControlCharacterRefused();
    void closingEndsTheWork_data();
    void closingEndsTheWork();

private:
    // Waits until the form's transcription has ended.
    static void waitIdle(TFormTranscribe &form);
    std::unique_ptr<TFormTranscribe> makeForm();
    std::unique_ptr<TAppForm> makeMainWindow();
    QString audioFile(const QString &name, const QByteArray &bytes = "ID3 audio");

    ScriptedDialogs m_dialogs;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<IniDocument> m_settings;
    std::unique_ptr<TestServer> m_service;
    std::unique_ptr<QTemporaryDir> m_work;
};

void TestTranscribeForm::waitIdle(TFormTranscribe &form)
{
    QTRY_VERIFY_WITH_TIMEOUT(!form.busy(), 120000);
}

void TestTranscribeForm::initTestCase()
{
    qputenv("MORVANE_CA_FILE", TestServer::caFile().toLocal8Bit());
}

void TestTranscribeForm::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_settings = std::make_unique<IniDocument>(m_dir->filePath("settings.ini"));
    m_service = std::make_unique<TestServer>(TestServer::Https);
    m_service->route("/v1/audio/transcriptions",
                     Response::ok("{\"text\":\"  Welcome to the show.\\nSecond line.  \"}", "application/json"));
    // The program talks to the local service as to any server of the user's.
    m_settings->setValue("Settings", "OpenAIServer", m_service->urlString("/v1"));
    m_settings->save();
    m_work = std::make_unique<QTemporaryDir>();
}

void TestTranscribeForm::cleanup()
{
    m_dialogs.verifyDone();
    m_dialogs.reset();
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QCOMPARE(QDir(m_work->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

std::unique_ptr<TFormTranscribe> TestTranscribeForm::makeForm()
{
    auto form = std::make_unique<TFormTranscribe>(*m_settings, m_dialogs);
    form->setAttribute(Qt::WA_DeleteOnClose, false);  // the test owns it
    form->workRoot = m_work->path();
    return form;
}

std::unique_ptr<TAppForm> TestTranscribeForm::makeMainWindow()
{
    return makeTestWindow(m_dialogs, m_dir->path());
}

QString TestTranscribeForm::audioFile(const QString &name, const QByteArray &bytes)
{
    const QString path = m_dir->filePath(name);
    testhelpers::writeFileBytes(path, bytes);
    return path;
}

void TestTranscribeForm::keyIsStoredAndRead()
{
    auto form = makeForm();
    QCOMPARE(form->windowTitle(), QStringLiteral("Transcribe"));
    form->Edit9->setText(QStringLiteral("sk-1"));
    IniDocument stored(m_settings->fileName());
    stored.load();
    QCOMPARE(stored.value("Settings", "OpenAIKey"), QStringLiteral("sk-1"));

    // A change of the file box alone writes the file again.
    QVERIFY(QFile::remove(m_settings->fileName()));
    form->Edit7->setText(QStringLiteral("/somewhere.mp3"));
    QVERIFY(QFile::exists(m_settings->fileName()));

    auto second = makeForm();
    QCOMPARE(second->Edit9->text(), QStringLiteral("sk-1"));
}

void TestTranscribeForm::serverAndModelStoredOnlyWhenChanged()
{
    m_settings = std::make_unique<IniDocument>(m_dir->filePath("fresh.ini"));
    auto form = makeForm();
    QCOMPARE(form->Edit10->text(), QStringLiteral("https://api.openai.com/v1"));
    QCOMPARE(form->ComboBox1->currentText(), QStringLiteral("whisper-1"));
    form->Edit9->setText(QStringLiteral("k"));
    QVERIFY(!testhelpers::readFileBytes(m_settings->fileName()).contains("OpenAIServer"));
    QVERIFY(!testhelpers::readFileBytes(m_settings->fileName()).contains("OpenAIModel"));
    QVERIFY(!testhelpers::readFileBytes(m_settings->fileName()).contains("OpenAILanguage"));
    QCOMPARE(form->service().language, QString());

    QTest::keyClicks(form->Edit10, QStringLiteral("/"));
    form->ComboBox1->setCurrentText(QStringLiteral("gpt-4o-transcribe"));
    IniDocument stored(m_settings->fileName());
    stored.load();
    QCOMPARE(stored.value("Settings", "OpenAIServer"), QStringLiteral("https://api.openai.com/v1/"));
    QCOMPARE(stored.value("Settings", "OpenAIModel"), QStringLiteral("gpt-4o-transcribe"));
    QTest::keyClicks(form->Edit11, QStringLiteral("de"));
    stored.load();
    QCOMPARE(stored.value("Settings", "OpenAILanguage"), QStringLiteral("de"));
    auto second = makeForm();
    QCOMPARE(second->service().model, QStringLiteral("gpt-4o-transcribe"));
    QCOMPARE(second->service().language, QStringLiteral("de"));
}

void TestTranscribeForm::refusals_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("file");  // "dir", "missing" or "present"
    QTest::addColumn<Box>("box");

    const Box credentials{"Please enter your credentials for OpenAI API.", "CREDENTIALS", Icon::Information, {}};
    QTest::newRow("empty key") << QString() << "present" << credentials;
    QTest::newRow("blank key") << " \t " << "present" << credentials;
    QTest::newRow("missing file") << "k" << "missing" << Box{"File not found!", "WARNING", Icon::Warning, {}};
    QTest::newRow("a folder") << "k" << "dir" << Box{"File not found!", "WARNING", Icon::Warning, {}};
}

void TestTranscribeForm::refusals()
{
    QFETCH(QString, key);
    QFETCH(QString, file);
    QFETCH(Box, box);

    // OpenAI's server, which always needs a key.
    m_settings = std::make_unique<IniDocument>(m_dir->filePath("fresh.ini"));
    auto form = makeForm();
    form->Edit9->setText(key);
    form->Edit7->setText(file == "present" ? audioFile("a.mp3") : file == "dir" ? m_dir->path() : m_dir->filePath("no.mp3"));
    form->MemoOpenAI->setPlainText(QStringLiteral("kept"));
    form->Button2->click();
    QCOMPARE(m_dialogs.takeBox(), box);
    QCOMPARE(m_service->requestCount(), 0);
    QCOMPARE(form->MemoOpenAI->toPlainText(), QStringLiteral("kept"));
}

void TestTranscribeForm::largeFileAsksFirst_data()
{
    QTest::addColumn<qint64>("size");
    QTest::addColumn<bool>("asked");
    QTest::newRow("26,214,399 bytes") << qint64(26214399) << false;
    QTest::newRow("26,214,400 bytes") << qint64(26214400) << true;
}

void TestTranscribeForm::largeFileAsksFirst()
{
    QFETCH(qint64, size);
    QFETCH(bool, asked);

    const QString path = m_dir->filePath("long.mp3");
    QFile sparse(path);
    QVERIFY(sparse.open(QIODevice::WriteOnly));
    QVERIFY(sparse.resize(size));
    sparse.close();
    auto form = makeForm();
    form->Edit9->setText(QStringLiteral("k"));
    form->Edit7->setText(path);
    if (asked)
        m_dialogs.answerAsk(QMessageBox::No);
    form->Button2->click();
    if (asked) {
        QCOMPARE(m_dialogs.takeBox(), (Box{"The file size exceeds 26,214,400 bytes!\r\rWould you still like to try it?",
                                           "Confirmation", Icon::Question, {"Yes", "No"}}));
        QCOMPARE(m_service->requestCount(), 0);
        return;
    }
    waitIdle(*form);
    m_dialogs.takeBeep();
    QCOMPARE(m_service->requestCount(), 1);
    QCOMPARE(partsOf(m_service->lastRequest()).value(1).data.size(), size);
}

void TestTranscribeForm::transcribes()
{
    auto form = makeForm();
    form->Edit9->setText(QStringLiteral("sk-live "));
    form->Edit7->setText(audioFile("Show.mp3"));
    QString statusDuring;
    Qt::CursorShape cursorDuring = Qt::ArrowCursor;
    m_service->route("/v1/audio/transcriptions", [&](const RecordedRequest &) {
        return Response::ok("{\"text\":\"  Welcome.\\nSecond line.  \"}", "application/json");
    });
    QTimer::singleShot(0, this, [&] {
        statusDuring = form->statusText();
        if (QApplication::overrideCursor())
            cursorDuring = QApplication::overrideCursor()->shape();
    });
    form->Button2->click();
    waitIdle(*form);
    m_dialogs.takeBeep();
    QCOMPARE(statusDuring, QStringLiteral("Please wait..."));
    QCOMPARE(cursorDuring, Qt::BusyCursor);
    QCOMPARE(form->statusText(), QStringLiteral("Finished"));
    QCOMPARE(form->MemoOpenAI->toPlainText(), QStringLiteral("Welcome.\nSecond line."));
    // The ends of the key are trimmed.
    QVERIFY(m_service->lastRequest().head.contains("\r\nAuthorization: Bearer sk-live\r\n"));
}

void TestTranscribeForm::serviceErrorShowsBothBoxes()
{
    m_service->route("/v1/audio/transcriptions",
                     Response::status(401, "Unauthorized", "{\"error\":\"bad key\"}", "application/json"));
    auto form = makeForm();
    form->Edit9->setText(QStringLiteral("k"));
    form->Edit7->setText(audioFile("Show.mp3"));
    form->MemoOpenAI->setPlainText(QStringLiteral("old"));
    form->Button2->click();
    waitIdle(*form);
    QCOMPARE(m_dialogs.takeBox(), (Box{"{\"error\":\"bad key\"}", "ERROR", Icon::Error, {}}));
    QCOMPARE(m_dialogs.takeBox(), (Box{"Invalid server response!", "WARNING", Icon::Warning, {}}));
    QCOMPARE(form->MemoOpenAI->toPlainText(), QString());
    QCOMPARE(form->statusText(), QString());
}

void TestTranscribeForm::saveWritesBesideTheAudio()
{
    auto form = makeForm();
    form->Edit7->setText(audioFile("Episode 1.mp3"));
    form->Button3->click();
    m_dialogs.takeBeep();
    const QString transcript = m_dir->filePath("Episode 1.txt");
    QCOMPARE(testhelpers::readFileBytes(transcript), QByteArray("\xEF\xBB\xBF"));  // an empty transcript
    QCOMPARE(form->statusText(), "Saved: " + transcript);

    form->MemoOpenAI->setPlainText(QStringLiteral("One\nTwo \u00e9"));
    form->Button3->click();
    m_dialogs.takeBeep();
    QCOMPARE(testhelpers::readFileBytes(transcript), QByteArray("\xEF\xBB\xBFOne\r\nTwo \xC3\xA9"));

    // Without the audio file, Save only beeps.
    form->Edit7->setText(m_dir->filePath("gone.mp3"));
    form->Button3->click();
    m_dialogs.takeBeep();
    QVERIFY(!QFile::exists(m_dir->filePath("gone.txt")));
}

void TestTranscribeForm::saveAsAndBrowse()
{
    auto form = makeForm();
    const QString chosen = audioFile("picked.mp3");
    m_dialogs.answerFile(chosen);
    form->Button1->click();
    QCOMPARE(form->Edit7->text(), chosen);
    QCOMPARE(m_dialogs.lastFileSuffix, QStringLiteral("mp3"));

    form->MemoOpenAI->setPlainText(QStringLiteral("text"));
    m_dialogs.answerFile(m_dir->filePath("elsewhere.txt"));
    form->SaveAs1->trigger();
    QCOMPARE(m_dialogs.lastFileMode, UserDialogs::FileMode::Save);
    QCOMPARE(testhelpers::readFileBytes(m_dir->filePath("elsewhere.txt")), QByteArray("\xEF\xBB\xBFtext"));
    QCOMPARE(form->statusText(), QString());

    m_dialogs.answerFile(std::nullopt);
    form->SaveAs1->trigger();  // cancelled: nothing

    form->Button4->click();
    QCOMPARE(m_dialogs.takeOpenedUrl(), QUrl("https://platform.openai.com/api-keys"));
}

void TestTranscribeForm::copyAndSelectAll()
{
    auto form = makeForm();
    form->MemoOpenAI->setPlainText(QStringLiteral("first\nsecond"));
    form->SelectAll1->trigger();
    form->Copy1->trigger();
    QCOMPARE(m_dialogs.takeClipboard(), QStringLiteral("first\nsecond"));
}

void TestTranscribeForm::commandFromMainWindow_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<QString>("warning");
    QTest::newRow("nothing selected") << "none" << "No file selected!";
    QTest::newRow("not downloaded") << "missing" << "File is not downloaded!";
    QTest::newRow("downloaded") << "present" << QString();
}

void TestTranscribeForm::commandFromMainWindow()
{
    QFETCH(QString, situation);
    QFETCH(QString, warning);

    auto w = makeMainWindow();
    w->Edit1->setText(m_dir->path());
    w->episodeModel()->setRows({EpisodeRow{"Show: One", "http://m.example/1.mp3", "d", {}}});
    if (situation != "none")
        w->ListView1->selectRow(0);
    if (situation == "present")
        audioFile("Show One.mp3");
    w->Button1->click();
    if (!warning.isEmpty())
        QCOMPARE(m_dialogs.takeBox(), (Box{warning, "Warning", Icon::Warning, {}}));
    const QList<TFormTranscribe *> windows = w->findChildren<TFormTranscribe *>();
    QCOMPARE(windows.size(), 1);
    QVERIFY(windows[0]->isVisible());
    QCOMPARE(windows[0]->Edit7->text(), situation == "present" ? m_dir->filePath("Show One.mp3") : QString());

    // Every use opens another window; closing one frees it.
    w->Transcribe1->trigger();
    if (!warning.isEmpty())
        m_dialogs.takeBox();
    QCOMPARE(w->findChildren<TFormTranscribe *>().size(), 2);
    QPointer<TFormTranscribe> first = windows[0];
    first->close();
    QTRY_VERIFY(first.isNull());
}

void TestTranscribeForm::commandLoadsExistingTranscript()
{
    auto w = makeMainWindow();
    w->Edit1->setText(m_dir->path());
    w->episodeModel()->setRows({EpisodeRow{"Talk", "http://m.example/t.mp3", "d", {}}});
    w->ListView1->selectRow(0);
    audioFile("Talk.mp3");
    testhelpers::writeFileBytes(m_dir->filePath("Talk.txt"), "Caf\xE9 in Windows-1252");  // not UTF-8
    w->Button1->click();
    const QList<TFormTranscribe *> windows = w->findChildren<TFormTranscribe *>();
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windows[0]->MemoOpenAI->toPlainText(), QStringLiteral("Caf\u00e9 in Windows-1252"));
}

void TestTranscribeForm::wholeRoad()
{
    // A feed, a download through the worker, a transcript saved beside it.
    TestServer feeds;
    feeds.route("/feed.xml", Response::ok("<rss version=\"2.0\"><channel><title>S</title>"
                                          + item("Episode One", feeds.urlString("/one.mp3").toLatin1())
                                          + item("Episode Two", feeds.urlString("/two.mp3").toLatin1())
                                          + "</channel></rss>", "text/xml"));
    feeds.route("/one.mp3", Response::pattern(50000, "audio/mpeg"));
    feeds.route("/two.mp3", Response::pattern(20000, "audio/mpeg"));
    m_service->route("/v1/audio/transcriptions", Response::ok("{\"text\":\"Hello,\\nworld.\"}", "application/json"));

    auto w = makeMainWindow();
    const QString folder = m_dir->filePath("Pods");
    w->Edit1->setText(folder);
    m_dialogs.answerInput(feeds.urlString("/feed.xml"));
    w->Button3->click();  // Add RSS: the feed is added and retrieved
    QCOMPARE(w->episodeModel()->rowCount(), 2);
    w->ListView1->selectAll();
    w->BitBtn1->click();
    QTRY_VERIFY(w->downloader() == nullptr && w->BitBtn1->isEnabled());
    m_dialogs.takeBeep();
    QCOMPARE(testhelpers::readFileBytes(folder + "/Episode One.mp3"), TestServer::patternBytes(0, 50000));

    w->ListView1->selectRow(0);
    w->Button1->click();
    TFormTranscribe *form = w->findChildren<TFormTranscribe *>().value(0);
    QVERIFY(form);
    QCOMPARE(form->Edit7->text(), folder + "/Episode One.mp3");
    form->Edit9->setText(QStringLiteral("sk-road"));
    form->Button2->click();
    waitIdle(*form);
    m_dialogs.takeBeep();
    form->Button3->click();
    m_dialogs.takeBeep();
    QCOMPARE(testhelpers::readFileBytes(folder + "/Episode One.txt"), QByteArray("\xEF\xBB\xBFHello,\r\nworld."));
    const QList<ReceivedPart> parts = partsOf(m_service->lastRequest());
    QCOMPARE(parts.value(1).fileName, QByteArray("Episode One.mp3"));
    QVERIFY(parts.value(1).data == TestServer::patternBytes(0, 50000));
}

void TestTranscribeForm::publisherTranscriptButton_data()
{
    QTest::addColumn<bool>("withLinks");
    QTest::addColumn<bool>("downloaded");
    QTest::newRow("no transcript, downloaded") << false << true;
    QTest::newRow("no transcript, not downloaded") << false << false;
    QTest::newRow("a transcript, downloaded") << true << true;
    QTest::newRow("a transcript, not downloaded") << true << false;
}

// The button is there for an episode whose item links a transcript, downloaded
// or not; what it fetches goes where a transcription goes.
void TestTranscribeForm::publisherTranscriptButton()
{
    QFETCH(bool, withLinks);
    QFETCH(bool, downloaded);

    TestServer publisher;
    publisher.route("/t.json", Response::ok("{\"version\":\"1.0.0\",\"segments\":[{\"speaker\":\"Ann\",\"startTime\":0,"
                                            "\"endTime\":1,\"body\":\"Hello\"},{\"speaker\":\"Ann\",\"body\":\"all.\"}]}",
                                            "application/json"));
    auto w = makeMainWindow();
    w->Edit1->setText(m_dir->path());
    EpisodeRow row{"Talk", "http://m.example/t.mp3", "d", {}};
    if (withLinks)
        row.transcripts = {TranscriptLink{publisher.urlString("/t.json"), "application/json", "en", {}}};
    w->episodeModel()->setRows({row});
    QCOMPARE(w->episodeModel()->columnCount(), 4);
    w->ListView1->selectRow(0);
    if (downloaded)
        audioFile("Talk.mp3");
    w->Button1->click();
    if (!downloaded)
        QCOMPARE(m_dialogs.takeBox(), (Box{"File is not downloaded!", "Warning", Icon::Warning, {}}));
    TFormTranscribe *form = w->findChildren<TFormTranscribe *>().value(0);
    QVERIFY(form && form->isVisible());
    QCOMPARE(form->ButtonPublisher->text(), QStringLiteral("Publisher Transcript"));
    QCOMPARE(form->ButtonPublisher->isEnabled(), withLinks);
    QCOMPARE(form->ButtonPublisher->parentWidget(), form->Button2->parentWidget());
    if (!withLinks) {
        form->ButtonPublisher->click();  // disabled: nothing happens
        QCOMPARE(publisher.requestCount(), 0);
        return;
    }

    form->ButtonPublisher->click();
    m_dialogs.takeBeep();
    QCOMPARE(publisher.requestCount(), 1);
    QCOMPARE(form->statusText(), QStringLiteral("Publisher transcript"));
    QCOMPARE(form->MemoOpenAI->toPlainText(), QStringLiteral("Ann: Hello all."));
    QVERIFY(form->ButtonPublisher->isEnabled());

    form->Button3->click();  // Save: beside the audio, or only the beep
    m_dialogs.takeBeep();
    QCOMPARE(QFile::exists(m_dir->filePath("Talk.txt")), downloaded);
    if (downloaded)
        QCOMPARE(testhelpers::readFileBytes(m_dir->filePath("Talk.txt")), QByteArray("\xEF\xBB\xBF" "Ann: Hello all."));
    m_dialogs.answerFile(m_dir->filePath("chosen.txt"));
    form->SaveAs1->trigger();
    QCOMPARE(testhelpers::readFileBytes(m_dir->filePath("chosen.txt")), QByteArray("\xEF\xBB\xBF" "Ann: Hello all."));
}

void TestTranscribeForm::publisherTranscriptFailures_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("reason");
    QTest::newRow("404") << "/missing.vtt" << "HTTP/1.1 404 Not Found";
    QTest::newRow("over-large") << "/large.vtt" << "The transcript is too large";
    QTest::newRow("no text in it") << "/empty.vtt" << "The transcript holds no text";
}

// A failure: one "ERROR" box, the area and the status as they were.
void TestTranscribeForm::publisherTranscriptFailures()
{
    QFETCH(QString, path);
    QFETCH(QString, reason);

    TestServer publisher;
    publisher.route("/large.vtt", Response::pattern(8 * 1024 * 1024, "text/vtt"));
    publisher.route("/empty.vtt", Response::ok("WEBVTT\r\n\r\nNOTE nothing\r\n", "text/vtt"));
    auto form = makeForm();
    const QString url = publisher.urlString(path);
    form->setPublisherTranscripts({TranscriptLink{url, "text/vtt", {}, {}}}, QStringLiteral("en"));
    form->MemoOpenAI->setPlainText(QStringLiteral("kept"));
    form->StatusBar1->setText(QStringLiteral("Saved: somewhere"));
    bool busyDuring = false;
    m_dialogs.onNextMessage([&](const Box &) { busyDuring = QApplication::overrideCursor() != nullptr; });
    form->ButtonPublisher->click();
    QCOMPARE(m_dialogs.takeBox(),
             (Box{"The publisher's transcript could not be loaded.\r\r" + reason + "\r\r" + url, "ERROR", Icon::Error, {}}));
    QVERIFY(!busyDuring);
    QCOMPARE(m_dialogs.boxes().size(), 0);
    QCOMPARE(form->MemoOpenAI->toPlainText(), QStringLiteral("kept"));
    QCOMPARE(form->statusText(), QStringLiteral("Saved: somewhere"));
    QVERIFY(form->ButtonPublisher->isEnabled());
}

void TestTranscribeForm::publisherTranscriptWholeRoad()
{
    // A feed linking its transcripts, retrieved through the window; the
    // episode's transcript fetched without a download and saved.
    TestServer feeds;
    const QByteArray base = feeds.urlString("/").toLatin1();
    feeds.route("/feed.xml",
                Response::ok("<rss version=\"2.0\" xmlns:podcast=\"https://podcastindex.org/namespace/1.0\"><channel>"
                             "<title>S</title><language>en</language><item><title>Episode One</title>"
                             "<enclosure url=\"" + base + "one.mp3\" type=\"audio/mpeg\"/>"
                             "<podcast:transcript url=\"" + base + "one.txt\" type=\"text/plain\"/>"
                             "<podcast:transcript url=\"" + base + "one.vtt\" type=\"text/vtt\" language=\"en\" rel=\"captions\"/>"
                             "</item>" + item("Episode Two", base + "two.mp3") + "</channel></rss>",
                             "application/rss+xml"));
    feeds.route("/one.vtt", Response::ok("WEBVTT\n\n00:00.000 --> 00:02.000\n<v Host>Hello &amp; welcome.\n\n"
                                         "00:02.000 --> 00:04.000\n<v Guest>Thanks.\n", "text/vtt"));
    auto w = makeMainWindow();
    w->Edit1->setText(m_dir->filePath("Pods"));
    m_dialogs.answerInput(feeds.urlString("/feed.xml"));
    w->Button3->click();  // Add RSS, then the retrieval
    QCOMPARE(w->episodeModel()->rowCount(), 2);
    QCOMPARE(w->episodeModel()->index(0, EpisodeModel::Url).data().toString(), feeds.urlString("/one.mp3"));

    w->ListView1->selectRow(1);
    w->Button1->click();
    QCOMPARE(m_dialogs.takeBox(), (Box{"File is not downloaded!", "Warning", Icon::Warning, {}}));
    TFormTranscribe *second = w->findChildren<TFormTranscribe *>().value(0);
    QVERIFY(second && !second->ButtonPublisher->isEnabled());
    second->close();

    w->ListView1->selectRow(0);
    w->Button1->click();
    QCOMPARE(m_dialogs.takeBox(), (Box{"File is not downloaded!", "Warning", Icon::Warning, {}}));
    TFormTranscribe *form = nullptr;
    for (TFormTranscribe *window : w->findChildren<TFormTranscribe *>())
        if (window->isVisible())
            form = window;
    QVERIFY(form && form->ButtonPublisher->isEnabled());
    form->ButtonPublisher->click();
    m_dialogs.takeBeep();
    QCOMPARE(form->statusText(), QStringLiteral("Publisher transcript"));
    QCOMPARE(feeds.lastRequest().path, QByteArray("/one.vtt"));
    m_dialogs.answerFile(m_dir->filePath("Episode One.txt"));
    form->SaveAs1->trigger();
    QCOMPARE(testhelpers::readFileBytes(m_dir->filePath("Episode One.txt")),
             QByteArray("\xEF\xBB\xBFHost: Hello & welcome.\r\n\r\nGuest: Thanks."));
}

void TestTranscribeForm::longEpisodeInParts()
{
    // Over the service's limit: prepared and sent in parts, with the window
    // telling where it is and taking no input but Cancel meanwhile.
    const QString path = m_dir->filePath("Long Episode.mp3");
    speech::writeRecording(path, 90, 128000);
    speech::SpeechStandIn service(120000);
    m_settings->setValue("Settings", "OpenAIServer", service.server());
    auto form = makeForm();
    form->limits = TranscriptionLimits{120000, 0};
    form->Edit9->setText(QStringLiteral("sk-long"));
    form->Edit7->setText(path);
    form->MemoOpenAI->setPlainText(QStringLiteral("old text"));
    QStringList statuses;
    bool lockedDuring = true;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        if (!form->busy())
            return;
        if (statuses.value(statuses.size() - 1) != form->statusText())
            statuses.append(form->statusText());
        lockedDuring = lockedDuring && !form->Button5->isHidden() && form->Button5->isEnabled()
            && !form->Button2->isEnabled() && !form->Edit7->isEnabled() && !form->Edit9->isEnabled()
            && !form->Button3->isEnabled() && !form->MemoOpenAI->isEnabled();
        // A second click on Transcribe and typing into the file box do
        // nothing, now or later.
        QTest::mouseClick(form->Button2, Qt::LeftButton);
        QTest::keyClicks(form->Edit7, QStringLiteral("x"));
    });
    watch.start(0);
    form->Button2->click();
    QVERIFY(form->busy());
    waitIdle(*form);
    watch.stop();
    QCoreApplication::processEvents();
    m_dialogs.takeBeep();

    const QList<speech::HeardPiece> heard = service.heard();
    QVERIFY(heard.size() >= 4);
    QCOMPARE(service.refused(), 0);
    QVERIFY(lockedDuring);
    QCOMPARE(form->Edit7->text(), path);
    QVERIFY(form->Button5->isHidden());
    QVERIFY(form->Button2->isEnabled() && form->Edit7->isEnabled());
    QStringList texts;
    for (const speech::HeardPiece &piece : heard)
        texts.append(QString::fromUtf8(piece.text));
    QCOMPARE(form->MemoOpenAI->toPlainText(), texts.join(' '));
    QCOMPARE(form->statusText(), QStringLiteral("Finished"));
    const QRegularExpression preparing(QStringLiteral("^Preparing audio\\.\\.\\. \\d+%$"));
    const QRegularExpression sending(QStringLiteral("^Transcribing part [1-9] of %1\\.\\.\\.$").arg(heard.size()));
    QVERIFY2(!statuses.filter(preparing).isEmpty(), qPrintable(statuses.join('|')));
    QVERIFY2(!statuses.filter(sending).isEmpty(), qPrintable(statuses.join('|')));
    for (const QString &status : statuses)
        QVERIFY2(preparing.match(status).hasMatch() || sending.match(status).hasMatch() || status == "Please wait...",
                 qPrintable(status));
}

void TestTranscribeForm::cancelLeavesAllAsItWas_data()
{
    QTest::addColumn<QString>("when");
    QTest::newRow("during preparation") << "Preparing audio... ";
    QTest::newRow("during an upload") << "Transcribing part 1 of ";
}

void TestTranscribeForm::cancelLeavesAllAsItWas()
{
    QFETCH(QString, when);
    const QString path = m_dir->filePath("talk.mp3");
    const bool preparing = when.startsWith("Preparing");
    speech::writeRecording(path, preparing ? 300 : 40, 128000);
    m_service->route("/v1/audio/transcriptions", Response::noAnswer());
    auto form = makeForm();
    form->limits = TranscriptionLimits{-1, 20};
    form->Edit9->setText(QStringLiteral("k"));
    form->Edit7->setText(path);
    form->MemoOpenAI->setPlainText(QStringLiteral("the transcript before"));
    QString cancelledAt;
    QTimer watch;
    connect(&watch, &QTimer::timeout, this, [&] {
        // During an upload: once the service has the whole request.
        if (cancelledAt.isEmpty() && form->statusText().startsWith(when) && form->statusText() != "Preparing audio... 0%"
            && (preparing || m_service->requestCount() == 1)) {
            cancelledAt = form->statusText();
            QTest::mouseClick(form->Button5, Qt::LeftButton);
        }
    });
    watch.start(0);
    form->Button2->click();
    waitIdle(*form);
    watch.stop();
    QVERIFY2(!cancelledAt.isEmpty(), qPrintable(form->statusText()));
    QCOMPARE(form->statusText(), QStringLiteral("Cancelled"));
    QCOMPARE(form->MemoOpenAI->toPlainText(), QStringLiteral("the transcript before"));
    QVERIFY(form->Button2->isEnabled());
    QCOMPARE(m_service->requestCount(), preparing ? 0 : 1);
}

void TestTranscribeForm::failureKeepsFinishedParts()
{
    const QString path = m_dir->filePath("talk.mp3");
    speech::writeRecording(path, 90, 64000);
    speech::SpeechStandIn service;
    service.failAfter(1, 500, "{\"error\":{\"message\":\"The server had an error\"}}");
    m_settings->setValue("Settings", "OpenAIServer", service.server());
    auto form = makeForm();
    form->limits = TranscriptionLimits{-1, 40};
    form->Edit9->setText(QStringLiteral("k"));
    form->Edit7->setText(path);
    form->Button2->click();
    waitIdle(*form);
    QCOMPARE(m_dialogs.takeBox(),
             (Box{"Part 2 of 3: {\"error\":{\"message\":\"The server had an error\"}}", "ERROR", Icon::Error, {}}));
    const QList<speech::HeardPiece> heard = service.heard();
    QCOMPARE(heard.size(), 1);
    QCOMPARE(form->MemoOpenAI->toPlainText(), QString::fromUtf8(heard[0].text));
    QCOMPARE(form->statusText(), QStringLiteral("Stopped at part 2 of 3"));
}

void TestTranscribeForm::keyWithControlCharacterRefused()
{
    auto form = makeForm();
    form->Edit9->setText(QStringLiteral("sk-a\r\nX-Injected: yes"));
    form->Edit7->setText(audioFile("a.mp3"));
    form->Button2->click();
    QCOMPARE(m_dialogs.takeBox(), (Box{keyProblem(form->Edit9->text()), "CREDENTIALS", Icon::Warning, {}}));
    QVERIFY(!form->busy());
    QCOMPARE(m_service->requestCount(), 0);
}

void TestTranscribeForm::closingEndsTheWork_data()
{
    QTest::addColumn<bool>("mainWindow");
    QTest::newRow("the Transcribe window") << false;
    QTest::newRow("the main window") << true;
}

void TestTranscribeForm::closingEndsTheWork()
{
    QFETCH(bool, mainWindow);
    m_service->route("/v1/audio/transcriptions", Response::noAnswer());
    auto w = makeMainWindow();
    w->Edit1->setText(m_dir->path());
    w->episodeModel()->setRows({EpisodeRow{"Talk", "http://m.example/t.mp3", "d", {}}});
    w->ListView1->selectRow(0);
    audioFile("Talk.mp3");
    w->Button1->click();
    QPointer<TFormTranscribe> form = w->findChildren<TFormTranscribe *>().value(0);
    QVERIFY(form);
    form->workRoot = m_work->path();
    form->Edit9->setText(QStringLiteral("k"));
    form->Button2->click();
    QTRY_COMPARE(m_service->requestCount(), 1);
    QVERIFY(form->busy());
    if (mainWindow) {
        // The program ends: the main window goes, and the Transcribe window
        // with it, its work cancelled and its thread ended.
        w->close();
        w.reset();
        QVERIFY(form.isNull());
        return;
    }
    form->close();
    QTRY_VERIFY(form.isNull());
    QVERIFY(w->isEnabled());
}

QTEST_MAIN(TestTranscribeForm)
#include "tst_transcribeform.moc"
