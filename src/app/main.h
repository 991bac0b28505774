#pragma once

#include "base/popupguard.h"
#include "base/settings.h"
#include "base/userdialogs.h"
#include "base/versioninfo.h"
#include "downloads/downloadhost.h"
#include "feeds/episode.h"
#include "platform/taskbarprogress.h"
#include "transcribe/transcribehost.h"

#include <QMainWindow>
#include <QPointer>

#include <functional>

class EpisodeModel;
class FeedListModel;
class QAction;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStackedLayout;
class QTabWidget;
class QTableView;
class QTimer;
class TDownloader;
class TFindDialog;
class TFindPodcasts;
class UpdateCheckController;

// What the main window takes from the process around it. forThisProcess()
// gives the real values; tests point the folders somewhere of their own.
struct AppEnvironment {
    UserDialogs *dialogs = nullptr;
    QString versionFile;   // the executable whose version record gives the identity
    QString programFolder; // the executable's folder, first choice for the data folder
    QString configFolder;  // the per-user folder, second choice
    QString desktopFolder; // the default download location
    QString serviceSettingsFile; // the maker services' per-user store; empty: no update check
    std::function<void()> restartProgram;

    static AppEnvironment forThisProcess(UserDialogs &dialogs);
};

// The main window: the feed list above, the episode list below, the download
// location, the Download and Transcribe buttons, and every command's handler.
class TAppForm : public QMainWindow, public DownloadHost, public TranscribeHost
{
    Q_OBJECT
public:
    // Builds the window and runs window creation (FormCreate). Throws AppError
    // when the program's version record cannot be read.
    explicit TAppForm(AppEnvironment env, QWidget *parent = nullptr);
    ~TAppForm() override;

    // Window creation: identity, data folder, settings, download location, feed list.
    void FormCreate();

    const AppIdentity &identity() const { return m_identity; }
    const QString &dataFolder() const { return m_dataFolder; }
    IniDocument &settings() override { return m_settings; }
    QString rememberedFolder() const { return m_rememberedFolder; }
    QString statusText() const;
    void setStatusText(const QString &text);
    UserDialogs &dialogs() override { return *m_env.dialogs; }

    // The feed list.
    void ListBoxYukle(const QString &fileName);
    // Writes the list to list.txt. Another running copy may have changed the
    // file since this one last read or wrote it: its changes are kept, and
    // this copy's own (the rows it added and removed since) are applied to
    // them; the list then shows the result.
    void ListBoxChange();
    // list.txt changed on disk (another copy wrote it): the list shows what
    // it holds now, with this copy's unsaved changes, if any, applied.
    void ListFileChanged();
    QStringList feedUrls() const;
    QList<int> selectedFeedRows() const;
    // The first selected row in list order, or -1.
    int currentFeedRow() const;

    void AddMyFolder(const QString &folder);
    // Opens a popup menu under a button; refuses to reopen it when the click
    // that closed it landed on the same button (within 100 ms).
    void PopupUnderButton(QPushButton *button, QMenu *menu);

    // Handlers.
    void Edit1Change();
    void Timer1Timer();
    void FetchPodcastList1Click();
    void FindPodcasts1Click();
    void ImportOPML1Click();
    void ExportOPML1Click();
    void TimerCheckerTimer();
    void UpdateNotifications1Click();
    void SendFeedback1Click();
    void About1Click();
    void ResettoDefaults1Click();
    void Help2Click();
    void Exit1Click();
    void Button2Click();
    void BitBtn2Click();
    void Button1Click();
    void Button3Click();
    void Button5Click();
    void DeleteSelected1Click();
    void DeleteAll1Click();
    void ClearList1Click();
    void Copy1Click();
    void ListBox1Click();
    void DisplayRSS1Click();
    void Find1Click();
    void FindNext1Click();
    void FindDialog1Find();
    void CopyTitle1Click();
    void MenuItem1Click();
    void CopyDate1Click();
    void SelectAll1Click();
    void DeselectAll1Click();
    // The episode rows selected, top to bottom.
    QList<int> selectedEpisodeRows() const override;

    // Transcription.
    void Transcribe1Click();
    QWidget *transcribeParent() override { return this; }
    bool downloadsRunning() const override;
    SelectedEpisode selectedEpisode() const override;

    // Downloads.
    void ListView1DblClick();
    void BitBtn1Click();
    void Download1Click();
    // "Cancel Downloads" in the episode list's popup, and Escape in the list,
    // while a batch runs: stops it.
    void CancelDownloads1Click();
    // The plain target path of an episode row from its title and the download
    // location; empty when the index is past the last row.
    QString DosyaAdiNeOlmali(int index) const override;
    // A download transfer's progress: bytes so far, the full length (negative
    // when unknown) and whether it comes chunked.
    void DownloadProgress(qint64 count, qint64 length, bool chunked) override;
    void DownloadRedirect() override;
    // The end of a batch; error is what ended it early, or empty.
    void MyThreadTerminate(const QString &error) override;
    TDownloader *downloader() const override { return m_downloader; }
    void setDownloader(TDownloader *worker) override { m_downloader = worker; }
    // The rest of what a batch asks of the window.
    QWidget *downloadWindow() override { return this; }
    void batchStarted() override;
    void rowDownloading(int row) override;
    void rowDownloaded(int row) override;
    void rowFailed(int row) override;
    void batchEnded() override;
    quint64 episodeListGeneration() const override;
    int episodeRowCount() const override;
    bool isEpisodeRowSelected(int row) const override;
    QString episodeUrl(int row) const override;
    QString downloadLocationText() const override;
    bool downloadButtonEnabled() const override;

