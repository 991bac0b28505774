#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The form-encoded POST through which the program talks to the maker's server.
//
// The transport is chosen on an ASCII-lower-cased copy of the URL (the request
// itself goes to the URL as given):
//
// - "https://...": the secure path. Headers "Connection: close" and
//   "Content-Type: application/x-www-form-urlencoded; charset=utf-8"; the
//   server's certificate is verified (system store, plus MORVANE_CA_FILE);
//   at most 5 redirects are followed; the reply body is the result whatever
//   its status, decoded by the reply's charset or else as UTF-8.
// - anything else: the plain path, http only (any other scheme, or none, is an
//   error). Content-Type "application/x-www-form-urlencoded" and no other
//   header of the program's own; redirects not followed; a status outside
//   2xx, a redirect included, raises AppError with the status line
//   ("HTTP/1.1 404 Not Found"); the body is decoded by the reply's charset or
//   else as ISO-8859-1.
//
// timeoutMs bounds the attempt as a whole, connecting, sending and the
// complete reply: when it has not ended within that time, or nothing moves for
// that long, the call fails with "Connection timed out". Every failure is
// an AppError. Blocks the calling thread (see blockingwait.h); any thread.
QString PostForm(const QString &url, const QStringList &fields, int timeoutMs);

// The body of the form: every field split at its first "=" into name and
// value, each encoded on its own (ASCII letters, digits, "-", "." and "_" kept,
// space as "+", every other character as %XX upper-case per UTF-8 byte), the
// pairs joined by "&". A field without "=" is a name with an empty value. An
// empty list gives an empty body.
QByteArray encodeForm(const QStringList &fields);

// One name or value encoded as above.
QByteArray encodeFormComponent(const QString &text);
