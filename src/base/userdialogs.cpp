#include "base/userdialogs.h"

#include "base/errors.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>

namespace {

QMessageBox::Icon toQt(UserDialogs::Icon icon)
{
    switch (icon) {
    case UserDialogs::Icon::Information: return QMessageBox::Information;
    case UserDialogs::Icon::Warning: return QMessageBox::Warning;
    case UserDialogs::Icon::Error: return QMessageBox::Critical;
    case UserDialogs::Icon::Question: return QMessageBox::Question;
    case UserDialogs::Icon::None: break;
    }
    return QMessageBox::NoIcon;
}

// A box's text is always drawn as the characters it holds: a text from a
// server that looks like HTML is never rendered, and nothing in it becomes a
// link.
void plainTextOnly(QMessageBox &box)
{
    box.setTextFormat(Qt::PlainText);
    box.setTextInteractionFlags(Qt::NoTextInteraction);
}

// The most of a text a box lays out; beyond it the box shows a part and
// keeps the whole under "Show Details...".
constexpr qsizetype kBoxTextChars = 4000;

// Sets the box's text so that the box stays within the screen: a text too
// long or too tall for it is shown in part, ending in "...", with the whole
// text under "Show Details...", where it scrolls.
void setTextOnScreen(QMessageBox &box, const QString &text, const QWidget *parent)
{
    const QScreen *screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    const QSize room = screen ? screen->availableGeometry().size() : QSize(800, 600);
    // The box wraps its text at about half the screen's width, at most 500
    // pixels; its icon, margins and buttons take about 150 pixels more.
    const int wrapWidth = qMin(room.width() / 2, 500);
    const QFontMetrics metrics(box.font());
    const auto fits = [&](const QString &shown) {
        const QRect needed = metrics.boundingRect(QRect(0, 0, wrapWidth, 1 << 20),
                                                  Qt::TextWordWrap | Qt::TextExpandTabs, shown);
        return needed.height() + 150 <= room.height() * 3 / 4 && needed.width() + 150 <= room.width();
    };
    if (text.size() <= kBoxTextChars && fits(text)) {
        box.setText(text);
        return;
    }
    const QString ellipsis = QStringLiteral("...");
    qsizetype lo = 0, hi = qMin(text.size(), kBoxTextChars);
    while (lo < hi) {
        const qsizetype mid = (lo + hi + 1) / 2;
        if (fits(text.left(mid) + ellipsis))
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo > 0 && text.at(lo - 1).isHighSurrogate())
        --lo;
    box.setText(text.left(lo) + ellipsis);
    box.setDetailedText(text);
}

} // namespace

int inputFieldWidth(const QLineEdit *edit)
{
    const QString typical = QStringLiteral("https://feeds.example.com/podcasts/weekly-show/episodes.rss");
    // The field's own size hint is room for 17 "x" plus the frame and margins
    // of the style; the same frame around the typical address instead.
    const QFontMetrics metrics = edit->fontMetrics();
    return edit->sizeHint().width() - 17 * metrics.horizontalAdvance(QLatin1Char('x'))
           + metrics.horizontalAdvance(typical);
}

void QtUserDialogs::message(QWidget *parent, const QString &text, const QString &title, Icon icon)
{
    QMessageBox box(toQt(icon), title, QString(), QMessageBox::Ok, parent);
    plainTextOnly(box);
    setTextOnScreen(box, text, parent);
    box.exec();
}

QMessageBox::StandardButton QtUserDialogs::ask(QWidget *parent, const QString &text, const QString &title,
                                               Icon icon, QMessageBox::StandardButtons buttons,
                                               const QStringList &buttonTexts)
{
    QMessageBox box(toQt(icon), title, QString(), buttons, parent);
    plainTextOnly(box);
    setTextOnScreen(box, text, parent);
    // The buttons in the order of the standard button values, which is the
    // order the caller names them in (Yes before No, OK before Cancel).
    int k = 0;
    for (uint flag = QMessageBox::FirstButton; flag <= QMessageBox::LastButton && k < buttonTexts.size();
         flag <<= 1) {
        if (QAbstractButton *button = box.button(QMessageBox::StandardButton(flag)))
            button->setText(buttonTexts.at(k++));
    }
    box.exec();
    if (!box.clickedButton())
        return QMessageBox::NoButton;
    return box.standardButton(box.clickedButton());
}

std::optional<QString> QtUserDialogs::inputText(QWidget *parent, const QString &title, const QString &prompt,
                                                const QString &initialText)
{
    QInputDialog dialog(parent);
    dialog.setWindowTitle(title);
    dialog.setLabelText(prompt);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(initialText);
    // Wide enough for a typical web address of about 60 characters.
    if (auto *edit = dialog.findChild<QLineEdit *>())
        edit->setMinimumWidth(inputFieldWidth(edit));
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.textValue();
}

std::optional<QString> QtUserDialogs::chooseFolder(QWidget *parent, const QString &title,
                                                   const QString &startFolder)
{
    // Opens inside the start folder, which is also what "Select" gives when
    // nothing else is picked.
    QFileDialog dialog(parent, title, startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Select"));
    dialog.setDirectory(startFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

std::optional<QString> QtUserDialogs::chooseFile(QWidget *parent, FileMode mode, const QString &filter,
                                                 const QString &defaultSuffix)
{
    QFileDialog dialog(parent);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    if (mode == FileMode::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void QtUserDialogs::beep()
{
    QApplication::beep();
}

void QtUserDialogs::setClipboardText(const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
}

bool QtUserDialogs::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

void openOrSay(UserDialogs &dialogs, QWidget *parent, const QUrl &url)
{
    if (dialogs.openUrl(url))
        return;
    const QString shown = url.isLocalFile() ? url.toLocalFile() : url.toString();
    dialogs.message(parent,
                    QLatin1String("Could not open ") + shown
                        + QLatin1String(": this system has no program to open it (xdg-open, of the package "
                                        "xdg-utils)."),
                    QStringLiteral("ERROR"), UserDialogs::Icon::Error);
}

QString applicationTitle()
{
    return QStringLiteral("Morvane");
}

void runCommand(UserDialogs &dialogs, QWidget *parent, const std::function<void()> &command)
{
    try {
        command();
    } catch (const std::exception &e) {
        dialogs.message(parent, errorBoxText(exceptionMessage(e)), applicationTitle(), UserDialogs::Icon::Error);
    }
}
