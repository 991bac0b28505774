#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;

// The find dialog of the episode list (FindDialog1): a non-modal box with the
// search text, "Find Next" and "Cancel". It searches downward only and has no
// match-case, whole-word or direction controls. Closing it only hides it, so
// it keeps its text for the life of its window; that text is the search text
// of every search, also of F3 while the dialog is hidden.
class TFindDialog : public QDialog
{
    Q_OBJECT
public:
    explicit TFindDialog(QWidget *parent = nullptr);

    QString text() const;
    void setText(const QString &text);

Q_SIGNALS:
    // "Find Next" was pressed (or Return typed in the text box).
    void find();

private:
    QLineEdit *m_edit = nullptr;
    QPushButton *m_findNext = nullptr;
};
