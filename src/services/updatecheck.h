#pragma once

#include "services/check.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QTimer;
class QWidget;
class TNewVer;
class UserDialogs;
struct AppIdentity;

// The window thread's side of the update check: the main window's
// TimerChecker ticks start the check thread, wait for it, then enable the
// "Update Notifications" item and open the notification when a new version
// was reported. It also shows the server's "IMPORTANT" notice for the check
// thread, which waits until the box is closed.
class UpdateCheckController : public QObject
{
    Q_OBJECT
public:
    // settingsFile: the per-user ServiceSettings store.
    UpdateCheckController(const AppIdentity &identity, const QString &settingsFile, UserDialogs &dialogs,
                          QWidget *window);
    // Waits for a running check to end (it is bounded by its time-outs).
    ~UpdateCheckController() override;

    void TimerCheckerTimer(QTimer *timer, QAction *updateNotifications);
    // The item has already toggled its check mark when it fires; the store
    // follows it.
    void UpdateNotifications1Click(QAction *updateNotifications);

    // What the check will use; may be changed until the first tick.
    UpdateCheckSetup &setup() { return m_setup; }
    // Read only after checkDone().
    const UpdateCheckResults &results() const { return *m_results; }
    bool checkDone() const { return m_results->CheckDone.load(std::memory_order_acquire); }

    bool CheckStarted = false;
    // The notification, once created (at most once per run).
    TNewVer *NewVer = nullptr;

private:
    void showNotice(const QString &notice);

    UpdateCheckSetup m_setup;
    QString m_productName;
    std::shared_ptr<UpdateCheckResults> m_results = std::make_shared<UpdateCheckResults>();
    UserDialogs *m_dialogs = nullptr;
    QWidget *m_window = nullptr;
    QPointer<TChecker> m_checker;
};
