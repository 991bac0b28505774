#pragma once

#include "net/servicerequest.h"

#include <QDate>
#include <QLocale>
#include <QSemaphore>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// The update check: once per run the program asks the maker's server which
// version is current. It runs on a worker thread (TChecker); the window thread
// reads the results only after it has seen CheckDone set.

// What the check needs to know, fixed on the window thread before it starts.
struct UpdateCheckSetup {
    QString appTitle;          // sent as "appname="
    QString version;           // the running version, "major.minor"
    QString address;           // host and path of the check, without scheme
    QString settingsFile;      // the ServiceSettings store
    QString machineIdFile = QStringLiteral("/etc/machine-id");
    QLocale locale = QLocale::system(); // the user's locale: "local=" and the date text
    QDate today;               // invalid: the current date
    int timeoutMs = kServiceTimeoutMs;
};

// The results of the check, written by the check thread. CheckDone is set
// last (release) and read with acquire; the other members are read only after
// it, so it publishes them.
struct UpdateCheckResults {
    std::atomic<bool> CheckDone{false};
    bool UpdateAvailable = false;
    QString ReportedVersion;
    QString DownloadLink;
    int showUpdate = 1; // ShowUpdate as the check read it
    ServiceDiagnostics diagnostics;
    // The window thread releases this once the "IMPORTANT" notice has been
    // closed (or will never be shown); the check waits on it.
    QSemaphore noticeClosed;
};

// The store's value names.
namespace servicekeys {
inline const QString ShowUpdate = QStringLiteral("ShowUpdate");
inline const QString LastUpdateCheck = QStringLiteral("LastUpdateCheck");
inline const QString LastUpdateCheckCount = QStringLiteral("LastUpdateCheckCount");
inline const QString CurrentVersion = QStringLiteral("CurrentVersion");
inline const QString CurrentURL = QStringLiteral("CurrentURL");
} // namespace servicekeys

// The path of the check on the maker's server.
QString updateCheckAddress(const QString &host);

// The date text the five-a-day rule compares: the locale's short date.
QString dateText(const QLocale &locale, const QDate &date);

// The whole check, on the calling thread, up to (not including) CheckDone.
// The server's notice as the "IMPORTANT" box shows it: as written when it is
// at most kNoticeShownChars characters (a reply line holds no line break);
// otherwise its first kNoticeShownChars, then a line saying that it was cut.
constexpr qsizetype kNoticeShownChars = 2000;
QString noticeForBox(const QString &notice);

// showNotice shows the server's notice and returns when the user has closed
// it. Never throws: every failure lands in results.diagnostics.
void runUpdateCheck(const UpdateCheckSetup &setup, UpdateCheckResults &results,
                    const std::function<void(const QString &)> &showNotice);

// The check thread: started at once by its creator, it runs the check, sets
// CheckDone and frees itself when it ends.
class TChecker : public QThread
{
    Q_OBJECT
public:
    TChecker(UpdateCheckSetup setup, std::shared_ptr<UpdateCheckResults> results,
             std::function<void(const QString &)> showNotice, QObject *parent = nullptr);

protected:
    void run() override;

private:
    UpdateCheckSetup m_setup;
    std::shared_ptr<UpdateCheckResults> m_results;
    std::function<void(const QString &)> m_showNotice;
};
