#include "feeds/displayrss.h"

#include "base/userdialogs.h"

#include <Qsci/qscicommand.h>
#include <Qsci/qscicommandset.h>
#include <Qsci/qscilexerxml.h>
#include <Qsci/qsciscintilla.h>

#include <QContextMenuEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QVBoxLayout>

#include <functional>

namespace {

// Courier New at a height given in pixels at 96 dpi. QScintilla takes font
// sizes in points only (a pixel-sized QFont reaches it as size -1), so the
// height goes in as points: 72 points to the 96 pixels of an inch.
QFont courierNew(int pixelSize)
{
    QFont font;
    if (QFontDatabase::families().contains(QStringLiteral("Courier New"))) {
        font = QFont(QStringLiteral("Courier New"));
    } else {
        font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setStyleHint(QFont::TypeWriter);
    }
    font.setPointSizeF(pixelSize * 72.0 / 96.0);
    font.setBold(false);
    font.setItalic(false);
    return font;
}

// The editor with the window's own popup menu instead of QScintilla's, and
// with every key that would write the clipboard directly turned to the
// window's Copy (or to nothing, for the cut keys, which have no use here).
class ViewerEdit : public QsciScintilla
{
public:
    explicit ViewerEdit(QWidget *parent) : QsciScintilla(parent)
    {
        QsciCommandSet *commands = standardCommands();
        for (QsciCommand::Command c : {QsciCommand::SelectionCopy, QsciCommand::SelectionCut,
                                       QsciCommand::LineCopy, QsciCommand::LineCut}) {
            if (QsciCommand *command = commands->find(c)) {
                command->setKey(0);
                command->setAlternateKey(0);
            }
        }
    }

    QMenu *menu = nullptr;
    std::function<void()> copy;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override
    {
        if (menu)
            menu->popup(event->globalPos());
        event->accept();
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        const QKeyCombination key = event->keyCombination();
        if (event->matches(QKeySequence::Copy) || key == QKeyCombination(Qt::ControlModifier, Qt::Key_Insert)) {
            if (copy)
                copy();
            event->accept();
            return;
        }
        if (event->matches(QKeySequence::Cut)) {
            event->accept();
            return;
        }
        QsciScintilla::keyPressEvent(event);
    }
};

// The lexer's style colours: tags, attribute names, attribute values,
// comments, entities and plain text each their own.
void styleLexer(QsciLexerXML *lexer, const QFont &font)
{
    lexer->setDefaultFont(font);
    lexer->setFont(font, -1);
    lexer->setDefaultPaper(Qt::white);
    lexer->setPaper(Qt::white, -1);
    lexer->setDefaultColor(Qt::black);

    const QColor text(0x00, 0x00, 0x00);
    const QColor tag(0x00, 0x00, 0xA0);
    const QColor attribute(0xA0, 0x00, 0x00);
    const QColor value(0x80, 0x00, 0x80);
    const QColor comment(0x00, 0x80, 0x00);
    const QColor entity(0xC0, 0x60, 0x00);
    const QColor cdata(0x60, 0x60, 0x60);

    lexer->setColor(text, QsciLexerHTML::Default);
    lexer->setColor(text, QsciLexerHTML::OtherInTag);
    for (int s : {QsciLexerHTML::Tag, QsciLexerHTML::UnknownTag, QsciLexerHTML::XMLTagEnd,
                  QsciLexerHTML::XMLStart, QsciLexerHTML::XMLEnd})
        lexer->setColor(tag, s);
    for (int s : {QsciLexerHTML::Attribute, QsciLexerHTML::UnknownAttribute})
        lexer->setColor(attribute, s);
    for (int s : {QsciLexerHTML::HTMLDoubleQuotedString, QsciLexerHTML::HTMLSingleQuotedString,
                  QsciLexerHTML::HTMLNumber, QsciLexerHTML::HTMLValue})
        lexer->setColor(value, s);
    lexer->setColor(comment, QsciLexerHTML::HTMLComment);
    lexer->setColor(entity, QsciLexerHTML::Entity);
    lexer->setColor(cdata, QsciLexerHTML::CDATA);
}

// The text as the viewer shows it: a final line break makes no extra empty
// line, so the numbered lines are the lines of the text.
QString displayText(const QString &text)
{
    if (text.endsWith(QLatin1StringView("\r\n")))
        return text.chopped(2);
    if (text.endsWith(u'\n') || text.endsWith(u'\r'))
        return text.chopped(1);
    return text;
}

} // namespace

