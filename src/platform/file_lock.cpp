#include "file_lock.h"

#include <QFile>

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

FileLock::FileLock(const QString& path) {
    // Each lock opens the file anew: flock locks belong to the open file, so two threads of
    // one process exclude each other as two processes do.
    m_fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
}

FileLock::~FileLock() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the lock
}

} // namespace platform
