#pragma once

#include <QString>

// A named system object held for the life of its owner, visible to every
// process of the user: a lock file in the user's runtime folder, held with a
// shared lock. Any number of holders may exist at once; nothing waits on it.
// The last holder to end removes the file; while others hold it, it stays.
class NamedMutex
{
public:
    explicit NamedMutex(const QString &name);
    ~NamedMutex();
    NamedMutex(const NamedMutex &) = delete;
    NamedMutex &operator=(const NamedMutex &) = delete;

    bool isHeld() const { return m_fd >= 0; }
    QString path() const { return m_path; }

private:
    QString m_path;
    int m_fd = -1;
};
