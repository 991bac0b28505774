#include "feeds/displayrss.h"

#include "scripteddialogs.h"

#include <Qsci/qscilexer.h>
#include <Qsci/qsciscintilla.h>

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDebug>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QPointer>
#include <QSet>
#include <QTest>

namespace {

const QString Feed = QStringLiteral(
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
    "<rss version=\"2.0\">\r\n"
    "<!-- a comment -->\r\n"
    "<channel><item><title>R&amp;D</title>\r\n"
    "<enclosure url=\"http://m.example/1.mp3\"/></item></channel>\r\n"
    "</rss>\r\n");

// True when a narrow, a wide and a punctuation character take the same room
// on the line, as in a monospace font.
bool oneAdvance(const QFont &font)
{
    const QFontMetricsF metrics(font);
    const qreal narrow = metrics.horizontalAdvance(u'i');
    const qreal wide = metrics.horizontalAdvance(u'W');
    const qreal stop = metrics.horizontalAdvance(u'.');
    if (narrow <= 0 || !qFuzzyCompare(narrow, wide) || !qFuzzyCompare(narrow, stop)) {
        qWarning() << font.family() << "advances i/W/." << narrow << wide << stop;
        return false;
    }
    return true;
}

// The font of the line numbers, as the editor holds it.
QFont gutterFont(QsciScintilla *memo)
{
    const auto style = (unsigned long)QsciScintillaBase::STYLE_LINENUMBER;
    QByteArray family(memo->SendScintilla(QsciScintillaBase::SCI_STYLEGETFONT, style, (void *)nullptr), '\0');
    memo->SendScintilla(QsciScintillaBase::SCI_STYLEGETFONT, style, (void *)family.data());
    QFont font(QString::fromUtf8(family));
    font.setPointSizeF(memo->SendScintilla(QsciScintillaBase::SCI_STYLEGETSIZEFRACTIONAL, style) / 100.0);
    return font;
}

} // namespace

class TestDisplayRss : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void window();
    void lines_data();
    void lines();
    void marginFitsLineCount();
    void lexerStyles();
    void readOnly_data();
    void readOnly();
    void popupMenu();
    void contextMenuIsOwnPopup();
    void copy_data();
    void copy();
    void selectAll();
    void closeFrees();

private:
    ScriptedDialogs m_dialogs;
};

void TestDisplayRss::cleanup()
{
    m_dialogs.verifyDone();
    m_dialogs.reset();
}

void TestDisplayRss::window()
{
    TFormDisplayRSS form(Feed, m_dialogs);
    QCOMPARE(form.windowTitle(), QStringLiteral("View Source"));
    QCOMPARE(form.size(), QSize(635, 299));
    QVERIFY(form.isWindow());
    QVERIFY(!form.isModal());
    QVERIFY(form.testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(form.font().pixelSize(), 11);
    QsciScintilla *memo = form.findChild<QsciScintilla *>(QStringLiteral("Memo1"));
    QVERIFY(memo);
    QCOMPARE(memo, form.memo());
    QVERIFY(memo->isReadOnly());
    QCOMPARE(memo->edgeMode(), QsciScintilla::EdgeNone);
    QCOMPARE(memo->folding(), QsciScintilla::NoFoldStyle);
    QCOMPARE(memo->eolMode(), QsciScintilla::EolWindows);
    // 13 and 11 pixels at 96 dpi, as QScintilla wants them: in points.
    QCOMPARE(memo->lexer()->font(0).pointSizeF(), 9.75);
    // Courier New where it is installed, otherwise the system's fixed font; in
    // either case every character has the same advance. The font's fixed-pitch
    // flag is no guide: fontconfig leaves it unset for some monospace fonts.
    QVERIFY(oneAdvance(memo->lexer()->font(0)));
    QVERIFY(oneAdvance(gutterFont(memo)));

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    // Memo1 fills the window.
    QCOMPARE(memo->geometry(), form.rect());
    // Centred on the screen.
    const QPoint centre = form.screen()->availableGeometry().center();
    QVERIFY((form.frameGeometry().center() - centre).manhattanLength() <= 40);
}

void TestDisplayRss::lines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("crlf, final break")
        << QStringLiteral("<a>\r\n<b/>\r\n</a>\r\n") << QStringList{"<a>", "<b/>", "</a>"};
    QTest::newRow("crlf, no final break") << QStringLiteral("<a>\r\n\r\n</a>") << QStringList{"<a>", "", "</a>"};
    QTest::newRow("lf only") << QStringLiteral("<a>\n<b/>\n</a>\n") << QStringList{"<a>", "<b/>", "</a>"};
    QTest::newRow("one line") << QStringLiteral("<a/>") << QStringList{"<a/>"};
    QTest::newRow("non-ascii") << QStringLiteral("<t>Caf\u00E9 \U0001F600</t>\r\nx")
                               << QStringList{QStringLiteral("<t>Caf\u00E9 \U0001F600</t>"), "x"};
}