TFormDisplayRSS::TFormDisplayRSS(const QString &text, UserDialogs &dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_dialogs(dialogs)
{
    setObjectName(QStringLiteral("FormDisplayRSS"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("View Source"));
    QFont formFont(QStringLiteral("Tahoma"));
    formFont.setPixelSize(11);
    setFont(formFont);

    auto *edit = new ViewerEdit(this);
    Memo1 = edit;
    Memo1->setObjectName(QStringLiteral("Memo1"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);

    const QFont textFont = courierNew(13);
    const QFont gutterFont = courierNew(11);
    Memo1->setFont(textFont);
    auto *lexer = new QsciLexerXML(Memo1);
    styleLexer(lexer, textFont);
    Memo1->setLexer(lexer);

    Memo1->setFolding(QsciScintilla::NoFoldStyle);
    Memo1->setEdgeMode(QsciScintilla::EdgeNone);
    Memo1->setEolMode(QsciScintilla::EolWindows);
    Memo1->setUtf8(true);
    Memo1->SendScintilla(QsciScintillaBase::SCI_SETUNDOCOLLECTION, 0UL);

    Memo1->setText(displayText(text));
    Memo1->SendScintilla(QsciScintillaBase::SCI_EMPTYUNDOBUFFER);
    Memo1->setReadOnly(true);
    Memo1->setCursorPosition(0, 0);

    // Margin 0: the line numbers; the symbol and fold margins stay empty.
    Memo1->setMarginsFont(gutterFont);
    Memo1->setMarginType(0, QsciScintilla::NumberMargin);
    Memo1->setMarginLineNumbers(0, true);
    const int digits = int(QString::number(qMax(1, Memo1->lines())).size());
    Memo1->setMarginWidth(0, QString(digits + 1, u'9'));
    Memo1->setMarginWidth(1, 0);
    Memo1->setMarginWidth(2, 0);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    auto addDisabled = [this](const QString &caption, const QString &name) {
        QAction *action = PopupMenu1->addAction(caption);
        action->setObjectName(name);
        action->setEnabled(false);
    };
    addDisabled(QStringLiteral("Undo"), QStringLiteral("MenuItem1"));
    PopupMenu1->addSeparator();
    addDisabled(QStringLiteral("Cut"), QStringLiteral("MenuItem3"));
    MenuItem4 = PopupMenu1->addAction(QStringLiteral("Copy"), this, &TFormDisplayRSS::MenuItem4Click);
    MenuItem4->setObjectName(QStringLiteral("MenuItem4"));
    addDisabled(QStringLiteral("Paste"), QStringLiteral("MenuItem5"));
    addDisabled(QStringLiteral("Delete"), QStringLiteral("MenuItem6"));
    PopupMenu1->addSeparator();
    MenuItem8 = PopupMenu1->addAction(QStringLiteral("Select All"), this, &TFormDisplayRSS::MenuItem8Click);
    MenuItem8->setObjectName(QStringLiteral("MenuItem8"));

    edit->menu = PopupMenu1;
    edit->copy = [this] { MenuItem4Click(); };

    // 635 x 299 device-independent pixels, which is 635 x 299 at 96 dpi.
    resize(635, 299);
    QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

void TFormDisplayRSS::MenuItem4Click()
{
    if (Memo1->hasSelectedText())
        m_dialogs.setClipboardText(Memo1->selectedText());
}

void TFormDisplayRSS::MenuItem8Click()
{
    Memo1->selectAll(true);
}
