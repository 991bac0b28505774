#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>

#include <functional>

class IniDocument;
class PodcastSearchThread;
class QLabel;
class QLineEdit;
class QPushButton;
class QStandardItemModel;
class QTableView;
class UserDialogs;

// "Find Podcasts...": searches the public podcast directory and adds the
// chosen results to the feed list. The search runs on a thread of its own:
// the window goes on taking input, a new search replaces one that runs, and a
// failure is told in the window's own status line. The directory's address is
// the setting PodcastSearch, written only once the user has changed it. The
// window stays allocated, hidden when closed, for the life of its parent.
class TFindPodcasts : public QWidget
{
    Q_OBJECT
public:
    // addFeeds appends the addresses the list lacks, saves the list and
    // returns how many it added.
    TFindPodcasts(IniDocument &settings, UserDialogs &dialogs, std::function<int(const QStringList &)> addFeeds,
                  QWidget *parent = nullptr);
    ~TFindPodcasts() override;

    // "Search" (or Return in a text box).
    void Button1Click();
    // "Add": the selected results.
    void Button2Click();
    void Edit2Change();

    // Whether a search is under way.
    bool searching() const { return m_search != nullptr; }
    // Overtaken searches that have not ended yet.
    int overtakenSearches() const { return int(m_replaced.size()); }
    QString statusText() const;
    QStandardItemModel *results() const { return m_results; }

    QLineEdit *Edit1 = nullptr;     // the words
    QPushButton *Button1 = nullptr; // "Search"
    QTableView *ListView1 = nullptr;
    QLabel *Label2 = nullptr;       // the status line
    QLineEdit *Edit2 = nullptr;     // the directory's address
    QPushButton *Button2 = nullptr; // "Add"
    QPushButton *Button3 = nullptr; // "Close"

    enum Column { Title, Author, Episodes, FeedAddress };

private:
    void searchFinished(PodcastSearchThread *search);
    void guarded(void (TFindPodcasts::*handler)());

    IniDocument &m_settings;
    UserDialogs &m_dialogs;
    std::function<int(const QStringList &)> m_addFeeds;
    QStandardItemModel *m_results = nullptr;
    PodcastSearchThread *m_search = nullptr;     // the search whose results count
    QList<QPointer<PodcastSearchThread>> m_replaced; // overtaken, ending
};
