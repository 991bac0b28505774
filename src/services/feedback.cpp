#include "services/feedback.h"

#include "base/makerserver.h"
#include "base/userdialogs.h"
#include "base/versioninfo.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace {

constexpr int kMessageLimit = 10000;
constexpr int kEmailLimit = 100;

QFont tahoma(int pixelSize, bool bold = false)
{
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

// The 32 x 32 faces of the two choices.
QPixmap face(bool smiling)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2e, 0x34, 0x36), 2));
    p.setBrush(smiling ? QColor(0xfc, 0xe9, 0x4f) : QColor(0xfc, 0xaf, 0x3e));
    p.drawEllipse(QRectF(2, 2, 28, 28));
    p.setBrush(QColor(0x2e, 0x34, 0x36));
    p.drawEllipse(QRectF(10, 10, 3, 4));
    p.drawEllipse(QRectF(19, 10, 3, 4));
    p.setBrush(Qt::NoBrush);
    if (smiling)
        p.drawArc(QRectF(9, 12, 14, 11), 200 * 16, 140 * 16);
    else
        p.drawArc(QRectF(9, 19, 14, 9), 20 * 16, 140 * 16);
    return pixmap;
}

} // namespace

TFeedbackForm::TFeedbackForm(const AppIdentity &identity, UserDialogs &dialogs, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_appTitle(identity.title), m_productName(identity.productName), m_version(identity.version),
      m_dialogs(&dialogs)
{
    setObjectName(QStringLiteral("FeedbackForm"));
    setFixedSize(525, 326);
    setFont(tahoma(11));
    setModal(true);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(6);

    Panel3 = new QWidget(this);
    Panel3->setObjectName(QStringLiteral("Panel3"));
    auto *choices = new QHBoxLayout(Panel3);
    choices->setContentsMargins(0, 0, 0, 0);
    choices->setSpacing(8);
    const auto makeChoice = [this, choices](const char *panelName, const char *imageName, bool smiling,
                                            QLabel *&image) {
        auto *panel = new QFrame(Panel3);
        panel->setObjectName(QLatin1String(panelName));
        panel->setFixedHeight(44);
        panel->setCursor(Qt::PointingHandCursor);
        panel->setAutoFillBackground(true);
        panel->setLineWidth(2);
        panel->setFont(tahoma(16));
        auto *row = new QHBoxLayout(panel);
        row->setContentsMargins(6, 4, 6, 4);
        image = new QLabel(panel);
        image->setObjectName(QLatin1String(imageName));
        image->setFixedSize(32, 32);
        image->setPixmap(face(smiling));
        auto *caption = new QLabel(panel);
        caption->setObjectName(QLatin1String(panelName) + QLatin1String("Caption"));
        row->addWidget(image);
        row->addWidget(caption, 1);
        panel->installEventFilter(this);
        image->installEventFilter(this);
        caption->installEventFilter(this);
        choices->addWidget(panel, 1);
        return panel;
    };
    Panel4 = makeChoice("Panel4", "Image1", true, Image1);
    Panel5 = makeChoice("Panel5", "Image2", false, Image2);
    column->addWidget(Panel3);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(tahoma(16));
    column->addWidget(Label1);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(tahoma(11, true));
    column->addWidget(Label2);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(true);
    Memo1->installEventFilter(this);
    connect(Memo1, &QPlainTextEdit::textChanged, this, [this] {
        // The message holds at most kMessageLimit characters.
        const QString text = Memo1->toPlainText();
        if (text.size() <= kMessageLimit)
            return;
        QTextCursor cursor = Memo1->textCursor();
        cursor.setPosition(kMessageLimit);
        cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        Memo1->setTextCursor(cursor);
    });
    column->addWidget(Memo1, 1);

    Panel1 = new QWidget(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    auto *emailRow = new QHBoxLayout(Panel1);
    emailRow->setContentsMargins(0, 0, 0, 0);
    Label3 = new QLabel(Panel1);
    Label3->setObjectName(QStringLiteral("Label3"));
    Edit1 = new QLineEdit(Panel1);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setMaxLength(kEmailLimit);
    Edit1->installEventFilter(this);
    emailRow->addWidget(Label3);
    emailRow->addWidget(Edit1, 1);
    column->addWidget(Panel1);

    Panel2 = new QWidget(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    auto *buttonRow = new QHBoxLayout(Panel2);
    buttonRow->setContentsMargins(0, 0, 0, 0);
    BitBtn1 = new QPushButton(Panel2);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setFont(tahoma(11, true));
    BitBtn1->setIcon(QIcon(QStringLiteral(":/images/feedback.png")));
    BitBtn1->setFixedSize(120, 30);
    BitBtn1->setAutoDefault(false);
    BitBtn1->installEventFilter(this);
    buttonRow->addStretch(1);
    buttonRow->addWidget(BitBtn1);
    column->addWidget(Panel2);

    connect(BitBtn1, &QPushButton::clicked, this, [this] {
        runCommand(*m_dialogs, this, [this] { BitBtn1Click(); });
    });

    FormCreate();
}

void TFeedbackForm::showModal(const AppIdentity &identity, UserDialogs &dialogs, QWidget *parent)
{
    auto *form = new TFeedbackForm(identity, dialogs, parent);
    form->setAttribute(Qt::WA_DeleteOnClose);
    form->exec();
}

void TFeedbackForm::FormCreate()
{
    setWindowTitle(m_productName + QLatin1String(" feedback"));
    Label1->setText(QStringLiteral("We would really appreciate your feedback."));
    Label2->setText(QStringLiteral("What did you like or dislike?"));
    Label3->setText(QStringLiteral("Include my e-mail:"));
    BitBtn1->setText(QStringLiteral("Send"));
    Panel4->findChild<QLabel *>(QStringLiteral("Panel4Caption"))->setText(QStringLiteral("I like it!"));
    Panel5->findChild<QLabel *>(QStringLiteral("Panel5Caption"))->setText(QStringLiteral("I dislike it!"));
    setSelected(Panel4, false);
    setSelected(Panel5, false);
    if (QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    Memo1->setFocus();
}

void TFeedbackForm::setSelected(QFrame *panel, bool selected)
{
    panel->setBackgroundRole(selected ? QPalette::Highlight : QPalette::Button);
    panel->setForegroundRole(selected ? QPalette::HighlightedText : QPalette::WindowText);
    for (QLabel *label : panel->findChildren<QLabel *>())
        label->setForegroundRole(panel->foregroundRole());
    panel->setFrameStyle(QFrame::Panel | (selected ? QFrame::Sunken : QFrame::Raised));
}

bool TFeedbackForm::isSelected(const QFrame *panel) const
{
    return panel->backgroundRole() == QPalette::Highlight;
}

FeedbackChoice TFeedbackForm::choice() const
{
    if (isSelected(Panel4))
        return FeedbackChoice::Like;
    if (isSelected(Panel5))
        return FeedbackChoice::Dislike;
    return FeedbackChoice::None;
}

void TFeedbackForm::Image1Click()
{
    if (!isSelected(Panel4))
        setSelected(Panel4, true);
    if (isSelected(Panel5))
        setSelected(Panel5, false);
}

void TFeedbackForm::Image2Click()
{
    if (!isSelected(Panel5))
        setSelected(Panel5, true);
    if (isSelected(Panel4))
        setSelected(Panel4, false);
}

QString TFeedbackForm::message() const
{
    QString text = Memo1->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text;
}

void TFeedbackForm::BitBtn1Click()
{
    const QString feedback = composeFeedback(choice(), message());
    if (stripControls(message()).isEmpty()) {
        Memo1->setFocus();
        m_dialogs->beep();
        return;
    }
    const QString email = stripControls(Edit1->text());
    if (!email.isEmpty() && !isValidEmail(email)) {
        Edit1->setFocus();
        m_dialogs->message(this, QStringLiteral("Invalid e-mail address!"), QStringLiteral("Failure"),
                           UserDialogs::Icon::Error);
        return;
    }
    bool delivered = false;
    QApplication::setOverrideCursor(Qt::BusyCursor);
    try {
        delivered = sendFeedback(makerHost(), feedbackFields(m_appTitle, m_version, feedback, email));
    } catch (...) {
        delivered = false;
    }
    QApplication::restoreOverrideCursor();
    if (delivered) {
        m_dialogs->message(this, QStringLiteral("Your feedback is received.\r\rThank you!"), QStringLiteral("Success"),
                           UserDialogs::Icon::Information);
        close();
        return;
    }
    m_dialogs->message(this,
                       QStringLiteral("Something went wrong. Your feedback could not be delivered.\r\r"
                                      "Please try again later."),
                       QStringLiteral("Failure"), UserDialogs::Icon::Error);
}

bool TFeedbackForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && (watched == Memo1 || watched == Edit1 || watched == BitBtn1)) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape) {
            close();
            return true;
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        const auto *widget = qobject_cast<QWidget *>(watched);
        if (widget && (widget == Panel4 || Panel4->isAncestorOf(widget))) {
            Image1Click();
            return true;
        }
        if (widget && (widget == Panel5 || Panel5->isAncestorOf(widget))) {
            Image2Click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
