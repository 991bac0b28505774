#pragma once

#include <QUrl>
#include <QWidget>
#include <QPoint>
#include <QString>

class QFrame;
class QLabel;
class QVariantAnimation;
class QPushButton;
class QTimer;
class UserDialogs;

// The update notification: a small frameless window at the top-right corner
// of the primary screen that offers the download link of a newer version. It
// opens itself 1 ms after creation, closes itself after eleven ticks of
// TimerClose, and is created at most once per run.
class TNewVer : public QWidget
{
    Q_OBJECT
public:
    // mainWindow gets the keyboard focus back when the notification shows.
    TNewVer(const QString &productName, const QString &reportedVersion, const QString &downloadLink,
            UserDialogs &dialogs, QWidget *mainWindow);

    void FormCreate();
    void TimerStartTimer();
    void TimerCloseTimer();
    void TimerLinkTimer();
    void Label2Click();
    void Button1Click();

    // The URL the link opens: the download link when it is an absolute http
    // or https URL, otherwise the maker's home page. The link comes from the
    // server, over plain http when https failed, so nothing else is handed to
    // the desktop.
    static QUrl linkTarget(const QString &downloadLink);

    qint64 AutoCloseCountdown = 11;

    QFrame *Panel1 = nullptr;
    QLabel *Image1 = nullptr;
    QWidget *Panel2 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QWidget *Panel3 = nullptr;
    QPushButton *Button1 = nullptr;
    QTimer *TimerStart = nullptr;
    QTimer *TimerClose = nullptr;
    QTimer *TimerLink = nullptr;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Grows the window out of its centre (opening) or shrinks it into it.
    void animate(bool opening);

    QString m_downloadLink;
    UserDialogs *m_dialogs = nullptr;
    QWidget *m_mainWindow = nullptr;
    QVariantAnimation *m_animation = nullptr;
    bool m_dragging = false;
    QPoint m_lastCursor;
};
