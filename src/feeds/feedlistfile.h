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

// The bytes written: the UTF-8 byte-order mark, then each row followed by CR LF.
QByteArray feedListFileBytes(const QStringList &rows);

// Replaces the file atomically; throws AppError on failure.
void writeFeedListFile(const QString &fileName, const QStringList &rows);

// The feeds that adding candidates to a list appends: those not in it already
// (exact comparison), in their order, each once.
QStringList newFeedEntries(const QStringList &before, const QStringList &candidates);
