#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

class QLineEdit;
class QWidget;

// Every message box, question, input box, folder dialog, beep, clipboard write
// and URL opening of the program goes through this interface. The windows get
// it handed in; the program uses QtUserDialogs, the tests a scripted recorder
// that answers from a script and keeps what the user would have seen.
class UserDialogs
{
public:
    enum class Icon { None, Information, Warning, Error, Question };

    virtual ~UserDialogs() = default;

    // A message box with an OK button.
    virtual void message(QWidget *parent, const QString &text, const QString &title, Icon icon) = 0;

    // A modal question whose buttons carry the given texts, in the order the
    // buttons are laid out; returns the button pressed (NoButton when the box is
    // closed without a button).
    virtual QMessageBox::StandardButton ask(QWidget *parent, const QString &text, const QString &title,
                                            Icon icon, QMessageBox::StandardButtons buttons,
                                            const QStringList &buttonTexts) = 0;

    // A modal one-line input box; nullopt when cancelled.
    virtual std::optional<QString> inputText(QWidget *parent, const QString &title, const QString &prompt,
                                             const QString &initialText) = 0;

    // The folder picker; nullopt when cancelled.
    virtual std::optional<QString> chooseFolder(QWidget *parent, const QString &title,
                                                const QString &startFolder) = 0;

    // A file dialog for a file to open or to save; nullopt when cancelled.
    // The filter lists "Description (*.ext)" entries separated by ";;"; the
    // default suffix is added to a name typed without one.
    enum class FileMode { Open, Save };
    virtual std::optional<QString> chooseFile(QWidget *parent, FileMode mode, const QString &filter,
                                              const QString &defaultSuffix) = 0;

    virtual void beep() = 0;
    virtual void setClipboardText(const QString &text) = 0;
    // Hands a web address or a local path to the desktop; the result is the
    // desktop's answer, which most callers ignore.
    virtual bool openUrl(const QUrl &url) = 0;
};

class QtUserDialogs : public UserDialogs
{
public:
    void message(QWidget *parent, const QString &text, const QString &title, Icon icon) override;
    QMessageBox::StandardButton ask(QWidget *parent, const QString &text, const QString &title, Icon icon,
                                    QMessageBox::StandardButtons buttons,
                                    const QStringList &buttonTexts) override;
    std::optional<QString> inputText(QWidget *parent, const QString &title, const QString &prompt,
                                     const QString &initialText) override;
    std::optional<QString> chooseFolder(QWidget *parent, const QString &title,
                                        const QString &startFolder) override;
    std::optional<QString> chooseFile(QWidget *parent, FileMode mode, const QString &filter,
                                      const QString &defaultSuffix) override;
    void beep() override;
    void setClipboardText(const QString &text) override;
    bool openUrl(const QUrl &url) override;
};

// The width an input box gives its text field: room for a web address of
// about 60 characters in the field's font.
int inputFieldWidth(const QLineEdit *edit);

// The application-wide error handler: runs a command and turns an exception
// that escapes it into the error box titled "Morvane" (text by errorBoxText()).
// The command is abandoned and the program goes on.
void runCommand(UserDialogs &dialogs, QWidget *parent, const std::function<void()> &command);

// Hands a web address or a local path to the desktop and, when the desktop
// has no program to open it, says so in an "ERROR" box.
void openOrSay(UserDialogs &dialogs, QWidget *parent, const QUrl &url);

// The title of the application-wide error box.
QString applicationTitle();
