// The program's own dialogs behind the dialog seam: the input box and the
// folder picker, driven as the user would drive them.
#include "base/userdialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

// Runs check on the modal dialog of type T once it is up, then closes it.
template <typename T> void whenShown(std::function<void(T *)> check)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, check] {
        auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget());
        if (!dialog || !dialog->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        check(dialog);
    });
    timer->start();
}

} // namespace

class TestUserDialogs : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void inputBox_data();
    void inputBox();
    void folderPickerOpensInsideStartFolder_data();
    void folderPickerOpensInsideStartFolder();
    void boxesShowTextAsWritten_data();
    void boxesShowTextAsWritten();
    void longTextStaysOnScreen_data();
    void longTextStaysOnScreen();

private:
    QtUserDialogs m_dialogs;
};

void TestUserDialogs::inputBox_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("accepted") << true;
    QTest::newRow("cancelled") << false;
}

// The "RSS" box keeps its title, prompt and initial text, and its field has
// room for a feed address of about 60 characters.
void TestUserDialogs::inputBox()
{
    QFETCH(bool, accept);
    const QString url = QStringLiteral("https://podcasts.example.org/shows/the-weekly-talk/feed.xml");
    QString title, prompt, initial;
    int fieldWidth = 0, urlWidth = -1;
    whenShown<QInputDialog>([&](QInputDialog *dialog) {
        title = dialog->windowTitle();
        prompt = dialog->labelText();
        initial = dialog->textValue();
        auto *edit = dialog->findChild<QLineEdit *>();
        fieldWidth = edit->width();
        urlWidth = edit->fontMetrics().horizontalAdvance(url);
        edit->selectAll();
        QTest::keyClicks(edit, url);
        if (accept)
            dialog->accept();
        else
            dialog->reject();
    });
    const std::optional<QString> entered =
        m_dialogs.inputText(nullptr, QStringLiteral("RSS"), QStringLiteral("Please enter new RSS URL:"),
                            QStringLiteral("http://"));
    QCOMPARE(title, "RSS");
    QCOMPARE(prompt, "Please enter new RSS URL:");
    QCOMPARE(initial, "http://");
    QVERIFY2(fieldWidth > urlWidth, qPrintable(QStringLiteral("%1 <= %2").arg(fieldWidth).arg(urlWidth)));
    QCOMPARE(entered, accept ? std::optional<QString>(url) : std::nullopt);
}

void TestUserDialogs::folderPickerOpensInsideStartFolder_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("accepted") << true;
    QTest::newRow("cancelled") << false;
}

// The picker shows the inside of the remembered folder; choosing without
// picking anything else gives that folder.
void TestUserDialogs::folderPickerOpensInsideStartFolder()
{
    QFETCH(bool, accept);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("Podcasts/inner"));
    const QString start = dir.filePath("Podcasts");
    QString title, shown, acceptLabel;
    whenShown<QFileDialog>([&](QFileDialog *dialog) {
        title = dialog->windowTitle();
        shown = dialog->directory().absolutePath();
        acceptLabel = dialog->labelText(QFileDialog::Accept);
        // As the "Select" button does.
        if (accept)
            static_cast<QDialog *>(dialog)->accept();
        else
            dialog->reject();
    });
    const std::optional<QString> chosen = m_dialogs.chooseFolder(nullptr, QStringLiteral("Select folder:"), start);
    QCOMPARE(title, "Select folder:");
    QCOMPARE(acceptLabel, "Select");
    QCOMPARE(shown, start);
    if (accept) {
        QVERIFY(chosen);
        QCOMPARE(QFileInfo(*chosen).absoluteFilePath(), start);
    } else {
        QVERIFY(!chosen);
    }
}

void TestUserDialogs::boxesShowTextAsWritten_data()
{
    QTest::addColumn<bool>("question");
    QTest::newRow("message") << false;
    QTest::newRow("question") << true;
}

// A text that looks like HTML (a notice or an error reason from a server) is
// shown as its characters: no markup is rendered and no link can be followed.
void TestUserDialogs::boxesShowTextAsWritten()
{
    QFETCH(bool, question);
    const QString text = QStringLiteral("<a href=\"file:///etc/passwd\">x</a> <b>bold</b>\r\rsmb://host/share");
    Qt::TextFormat format = Qt::AutoText;
    QString shown;
    Qt::TextInteractionFlags interaction;
    int links = -1;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        format = box->textFormat();
        auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
        QVERIFY(label);
        shown = label->text();
        interaction = label->textInteractionFlags();
        QSignalSpy activated(label, &QLabel::linkActivated);
        // A click where the link would be.
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, label->height() / 2));
        links = int(activated.count());
        box->button(question ? QMessageBox::Yes : QMessageBox::Ok)->click();
    });
    if (question)
        m_dialogs.ask(nullptr, text, QStringLiteral("Confirmation"), UserDialogs::Icon::Question,
                      QMessageBox::Yes | QMessageBox::No, {QStringLiteral("Yes"), QStringLiteral("No")});
    else
        m_dialogs.message(nullptr, text, QStringLiteral("ERROR"), UserDialogs::Icon::Error);
    QCOMPARE(format, Qt::PlainText);
    QCOMPARE(shown, text);
    QVERIFY(!(interaction & Qt::LinksAccessibleByMouse));
    QCOMPARE(links, 0);
}

void TestUserDialogs::longTextStaysOnScreen_data()
{
    QTest::addColumn<QString>("text");
    QString lines;
    for (int i = 0; i < 1000; ++i)
        lines += QStringLiteral("Line %1 of a notice\r\n").arg(i);
    QTest::newRow("10 KB of lines") << lines;
    QTest::newRow("1 MB of words") << QStringLiteral("word ").repeated(200000);
    QTest::newRow("one word of 100 KB") << QStringLiteral("x").repeated(100000);
}

// However long the text, the box fits the screen: it shows the start of the
// text and keeps the whole under "Show Details...".
void TestUserDialogs::longTextStaysOnScreen()
{
    QFETCH(QString, text);
    QRect frame, screenRoom;
    QString shown, details;
    whenShown<QMessageBox>([&](QMessageBox *box) {
        frame = box->frameGeometry();
        screenRoom = box->screen()->availableGeometry();
        shown = box->text();
        details = box->detailedText();
        box->button(QMessageBox::Ok)->click();
    });
    m_dialogs.message(nullptr, text, QStringLiteral("IMPORTANT"), UserDialogs::Icon::Warning);
    QVERIFY2(frame.height() <= screenRoom.height() && frame.width() <= screenRoom.width(),
             qPrintable(QStringLiteral("%1x%2 on %3x%4").arg(frame.width()).arg(frame.height())
                            .arg(screenRoom.width()).arg(screenRoom.height())));
    QVERIFY(shown.endsWith(QLatin1String("...")));
    QVERIFY(text.startsWith(shown.chopped(3)));
    // The details show the whole text, its line breaks as the text box keeps them.
    const auto lines = [](QString t) { return t.replace(QLatin1String("\r\n"), QLatin1String("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n')); };
    QCOMPARE(lines(details), lines(text));
}

int main(int argc, char *argv[])
{
    // Qt's own dialogs, whatever file dialog the desktop would offer.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    TestUserDialogs test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_userdialogs.moc"
