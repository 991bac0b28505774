#include "platform/namedmutex.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

NamedMutex::NamedMutex(const QString &name)
{
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::tempPath();
    m_path = folder + QLatin1Char('/') + name + QLatin1String(".lock");
    m_fd = ::open(QFile::encodeName(m_path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_SH | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

NamedMutex::~NamedMutex()
{
    if (m_fd >= 0)
        ::close(m_fd);
}
