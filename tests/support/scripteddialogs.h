#pragma once

#include "base/userdialogs.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <deque>
#include <optional>
#include <variant>

// The dialog seam of the window tests. Questions, input boxes and folder
// pickers are answered from a script the test sets up beforehand; message boxes,
// beeps, clipboard writes and opened URLs are recorded. Every record must be
// taken by the test and every scripted answer used: verifyDone() (called from
// the test's cleanup()) fails the test otherwise, and a dialog that finds no
// scripted answer fails it at once.
class ScriptedDialogs : public UserDialogs
{
public:
    struct Box {
        QString text;
        QString title;
        Icon icon = Icon::None;
        // For questions: the button texts shown.
        QStringList buttonTexts;
        bool operator==(const Box &o) const
        {
            return text == o.text && title == o.title && icon == o.icon && buttonTexts == o.buttonTexts;
        }
    };

    // Script.
    void answerAsk(QMessageBox::StandardButton button) { m_script.push_back(button); }
    void answerInput(std::optional<QString> text) { m_script.push_back(InputAnswer{text.value_or(QString()), !text}); }
    void answerFolder(std::optional<QString> folder) { m_script.push_back(FolderAnswer{folder.value_or(QString()), !folder}); }
    void answerFile(std::optional<QString> file) { m_script.push_back(FileAnswer{file.value_or(QString()), !file}); }
    // Runs when the next message box is shown, before it returns (for example to
    // check the state of the window while the box is up).
    void onNextMessage(std::function<void(const Box &)> hook) { m_messageHook = std::move(hook); }
    // Whether the desktop can open what is handed to it (recorded either way).
    void setOpenUrlWorks(bool works) { m_openUrlWorks = works; }

    // Records. take*() removes the oldest record and fails the test when none.
    Box takeBox();
    QList<Box> boxes() const { return m_boxes; }
    int beeps() const { return m_beeps; }
    void takeBeep();
    QStringList clipboardWrites() const { return m_clipboard; }
    QString takeClipboard();
    QList<QUrl> openedUrls() const { return m_urls; }
    QUrl takeOpenedUrl();
    // What the prompt of the last input box or folder picker showed.
    QString lastInputTitle, lastInputPrompt, lastInputInitial;
    QString lastFolderTitle, lastFolderStart;
    QString lastFileFilter, lastFileSuffix;
    FileMode lastFileMode = FileMode::Open;

    // Fails the test when a record was not taken or an answer not used.
    void verifyDone();
    void reset();

    // UserDialogs
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

private:
    bool m_openUrlWorks = true;
    struct InputAnswer { QString text; bool cancelled = false; };
    struct FolderAnswer { QString folder; bool cancelled = false; };
    struct FileAnswer { QString file; bool cancelled = false; };
    using Answer = std::variant<QMessageBox::StandardButton, InputAnswer, FolderAnswer, FileAnswer>;

    template <typename T> std::optional<T> nextAnswer(const char *what);

    std::deque<Answer> m_script;
    QList<Box> m_boxes;
    QStringList m_clipboard;
    QList<QUrl> m_urls;
    int m_beeps = 0;
    std::function<void(const Box &)> m_messageHook;
};

QDebug operator<<(QDebug debug, const ScriptedDialogs::Box &box);
namespace QTest {
char *toString(const ScriptedDialogs::Box &box);
}
