#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QThread>

#include <atomic>

// The public podcast directory that "Find Podcasts..." searches: Apple's,
// which needs no key. The words are appended to the address, percent-encoded.
extern const char kDefaultPodcastSearch[];
// A reply larger than this is refused: fifty results take some tens of kilobytes.
constexpr qint64 kMaxSearchReplyBytes = 4LL * 1024 * 1024;
// One search gives up after this long in all, or when nothing arrives for the second.
constexpr int kSearchTotalTimeoutMs = 30000;
constexpr int kSearchInactivityTimeoutMs = 15000;

struct PodcastFound
{
    QString title;     // collectionName
    QString author;    // artistName
    int episodes = -1; // trackCount; -1 when the reply gives none
    QString feedUrl;
};

// The address of a search: address + the words (blanks collapsed) percent-encoded.
QString podcastSearchUrl(const QString &address, const QString &words);

// The results of a directory reply: a JSON object whose "results" array holds
// objects with collectionName, artistName, trackCount and feedUrl; results
// without a feedUrl are skipped. Throws AppError when the reply is no such object.
QList<PodcastFound> parsePodcastSearch(const QByteArray &reply);

// GET the search over the program's transport (proxies included, the
// server's certificate verified), bounded in size and time. Throws AppError:
// the transport's message, the status line of a reply outside 2xx, or the
// parser's. cancel, when set, ends it within a tenth of a second.
QList<PodcastFound> searchPodcasts(const QString &url, const std::atomic<bool> *cancel = nullptr);

// One search on a thread of its own, so that the window goes on meanwhile.
// When finished() has come, results() and error() hold its outcome.
class PodcastSearchThread : public QThread
{
    Q_OBJECT
public:
    PodcastSearchThread(QString url, QObject *parent = nullptr);
    // Cancels and waits: the thread ends within a tenth of a second.
    ~PodcastSearchThread() override;

    void cancel() { m_cancel.store(true); }
    const QString &url() const { return m_url; }
    const QList<PodcastFound> &results() const { return m_results; }
    const QString &error() const { return m_error; }

protected:
    void run() override;

private:
    QString m_url;
    std::atomic<bool> m_cancel{false};
    QList<PodcastFound> m_results;
    QString m_error;
};
