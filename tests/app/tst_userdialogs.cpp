// The program's own dialogs behind the dialog seam: the input box and the
// folder picker, driven as the user would drive them.
#include "base/userdialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
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
