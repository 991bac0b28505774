#pragma once

#include <QString>

// The maker services' per-user store: the values of the update check kept
// between runs, in the group "Settings" of a QSettings file in the native
// per-user format of organisation "ZANTERO", application "Morvane" (on Linux
// ~/.config/ZANTERO/Morvane.conf). Every value is stored as text; a value that
// is missing, empty, not a number where a number is wanted, or not text at
// all (a list, say) reads as the caller's default. Reset to Defaults leaves
// the store alone.
//
// Each call opens the file afresh, so the store may be used from one thread
// and then another without handing an object over.
class ServiceSettings
{
public:
    // The store's file as QSettings places it for this user.
    static QString nativeFileName();

    ServiceSettings() = default;
    explicit ServiceSettings(const QString &fileName) : m_fileName(fileName) {}

    // Checks that the store can be read; throws AppError when it cannot (an
    // unreadable or malformed file). A missing file is an empty store.
    void open() const;

    QString readText(const QString &name, const QString &defaultValue = QString()) const;
    int readInteger(const QString &name, int defaultValue) const;
    // Writes at once; throws AppError when the file cannot be written.
    void writeText(const QString &name, const QString &value) const;
    void writeInteger(const QString &name, int value) const;

    const QString &fileName() const { return m_fileName; }

private:
    QString m_fileName;
};
