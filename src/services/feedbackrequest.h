#pragma once

#include <QString>
#include <QStringList>

// The feedback the user sends to the maker, without the window.

enum class FeedbackChoice { None, Like, Dislike };

// The time-out of each of the two attempts.
constexpr int kFeedbackTimeoutMs = 3000;

// "I like it!" or "I dislike it!" and one carriage return when a choice is
// made, then the message stripped of spaces and control characters at both
// ends (its own line breaks kept).
QString composeFeedback(FeedbackChoice choice, const QString &message);

// Whether the address is a plausible e-mail address: the whole text matches
// ^[a-zA-Z0-9_.+-]+@[a-zA-Z0-9-]+\.[a-zA-Z0-9-.]*[a-zA-Z0-9]+$, case-sensitive.
bool isValidEmail(const QString &address);

// The fields of the request, in order: cmd, appname, version, feedback, and
// email only when the (stripped) address is not empty.
QStringList feedbackFields(const QString &appTitle, const QString &version, const QString &feedback,
                           const QString &email);

// Posts the fields to https://host/php/feedback.php, then to http:// when that
// fails; true when the reply, stripped, is exactly "OK". Never throws: a
// failure of both attempts is "not delivered".
bool sendFeedback(const QString &host, const QStringList &fields, int timeoutMs = kFeedbackTimeoutMs);

// Strips spaces and control characters (codes up to 32) from both ends.
QString stripControls(const QString &text);
