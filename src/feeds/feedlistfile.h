#pragma once

#include <QString>
#include <QStringList>

// list.txt: one feed URL per line.
//
// Read: decoded by decodeText() (strict UTF-8, else by byte-order mark, else
// Windows-1252), split at CR LF, CR and LF, a NUL ends the text; empty lines are
// dropped, every other line (blank ones too) is a row, unchanged. Throws
// AppError when the file cannot be read.
QStringList readFeedListFile(const QString &fileName);

// The rows that the bytes of a list.txt hold, by the reading rule above.
QStringList feedListRows(const QByteArray &bytes);

// The bytes written: the UTF-8 byte-order mark, then each row followed by CR LF.
QByteArray feedListFileBytes(const QStringList &rows);

// Replaces the file atomically; throws AppError on failure.
void writeFeedListFile(const QString &fileName, const QStringList &rows);

// The feeds that adding candidates to a list appends: those not in it already
// (exact comparison), in their order, each once.
QStringList newFeedEntries(const QStringList &before, const QStringList &candidates);

// Two running copies of the program share list.txt. base is the list as this
// copy last read or wrote it, mine what this copy shows now, theirs what the
// file holds now. The program changes the list only by removing rows and
// appending rows, so each of mine and theirs is read as base with some rows
// removed and some appended (a list edited otherwise is read the same way,
// and loses nothing by it). The result keeps the rows of base that neither
// removed, in their order, then the rows theirs appended, then those mine
// appended: no row that either added is lost, none that either removed
// comes back.
QStringList mergeFeedLists(const QStringList &base, const QStringList &mine, const QStringList &theirs);
