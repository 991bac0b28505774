#pragma once

#include <QString>
#include <QStringList>

// The podcast directory: the ready-made list of feed URLs on the maker's server.

// The time-out of each of the two attempts.
constexpr int kDirectoryTimeoutMs = 10000;

struct DirectoryReply {
    QStringList lines;  // the reply's lines (CR LF, LF or CR)
    bool failed = false; // both attempts failed
    QString error;       // then the http attempt's message
};

// Asks "https://" + host + "/php/podcasts.php" for the directory, and when
// that fails in any way "http://" + the same; the first failure is not kept.
DirectoryReply fetchPodcastDirectory(const QString &host, int timeoutMs = kDirectoryTimeoutMs);

// The entries the directory adds to a feed list: every reply line that equals
// no entry of the list as it stood before (exact comparison), in reply order,
// as received; lines that are blank once spaces and control characters are
// stripped are skipped. A new line that the reply holds twice is added twice.
QStringList newDirectoryEntries(const QStringList &before, const QStringList &replyLines);
