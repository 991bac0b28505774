#pragma once

#include <QList>
#include <QString>

// A transcript the publisher offers for an episode: one transcript element of
// the podcast namespace in the feed's item.
struct TranscriptLink {
    QString url;      // where it is, as the feed gives it
    QString type;     // its media type as the feed gives it ("text/vtt", ...); may be empty
    QString language; // its language tag; may be empty
    QString rel;      // "captions" for closed captions; usually empty
};

using TranscriptLinks = QList<TranscriptLink>;

// One row of the episode list: what a feed item offers for download.
struct EpisodeRow {
    QString title;  // the item's title, the row caption
    QString url;    // the enclosure's url attribute
    QString date;   // the item's pubDate text, verbatim
    QString status; // empty until a download writes its state
    // Not shown in the list: the publisher's transcripts of the item, in
    // document order, and the language of the channel it came from.
    TranscriptLinks transcripts = {};
    QString feedLanguage = {};
};

using EpisodeRows = QList<EpisodeRow>;
