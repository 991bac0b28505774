#pragma once

#include "feeds/episode.h"

#include <QString>

// The transcripts publishers link from their feeds: which one to take, how to
// fetch it, and how each of their formats becomes plain text.
//
// The plain text is made of paragraphs separated by an empty line, with "\n"
// line ends. Where the format names speakers, a paragraph starts with the
// speaker's name and ": "; the consecutive pieces (cues, segments) of one
// speaker form one paragraph, a new speaker starts a new one, and a piece
// without a speaker goes on with the paragraph before it. White space inside a
// paragraph is collapsed to single spaces.

enum class TranscriptFormat {
    // In the order of preference.
    Json,    // the podcast namespace's JSON: segments with speaker and body
    WebVtt,
    Srt,
    Html,
    Plain,
    Unknown, // recognised by its content when it has come
};

// A link's format by its declared type ("text/vtt", "application/json",
// "application/x-subrip", "application/srt", "text/srt", "text/html",
// "text/plain"; parameters and letter case ignored), else by the extension of
// its address (.json, .vtt, .srt, .html, .htm, .txt).
TranscriptFormat transcriptFormatOf(const TranscriptLink &link);

// The link to fetch, -1 when there is none: the most preferred format first;
// among links of one format, one in the feed's language (a link that names no
// language is in the feed's), then one in the system's language (both compared
// without case, the whole tag before its primary language), then the first.
int chooseTranscript(const TranscriptLinks &links, const QString &feedLanguage, const QString &systemLanguage);

// One converter per format. They take the decoded text as it came and never
// fail: what they cannot read gives less text, or none.
//
// WebVTT: the header, cue identifiers, timings and cue settings, NOTE, STYLE
// and REGION blocks are dropped; a voice tag <v Name> makes Name the speaker;
// other tags are removed and character references decoded.
QString webVttToText(const QString &text);
// SubRip: the cue numbers and timings are dropped, also where the empty line
// between cues is missing; formatting tags are removed.
QString srtToText(const QString &text);
// The JSON form: an object whose "segments" hold "body" and, optionally,
// "speaker" (startTime and endTime are not needed for the text). Anything else
// gives no text.
QString jsonTranscriptToText(const QString &text);
// HTML: the text of the page's body, a paragraph for every block (p, div,
// li, headings, ...), a line break for br; scripts, styles and the head are
// dropped; references are decoded.
QString htmlToText(const QString &text);
// Plain text as it is, line ends made "\n" and the ends trimmed.
QString plainTranscriptText(const QString &text);

// The converter of the format; an unknown one is recognised by the text: a
// "WEBVTT" start, a JSON object, a SubRip timing line, markup, or plain text.
QString transcriptToText(TranscriptFormat format, const QString &text);

// A transcript is text: more than this is not one.
constexpr qint64 kMaxPublisherTranscriptBytes = 5LL * 1024 * 1024;
// The whole fetch, also a slow one, ends after this long.
constexpr int kPublisherTranscriptTimeoutMs = 60 * 1000;

// Fetches the link with the program's GET transport and returns its plain
// text. Throws AppError with a message for the user when the transfer fails
// (status line, transport message, "The transcript is too large") or when it
// gives no text ("The transcript holds no text").
QString fetchPublisherTranscript(const TranscriptLink &link, qint64 maxBytes = kMaxPublisherTranscriptBytes,
                                 int totalTimeoutMs = kPublisherTranscriptTimeoutMs);
