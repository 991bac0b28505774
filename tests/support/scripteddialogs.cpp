#include "scripteddialogs.h"

#include <QDebug>
#include <QTest>

namespace {

const char *iconName(UserDialogs::Icon icon)
{
    switch (icon) {
    case UserDialogs::Icon::Information: return "information";
    case UserDialogs::Icon::Warning: return "warning";
    case UserDialogs::Icon::Error: return "error";
    case UserDialogs::Icon::Question: return "question";
    case UserDialogs::Icon::None: break;
    }
    return "none";
}

QString describe(const ScriptedDialogs::Box &box)
{
    QString s = QStringLiteral("[%1 | %2 | %3]").arg(box.text, box.title, QLatin1String(iconName(box.icon)));
    if (!box.buttonTexts.isEmpty())
        s += QStringLiteral(" buttons ") + box.buttonTexts.join(QLatin1Char('/'));
    return s.replace(QLatin1Char('\r'), QLatin1String("\\r"));
}

void fail(const QString &why)
{
    QTest::qFail(why.toUtf8().constData(), __FILE__, __LINE__);
}

} // namespace

QDebug operator<<(QDebug debug, const ScriptedDialogs::Box &box)
{
    return debug << describe(box);
}

char *QTest::toString(const ScriptedDialogs::Box &box)
{
    return qstrdup(describe(box).toUtf8().constData());
}

template <typename T> std::optional<T> ScriptedDialogs::nextAnswer(const char *what)
{
    if (m_script.empty()) {
        fail(QStringLiteral("unexpected %1: no scripted answer left").arg(QLatin1String(what)));
        return std::nullopt;
    }
    if (!std::holds_alternative<T>(m_script.front())) {
        fail(QStringLiteral("unexpected %1: the script expects another kind of dialog").arg(QLatin1String(what)));
        return std::nullopt;
    }
    T answer = std::get<T>(m_script.front());
    m_script.pop_front();
    return answer;
}

ScriptedDialogs::Box ScriptedDialogs::takeBox()
{
    if (m_boxes.isEmpty()) {
        fail(QStringLiteral("expected a message box, none was shown"));
        return {};
    }
    return m_boxes.takeFirst();
}

void ScriptedDialogs::takeBeep()
{
    if (m_beeps == 0)
        fail(QStringLiteral("expected a beep, none was heard"));
    else
        --m_beeps;
}

QString ScriptedDialogs::takeClipboard()
{
    if (m_clipboard.isEmpty()) {
        fail(QStringLiteral("expected a clipboard write, none was made"));
        return {};
    }
    return m_clipboard.takeFirst();
}

QUrl ScriptedDialogs::takeOpenedUrl()
{
    if (m_urls.isEmpty()) {
        fail(QStringLiteral("expected a URL to be opened, none was"));
        return {};
    }
    return m_urls.takeFirst();
}

void ScriptedDialogs::verifyDone()
{
    QStringList left;
    for (const Box &box : std::as_const(m_boxes))
        left << QStringLiteral("box not checked: ") + describe(box);
    if (!m_script.empty())
        left << QStringLiteral("%1 scripted answer(s) not used").arg(m_script.size());
    if (m_beeps)
        left << QStringLiteral("%1 beep(s) not checked").arg(m_beeps);
    for (const QString &c : std::as_const(m_clipboard))
        left << QStringLiteral("clipboard write not checked: ") + c;
    for (const QUrl &u : std::as_const(m_urls))
        left << QStringLiteral("opened URL not checked: ") + u.toString();
    reset();
    if (!left.isEmpty())
        fail(left.join(QLatin1String("; ")));
}

void ScriptedDialogs::reset()
{
    m_script.clear();
    m_boxes.clear();
    m_clipboard.clear();
    m_urls.clear();
    m_beeps = 0;
    m_messageHook = nullptr;
}

void ScriptedDialogs::message(QWidget *, const QString &text, const QString &title, Icon icon)
{
    Box box{text, title, icon, {}};
    m_boxes.append(box);
    if (auto hook = std::exchange(m_messageHook, nullptr))
        hook(box);
}

QMessageBox::StandardButton ScriptedDialogs::ask(QWidget *, const QString &text, const QString &title, Icon icon,
                                                 QMessageBox::StandardButtons, const QStringList &buttonTexts)
{
    m_boxes.append(Box{text, title, icon, buttonTexts});
    return nextAnswer<QMessageBox::StandardButton>("question").value_or(QMessageBox::NoButton);
}

std::optional<QString> ScriptedDialogs::inputText(QWidget *, const QString &title, const QString &prompt,
                                                  const QString &initialText)
{
    lastInputTitle = title;
    lastInputPrompt = prompt;
    lastInputInitial = initialText;
    const auto answer = nextAnswer<InputAnswer>("input box");
    if (!answer || answer->cancelled)
        return std::nullopt;
    return answer->text;
}

std::optional<QString> ScriptedDialogs::chooseFolder(QWidget *, const QString &title, const QString &startFolder)
{
    lastFolderTitle = title;
    lastFolderStart = startFolder;
    const auto answer = nextAnswer<FolderAnswer>("folder picker");
    if (!answer || answer->cancelled)
        return std::nullopt;
    return answer->folder;
}

std::optional<QString> ScriptedDialogs::chooseFile(QWidget *, FileMode mode, const QString &filter,
                                                   const QString &defaultSuffix)
{
    lastFileMode = mode;
    lastFileFilter = filter;
    lastFileSuffix = defaultSuffix;
    const auto answer = nextAnswer<FileAnswer>("file dialog");
    if (!answer || answer->cancelled)
        return std::nullopt;
    return answer->file;
}

void ScriptedDialogs::beep()
{
    ++m_beeps;
}

void ScriptedDialogs::setClipboardText(const QString &text)
{
    m_clipboard.append(text);
}

bool ScriptedDialogs::openUrl(const QUrl &url)
{
    m_urls.append(url);
    return m_openUrlWorks;
}
