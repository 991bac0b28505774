#pragma once

#include <QWidget>

class QAction;
class QMenu;
class QsciScintilla;
class UserDialogs;

// The source viewer: one window per "View Source...", showing the raw text of
// a feed read-only with markup highlighting and line numbers. It frees itself
// when closed. Clipboard writes go through the dialog seam.
class TFormDisplayRSS : public QWidget
{
    Q_OBJECT
public:
    // text: the feed as fetched (any of CR LF, LF or CR as line ends).
    TFormDisplayRSS(const QString &text, UserDialogs &dialogs, QWidget *parent = nullptr);

    QsciScintilla *memo() const { return Memo1; }
    QMenu *popupMenu() const { return PopupMenu1; }

public Q_SLOTS:
    // "Copy": the selected text to the clipboard; nothing without a selection.
    void MenuItem4Click();
    // "Select All".
    void MenuItem8Click();

private:
    UserDialogs &m_dialogs;
    QsciScintilla *Memo1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *MenuItem4 = nullptr;
    QAction *MenuItem8 = nullptr;
};
