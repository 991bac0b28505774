#pragma once

#include "feeds/episode.h"

#include <QString>
#include <QStringList>

// The logic of the episode list commands, apart from the list view.

// The row where a search starts: the one after the first selected row, or
// row 0 when nothing is selected (firstSelectedRow -1).
int findStartRow(int firstSelectedRow);

// The index of the first row at or after startRow whose title, or else whose
// URL, contains text; -1 when none does or text is empty. Only the ASCII
// capitals A-Z are folded to lower case before comparing; no other letter is
// (so "É" and "é" differ). Date and status are not searched; the search does
// not wrap around.
int findEpisode(const EpisodeRows &rows, const QString &text, int startRow);

// The clipboard text of the "Copy ..." commands: every value followed by
// CR LF, then every character up to U+0020 removed from both ends of the whole.
QString joinForClipboard(const QStringList &values);
