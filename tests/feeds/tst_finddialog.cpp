#include "feeds/finddialog.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

class TestFindDialog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void layout();
    void findNextEmitsFind();
    void textKeptAfterCancel();
    void tabOrder();
};

void TestFindDialog::layout()
{
    TFindDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Find"));
    QVERIFY(!dialog.isModal());
    auto *findNext = dialog.findChild<QPushButton *>(QStringLiteral("findNextButton"));
    auto *cancel = dialog.findChild<QPushButton *>(QStringLiteral("cancelButton"));
    QVERIFY(findNext && cancel);
    QCOMPARE(findNext->text().remove(u'&'), QStringLiteral("Find Next"));
    QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
    // Only the text box and the two buttons: no case, word or direction controls.
    QCOMPARE(dialog.findChildren<QPushButton *>().size(), 2);
    QCOMPARE(dialog.findChildren<QLineEdit *>().size(), 1);
    QCOMPARE(dialog.findChildren<QAbstractButton *>().size(), 2);
}

void TestFindDialog::findNextEmitsFind()
{
    TFindDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy spy(&dialog, &TFindDialog::find);
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("findText"));
    auto *findNext = dialog.findChild<QPushButton *>(QStringLiteral("findNextButton"));
    QVERIFY(!findNext->isEnabled());

    QTest::keyClicks(edit, QStringLiteral("INT"));
    QVERIFY(findNext->isEnabled());
    QTest::mouseClick(findNext, Qt::LeftButton);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(dialog.text(), QStringLiteral("INT"));

    // Return presses the default button; the dialog stays open.
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(spy.size(), 2);
    QVERIFY(dialog.isVisible());
}

void TestFindDialog::textKeptAfterCancel()
{
    TFindDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QSignalSpy spy(&dialog, &TFindDialog::find);
    QTest::keyClicks(dialog.findChild<QLineEdit *>(QStringLiteral("findText")), QStringLiteral("guest"));
    QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("cancelButton")), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(spy.size(), 0);
    QCOMPARE(dialog.text(), QStringLiteral("guest"));
    dialog.show();
    QCOMPARE(dialog.findChild<QLineEdit *>(QStringLiteral("findText"))->text(), QStringLiteral("guest"));
}

// Tab goes round the text box and the two buttons.
void TestFindDialog::tabOrder()
{
    TFindDialog dialog;
    dialog.show();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    auto *edit = dialog.findChild<QLineEdit *>(QStringLiteral("findText"));
    auto *findNext = dialog.findChild<QPushButton *>(QStringLiteral("findNextButton"));
    auto *cancel = dialog.findChild<QPushButton *>(QStringLiteral("cancelButton"));
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("guest"));
    const QList<QWidget *> order{findNext, cancel, edit, findNext};
    for (QWidget *next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), next);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
    QCOMPARE(QApplication::focusWidget(), edit);
}

QTEST_MAIN(TestFindDialog)
#include "tst_finddialog.moc"
