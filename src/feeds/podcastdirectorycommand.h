#pragma once

#include <functional>

class EpisodeModel;
class FeedListModel;
class QWidget;
class UserDialogs;

// "Fetch Podcast List": merges the maker's directory into the feed list. With
// the busy pointer it asks the server (https, then http); when both attempts
// fail it shows the second failure in an "ERROR" box and adds nothing. On every
// path it then clears the episode list and saves the feed list (saveList).
void FetchPodcastList(UserDialogs &dialogs, QWidget *parent, FeedListModel &feeds, EpisodeModel &episodes,
                      const std::function<void()> &saveList);
