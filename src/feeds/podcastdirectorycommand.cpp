#include "feeds/podcastdirectorycommand.h"

#include "base/makerserver.h"
#include "base/userdialogs.h"
#include "feeds/episodemodel.h"
#include "feeds/feedlistmodel.h"
#include "feeds/podcastdirectory.h"

#include <QApplication>

namespace {

// The arrow-with-hourglass pointer for as long as the command runs, put back
// on every path (also when saving the list fails).
class BusyPointer
{
public:
    BusyPointer() { QApplication::setOverrideCursor(Qt::BusyCursor); }
    ~BusyPointer() { restore(); }
    BusyPointer(const BusyPointer &) = delete;
    BusyPointer &operator=(const BusyPointer &) = delete;
    void restore()
    {
        if (m_active)
            QApplication::restoreOverrideCursor();
        m_active = false;
    }

private:
    bool m_active = true;
};

} // namespace

void FetchPodcastList(UserDialogs &dialogs, QWidget *parent, FeedListModel &feeds, EpisodeModel &episodes,
                      const std::function<void()> &saveList)
{
    BusyPointer pointer;
    const DirectoryReply reply = fetchPodcastDirectory(makerHost());
    if (reply.failed) {
        pointer.restore();
        dialogs.message(parent, reply.error, QStringLiteral("ERROR"), UserDialogs::Icon::Error);
    }
    feeds.append(newDirectoryEntries(feeds.urls(), reply.lines));
    episodes.clear();
    saveList();
}
