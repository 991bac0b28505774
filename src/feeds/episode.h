#pragma once

#include <QList>
#include <QString>

// One row of the episode list: what a feed item offers for download.
struct EpisodeRow {
    QString title;  // the item's title, the row caption
    QString url;    // the enclosure's url attribute
    QString date;   // the item's pubDate text, verbatim
    QString status; // empty until a download writes its state
};

using EpisodeRows = QList<EpisodeRow>;
