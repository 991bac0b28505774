#pragma once

#include "services/feedbackrequest.h"

#include <QDialog>

class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class UserDialogs;
struct AppIdentity;

// The feedback window: an optional "I like it!" / "I dislike it!" choice, a
// message and an optional e-mail address, sent to the maker's server. Modal,
// freed when it closes, so every opening starts empty.
class TFeedbackForm : public QDialog
{
    Q_OBJECT
public:
    TFeedbackForm(const AppIdentity &identity, UserDialogs &dialogs, QWidget *parent = nullptr);

    // "Send Feedback...": a new window, shown modally.
    static void showModal(const AppIdentity &identity, UserDialogs &dialogs, QWidget *parent);

    void FormCreate();
    void Image1Click();
    void Image2Click();
    void BitBtn1Click();

    // The choice, as the look of the two panels shows it.
    FeedbackChoice choice() const;
    bool isSelected(const QFrame *panel) const;
    // The message as the window holds it, line breaks as CR LF.
    QString message() const;

    QWidget *Panel3 = nullptr;
    QFrame *Panel4 = nullptr;
    QFrame *Panel5 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *Image2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QPlainTextEdit *Memo1 = nullptr;
    QWidget *Panel1 = nullptr;
    QLabel *Label3 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QWidget *Panel2 = nullptr;
    QPushButton *BitBtn1 = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setSelected(QFrame *panel, bool selected);

    QString m_appTitle;
    QString m_productName;
    QString m_version;
    UserDialogs *m_dialogs = nullptr;
};