void TestDisplayRss::lines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, lines);
    TFormDisplayRSS form(text, m_dialogs);
    QsciScintilla *memo = form.memo();
    QCOMPARE(memo->lines(), int(lines.size()));
    for (int i = 0; i < lines.size(); ++i) {
        QString line = memo->text(i);
        while (line.endsWith(u'\n') || line.endsWith(u'\r'))
            line.chop(1);
        QCOMPARE(line, lines.at(i));
    }
}

void TestDisplayRss::marginFitsLineCount()
{
    QStringList many;
    for (int i = 0; i < 12345; ++i)
        many << QStringLiteral("<x/>");
    TFormDisplayRSS form(many.join(QStringLiteral("\r\n")), m_dialogs);
    QsciScintilla *memo = form.memo();
    QCOMPARE(memo->lines(), 12345);
    QCOMPARE(memo->marginType(0), QsciScintilla::NumberMargin);
    QVERIFY(memo->marginLineNumbers(0));
    // What the editor itself holds, in hundredths of a point: the text and the
    // line numbers at 13 and 11 pixels.
    QCOMPARE(memo->SendScintilla(QsciScintillaBase::SCI_STYLEGETSIZEFRACTIONAL, 0UL), 975);
    QCOMPARE(memo->SendScintilla(QsciScintillaBase::SCI_STYLEGETSIZEFRACTIONAL,
                                 (unsigned long)QsciScintillaBase::STYLE_LINENUMBER), 825);
    QFont gutter = memo->lexer()->font(0);
    gutter.setPointSizeF(8.25);
    QVERIFY(memo->marginWidth(0) >= QFontMetrics(gutter).horizontalAdvance(QStringLiteral("12345")));
    QCOMPARE(memo->marginWidth(1), 0);
    QCOMPARE(memo->marginWidth(2), 0);
}

// Tags, attribute names, attribute values, comments, entities and plain text
// are styled, each in a colour of its own.
void TestDisplayRss::lexerStyles()
{
    TFormDisplayRSS form(Feed, m_dialogs);
    QsciScintilla *memo = form.memo();
    QsciLexer *lexer = memo->lexer();
    QVERIFY(lexer);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    memo->recolor();

    auto styleAt = [memo](const QString &what, int offset) {
        const QByteArray bytes = memo->text().toUtf8();
        const int pos = int(bytes.indexOf(what.toUtf8())) + offset;
        return int(memo->SendScintilla(QsciScintillaBase::SCI_GETSTYLEAT, pos));
    };
    const QList<int> styles{
        styleAt(QStringLiteral("<rss"), 1),           // tag
        styleAt(QStringLiteral("version="), 0),       // attribute name
        styleAt(QStringLiteral("\"2.0\""), 1),        // attribute value
        styleAt(QStringLiteral("a comment"), 0),      // comment
        styleAt(QStringLiteral("&amp;"), 1),          // entity
        styleAt(QStringLiteral("R&amp;D"), 0),        // plain text
    };
    QSet<QRgb> colours;
    for (int style : styles)
        colours.insert(lexer->color(style).rgb());
    QCOMPARE(colours.size(), styles.size());
}

void TestDisplayRss::readOnly_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QKeySequence>("keys");
    QTest::newRow("typing") << QStringLiteral("abc <x>") << QKeySequence();
    QTest::newRow("return") << QString() << QKeySequence(Qt::Key_Return);
    QTest::newRow("paste") << QString() << QKeySequence(QKeySequence::Paste);
    QTest::newRow("shift+insert") << QString() << QKeySequence(Qt::SHIFT | Qt::Key_Insert);
    QTest::newRow("delete") << QString() << QKeySequence(Qt::Key_Delete);
    QTest::newRow("backspace") << QString() << QKeySequence(Qt::Key_Backspace);
    QTest::newRow("cut") << QString() << QKeySequence(QKeySequence::Cut);
    QTest::newRow("delete line") << QString() << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L);
    QTest::newRow("duplicate") << QString() << QKeySequence(Qt::CTRL | Qt::Key_D);
    QTest::newRow("undo") << QString() << QKeySequence(QKeySequence::Undo);
}

void TestDisplayRss::readOnly()
{
    QFETCH(QString, typed);
    QFETCH(QKeySequence, keys);
    QGuiApplication::clipboard()->setText(QStringLiteral("PASTED"));
    TFormDisplayRSS form(Feed, m_dialogs);
    QsciScintilla *memo = form.memo();
    const QString before = memo->text();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    memo->setFocus();
    memo->setCursorPosition(1, 3);
    memo->setSelection(1, 0, 1, 4);
    if (!typed.isEmpty())
        QTest::keyClicks(memo, typed);
    if (!keys.isEmpty())
        QTest::keySequence(memo, keys);
    QCOMPARE(memo->text(), before);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("PASTED"));
}

