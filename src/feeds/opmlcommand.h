#pragma once

#include <functional>

class FeedListModel;
class QWidget;
class UserDialogs;

// "Import OPML...": asks for a file and appends the feeds it holds that the
// list lacks, in file order, then saves the list (saveList) and says how many
// were added. A file that cannot be read or is not OPML gives one "OPML" box
// and changes nothing. The episode list is left alone.
void ImportOpml(UserDialogs &dialogs, QWidget *parent, FeedListModel &feeds, const std::function<void()> &saveList);

// "Export OPML...": asks for a file name and writes the feed list there as
// OPML 2.0, in list order, replacing the file atomically.
void ExportOpml(UserDialogs &dialogs, QWidget *parent, const FeedListModel &feeds);
