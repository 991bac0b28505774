#include "platform/namedmutex.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when the name still leads to the file that fd has open.
bool sameFile(int fd, const QByteArray &name)
{
    struct stat open {}, named {};
    return ::fstat(fd, &open) == 0 && ::stat(name.constData(), &named) == 0 && open.st_dev == named.st_dev
           && open.st_ino == named.st_ino;
}

} // namespace

NamedMutex::NamedMutex(const QString &name)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    m_path = folder + QLatin1Char('/') + name + QLatin1String(".lock");
    const QByteArray file = QFile::encodeName(m_path);
    // The last holder to end removes the file (holding it exclusively for the
    // moment of the removal), so a file opened just then may be one that is
    // already gone, or held exclusively: then open the new one. A handful of
    // rounds is plenty; the exclusive hold lasts only for an unlink.
    for (int round = 0; round < 64 && m_fd < 0; ++round) {
        const int fd = ::open(file.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            return;
        if (::flock(fd, LOCK_SH | LOCK_NB) == 0) {
            if (sameFile(fd, file)) {
                m_fd = fd;
                return;
            }
            ::close(fd);
            continue;
        }
        const bool busy = errno == EWOULDBLOCK;
        ::close(fd);
        if (!busy)
            return;
        ::sched_yield();
    }
}

NamedMutex::~NamedMutex()
{
    if (m_fd < 0)
        return;
    // Exclusive only when no other copy holds the file: this is the last one.
    if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0 && sameFile(m_fd, QFile::encodeName(m_path)))
        ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
}
