#include "feeds/opmlcommand.h"

#include "base/errors.h"
#include "base/userdialogs.h"
#include "feeds/feedlistfile.h"
#include "feeds/feedlistmodel.h"
#include "feeds/opml.h"

#include <QDateTime>

namespace {

const QString kTitle = QStringLiteral("OPML");
const QString kOpenFilter = QStringLiteral("OPML files (*.opml *.xml);;All files (*)");
const QString kSaveFilter = QStringLiteral("OPML files (*.opml)");

} // namespace

void ImportOpml(UserDialogs &dialogs, QWidget *parent, FeedListModel &feeds, const std::function<void()> &saveList)
{
    const auto chosen = dialogs.chooseFile(parent, UserDialogs::FileMode::Open, kOpenFilter, QStringLiteral("opml"));
    if (!chosen)
        return;
    QStringList fromFile;
    try {
        fromFile = readOpmlFile(*chosen);
    } catch (const AppError &e) {
        dialogs.message(parent, e.message(), kTitle, UserDialogs::Icon::Warning);
        return;
    }
    const QStringList added = newFeedEntries(feeds.urls(), fromFile);
    feeds.append(added);
    saveList();
    const QString text = added.size() == 1 ? QStringLiteral("1 feed added.")
                                           : QStringLiteral("%1 feeds added.").arg(added.size());
    dialogs.message(parent, text, kTitle, UserDialogs::Icon::Information);
}

void ExportOpml(UserDialogs &dialogs, QWidget *parent, const FeedListModel &feeds)
{
    const auto chosen = dialogs.chooseFile(parent, UserDialogs::FileMode::Save, kSaveFilter, QStringLiteral("opml"));
    if (!chosen)
        return;
    writeOpmlFile(*chosen, feeds.urls(), QStringLiteral("Morvane feeds"), QDateTime::currentDateTimeUtc());
}