    // Controls, by name.
    QWidget *Panel1 = nullptr;
    QPushButton *Button3 = nullptr;
    QPushButton *Button5 = nullptr;
    QTabWidget *PageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr;
    QTableView *ListBox1 = nullptr;
    QSplitter *Splitter1 = nullptr;
    QTabWidget *PageControl2 = nullptr;
    QWidget *TabSheet2 = nullptr;
    QTableView *ListView1 = nullptr;
    QProgressBar *ProgressBar1 = nullptr;
    QWidget *Panel3 = nullptr;
    QLabel *Label1 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QPushButton *Button2 = nullptr;
    QPushButton *BitBtn2 = nullptr;
    QWidget *Panel2 = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QPushButton *Button1 = nullptr;
    QLabel *StatusBar1 = nullptr;
    // The welcome that stands in the feed list's place while it has no rows.
    QWidget *Panel4 = nullptr;
    QLabel *Label3 = nullptr;
    QPushButton *Button6 = nullptr;  // "Add RSS..."
    QPushButton *Button7 = nullptr;  // "Find Podcasts..."
    QPushButton *Button8 = nullptr;  // "Import OPML..."

    QMenu *File1 = nullptr, *Edit2 = nullptr, *Settings1 = nullptr, *Help1 = nullptr;
    QAction *Add1 = nullptr, *ClearList1 = nullptr, *FetchPodcastList1 = nullptr, *Exit1 = nullptr;
    QAction *FindPodcasts1 = nullptr, *ImportOPML1 = nullptr, *ExportOPML1 = nullptr;
    QAction *Find1 = nullptr, *FindNext1 = nullptr;
    QAction *ResettoDefaults1 = nullptr;
    QAction *Help2 = nullptr, *UpdateNotifications1 = nullptr, *UpdateNotificationsBar = nullptr,
            *SendFeedback1 = nullptr, *About1 = nullptr;
    QMenu *PopupMenu1 = nullptr;
    QAction *RetrieveEpisodes1 = nullptr, *Copy1 = nullptr, *Delete2 = nullptr, *DisplayRSS1 = nullptr;
    QMenu *PopupMenu2 = nullptr;
    QAction *Download1 = nullptr, *Transcribe1 = nullptr, *CopyTitle1 = nullptr, *MenuItem1 = nullptr,
            *CopyDate1 = nullptr, *DeselectAll1 = nullptr, *SelectAll1 = nullptr, *CancelDownloads1 = nullptr;
    QMenu *PopupMenu3 = nullptr;
    QAction *DeleteSelected1 = nullptr, *DeleteAll1 = nullptr;

    TaskbarProgress Taskbar1;
    TFindDialog *FindDialog1 = nullptr;
    QTimer *TimerChecker = nullptr;
    QTimer *Timer1 = nullptr;

    FeedListModel *feedModel() const { return m_feeds; }
    EpisodeModel *episodeModel() const { return m_episodes; }
    UpdateCheckController *updateCheck() const { return m_updateCheck; }
    // The Find Podcasts window, once opened.
    TFindPodcasts *findPodcasts() const { return m_findPodcasts; }

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildWindow();
    void buildMenus();
    void connectCommands();
    // The welcome while the feed list is empty, the list once it has a row.
    void showWelcomeWhenEmpty();
    // In a build without a maker's server, its commands are off and say why.
    void disableMakerCommands();
    // Connects a signal to a handler run under the application-wide error handler.
    template <typename Sender, typename Signal> void on(Sender *sender, Signal signal, void (TAppForm::*handler)());
    void guarded(void (TAppForm::*handler)());
    void copyEpisodeColumn(QString EpisodeRow::*column);
    // Appends the feeds the list lacks, saves it, returns how many were added.
    int addFeeds(const QStringList &urls);
    QString listFileName() const;
    void watchListFile();
    // Shows the rows, keeping the selected feeds selected where they stay.
    void showFeedRows(const QStringList &rows);

    AppEnvironment m_env;
    AppIdentity m_identity;
    QString m_dataFolder;
    IniDocument m_settings;
    QString m_rememberedFolder;
    FeedListModel *m_feeds = nullptr;
    // list.txt as this copy last read or wrote it: what its own changes and
    // another copy's are told apart by.
    QStringList m_listOnDisk;
    QFileSystemWatcher *m_listWatcher = nullptr;
    EpisodeModel *m_episodes = nullptr;
    PopupGuard m_popupGuard;
    TDownloader *m_downloader = nullptr;  // the batch running, if any
    UpdateCheckController *m_updateCheck = nullptr;
    QStackedLayout *m_feedPages = nullptr;  // the welcome or the feed list
    TFindPodcasts *m_findPodcasts = nullptr;
};
