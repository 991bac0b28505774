#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>

// OPML subscription lists, the form in which podcast programs hand their feeds
// to one another.

// A larger file is refused unread: subscription lists are a few kilobytes.
constexpr qint64 kMaxOpmlBytes = 4LL * 1024 * 1024;

// The feed addresses of an OPML 1.0 or 2.0 document, in document order: the
// xmlUrl of every outline at any depth whose type is "rss" or absent (outlines
// of other types, and empty addresses, are passed over). An address the file
// holds twice comes once. Throws AppError with a message for the user when the
// bytes are not well-formed XML, declare a document type, or are not OPML.
QStringList parseOpmlFeeds(const QByteArray &bytes);

// The file read and parsed as above; also refused when larger than
// kMaxOpmlBytes or unreadable.
QStringList readOpmlFile(const QString &fileName);

// An OPML 2.0 document in UTF-8: a head with the title and dateCreated (RFC 822,
// in UTC), then one outline type="rss" per feed, in list order, with the
// address as its text and xmlUrl.
QByteArray opmlFileBytes(const QStringList &feeds, const QString &title, const QDateTime &created);

// Writes the document to the file atomically; throws AppError on failure.
void writeOpmlFile(const QString &fileName, const QStringList &feeds, const QString &title,
                   const QDateTime &created);