void TestDisplayRss::popupMenu()
{
    TFormDisplayRSS form(Feed, m_dialogs);
    QMenu *menu = form.findChild<QMenu *>(QStringLiteral("PopupMenu1"));
    QVERIFY(menu);
    QCOMPARE(menu, form.popupMenu());
    QStringList items;
    for (QAction *action : menu->actions())
        items << (action->isSeparator() ? QStringLiteral("-")
                                        : action->text() + (action->isEnabled() ? "" : " (disabled)"));
    QCOMPARE(items, (QStringList{"Undo (disabled)", "-", "Cut (disabled)", "Copy", "Paste (disabled)",
                                 "Delete (disabled)", "-", "Select All"}));
    QCOMPARE(menu->actions().at(3)->objectName(), QStringLiteral("MenuItem4"));
    QCOMPARE(menu->actions().at(7)->objectName(), QStringLiteral("MenuItem8"));

    // Selecting text or everything enables nothing more.
    form.MenuItem8Click();
    QTest::keyClick(form.memo(), Qt::Key_Right, Qt::ShiftModifier);
    for (QAction *action : menu->actions())
        if (!action->isSeparator())
            QCOMPARE(action->isEnabled(), action->objectName() == "MenuItem4" || action->objectName() == "MenuItem8");
}

void TestDisplayRss::contextMenuIsOwnPopup()
{
    TFormDisplayRSS form(Feed, m_dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QWidget *viewport = form.memo()->viewport();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(20, 20), viewport->mapToGlobal(QPoint(20, 20)));
    QCoreApplication::sendEvent(viewport, &event);
    QTRY_VERIFY(form.popupMenu()->isVisible());
    const QList<QMenu *> menus = form.findChildren<QMenu *>();
    for (QMenu *menu : menus)
        QCOMPARE(menu->isVisible(), menu == form.popupMenu());
    form.popupMenu()->close();
}

void TestDisplayRss::copy_data()
{
    QTest::addColumn<int>("fromLine");
    QTest::addColumn<int>("fromIndex");
    QTest::addColumn<int>("toLine");
    QTest::addColumn<int>("toIndex");
    QTest::addColumn<bool>("byKey");
    QTest::addColumn<QStringList>("clipboard");
    QTest::newRow("selection") << 1 << 1 << 1 << 4 << false << QStringList{"rss"};
    QTest::newRow("selection over a line end") << 4 << 0 << 5 << 6 << false
                                               << QStringList{"<enclosure url=\"http://m.example/1.mp3\"/></item></channel>\r\n</rss>"};
    QTest::newRow("selection, ctrl+c") << 1 << 1 << 1 << 4 << true << QStringList{"rss"};
    QTest::newRow("no selection") << -1 << 0 << 0 << 0 << false << QStringList();
    QTest::newRow("no selection, ctrl+c") << -1 << 0 << 0 << 0 << true << QStringList();
}

void TestDisplayRss::copy()
{
    QFETCH(int, fromLine);
    QFETCH(int, fromIndex);
    QFETCH(int, toLine);
    QFETCH(int, toIndex);
    QFETCH(bool, byKey);
    QFETCH(QStringList, clipboard);

    TFormDisplayRSS form(Feed, m_dialogs);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    if (fromLine >= 0)
        form.memo()->setSelection(fromLine, fromIndex, toLine, toIndex);
    if (byKey)
        QTest::keySequence(form.memo(), QKeySequence::Copy);
    else
        form.findChild<QAction *>(QStringLiteral("MenuItem4"))->trigger();
    QCOMPARE(m_dialogs.clipboardWrites(), clipboard);
    for (int i = 0; i < clipboard.size(); ++i)
        m_dialogs.takeClipboard();
}

void TestDisplayRss::selectAll()
{
    TFormDisplayRSS form(Feed, m_dialogs);
    QsciScintilla *memo = form.memo();
    QVERIFY(!memo->hasSelectedText());
    form.findChild<QAction *>(QStringLiteral("MenuItem8"))->trigger();
    QCOMPARE(memo->selectedText(), memo->text());
    form.MenuItem4Click();
    QCOMPARE(m_dialogs.takeClipboard(), Feed.chopped(2));
}

void TestDisplayRss::closeFrees()
{
    QWidget owner;
    QPointer<TFormDisplayRSS> form = new TFormDisplayRSS(Feed, m_dialogs, &owner);
    QPointer<TFormDisplayRSS> other = new TFormDisplayRSS(Feed, m_dialogs, &owner);
    form->show();
    other->show();
    QVERIFY(QTest::qWaitForWindowExposed(form));
    QVERIFY(form->isWindow());
    QVERIFY(form->close());
    QTRY_VERIFY(form.isNull());
    // Other viewers stay.
    QVERIFY(!other.isNull());
    QVERIFY(other->isVisible());
}

QTEST_MAIN(TestDisplayRss)
#include "tst_displayrss.moc"
