#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>

// The installation's identity as the update check sends it.

// The machine's identifier as this program sees it: the app-specific id that
// systemd derives from the machine id (HMAC-SHA256 keyed by the 128-bit
// machine id over the program's own 128-bit application id, cut to 128 bits
// and marked as a version 4 UUID), in the 8-4-4-4-12 form with lower-case
// digits. The raw machine id is confidential and never leaves the machine.
// Empty when the machine has no id (the file is missing, empty or
// "uninitialized"); throws AppError when the file cannot be read or holds
// something else than an id.
QString ReadMachineGuid(const QString &machineIdFile = QStringLiteral("/etc/machine-id"));

// The derivation above for a raw 16-byte machine id.
QString appSpecificMachineId(const QByteArray &machineId);

// "PRETTY NAME (Version MAJOR.MINOR, Build PATCH, 64-bit Edition)" for the
// running system: the distribution's pretty name, the kernel release's first
// three numbers, and the edition by the kernel's architecture.
QString OsDescription();

// The same from its parts: kernelRelease as uname gives it ("6.1.0-18-amd64"),
// architecture as uname's machine ("x86_64", "i686").
QString formatOsDescription(const QString &prettyName, const QString &kernelRelease, const QString &architecture);

// The locale's name in language-region form ("en-US"); "xx" for the C or
// POSIX locale.
QString UserLocaleName(const QLocale &locale = QLocale::system());
