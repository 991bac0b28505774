#include "services/updatecheck.h"

#include "base/makerserver.h"
#include "base/userdialogs.h"
#include "base/versioninfo.h"
#include "services/newversion.h"
#include "services/servicesettings.h"

#include <QAction>
#include <QTimer>
#include <QWidget>

UpdateCheckController::UpdateCheckController(const AppIdentity &identity, const QString &settingsFile,
                                             UserDialogs &dialogs, QWidget *window)
    : QObject(window), m_productName(identity.productName), m_dialogs(&dialogs), m_window(window)
{
    m_setup.appTitle = identity.title;
    m_setup.version = identity.version;
    m_setup.address = updateCheckAddress(makerHost());
    m_setup.settingsFile = settingsFile;
}

UpdateCheckController::~UpdateCheckController()
{
    // A notice that was not shown yet never will be: let the check go on.
    m_results->noticeClosed.release();
    if (m_checker) {
        m_checker->wait();
        delete m_checker.data();
    }
}

void UpdateCheckController::TimerCheckerTimer(QTimer *timer, QAction *updateNotifications)
{
    if (!CheckStarted) {
        CheckStarted = true;
        m_checker = new TChecker(m_setup, m_results, [this](const QString &notice) { showNotice(notice); });
        m_checker->start();
        return;
    }
    if (!checkDone())
        return;
    timer->stop();
    updateNotifications->setEnabled(true);
    if (m_results->showUpdate == 0)
        updateNotifications->setChecked(false);
    if (m_results->UpdateAvailable && !NewVer)
        NewVer = new TNewVer(m_productName, m_results->ReportedVersion, m_results->DownloadLink, *m_dialogs,
                             m_window);
}

void UpdateCheckController::UpdateNotifications1Click(QAction *updateNotifications)
{
    ServiceSettings(m_setup.settingsFile)
        .writeInteger(servicekeys::ShowUpdate, updateNotifications->isChecked() ? 1 : 0);
}

// Runs on the check thread: the box is shown on the window thread, and the
// check goes on once it is closed.
void UpdateCheckController::showNotice(const QString &notice)
{
    const std::shared_ptr<UpdateCheckResults> results = m_results;
    QMetaObject::invokeMethod(
        this,
        [this, results, notice] {
            m_dialogs->message(m_window, notice, QStringLiteral("IMPORTANT"), UserDialogs::Icon::Warning);
            results->noticeClosed.release();
        },
        Qt::QueuedConnection);
    results->noticeClosed.acquire();
}
