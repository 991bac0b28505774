#pragma once

#include "feeds/episode.h"

#include <QString>

// What reading a retrieved feed gave.
struct FeedParseResult {
    enum Outcome {
        NotParsed,    // empty, not well-formed, or with a document type declaration
        NoChannel,    // well-formed, but the document element has no "channel" child
        ChannelsFound // at least one channel, whether or not it gave rows
    };
    Outcome outcome = NotParsed;
    // One row per item with an enclosure, in document order, status empty.
    // Always empty unless the outcome is ChannelsFound.
    EpisodeRows rows;
};

// Reads the decoded text of a feed as one XML document and collects the rows
// of the episode list: for every "channel" child of the document element, for
// every "item" child of that channel, the first title, pubDate and enclosure
// child. An item without an enclosure (or whose enclosure has no url attribute)
// is skipped; a missing title or pubDate gives an empty cell. Each row also
// keeps, unseen in the list, the item's transcript elements of the podcast
// namespace (any prefix; those with a url attribute) and the first "language"
// child of its channel, trimmed. Nothing is
// validated or loaded from elsewhere, and a document with a DOCTYPE is refused,
// so no entity of any kind is ever expanded. Any encoding named in the XML
// declaration is ignored: the text is already decoded. A document with more
// than 256 attributes on one element, more than 256 namespace declarations in
// scope at once or elements nested deeper than 1,024 is refused as not parsed
// before the XML reader sees it, because the reader's time on such shapes grows
// with the square of their size.
FeedParseResult parseFeed(const QString &text);

// The warning shown after a retrieval that gave no rows, "" when it gave some:
// "Not a Valid RSS Feed!\r\r" + url, or "No Episode Found!\r\r" + url when the
// feed had channels.
QString retrievalWarning(const FeedParseResult &result, const QString &url);
