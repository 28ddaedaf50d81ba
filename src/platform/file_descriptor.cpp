#include "platform/file_descriptor.h"

#include <utility>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace platform {

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = other.release();
    }
    return *this;
}

FileDescriptor::~FileDescriptor() {
    if (m_fd >= 0)
        ::close(m_fd);
}

int FileDescriptor::release() {
    return std::exchange(m_fd, -1);
}

} // namespace platform

namespace platform {

DirStream& DirStream::operator=(DirStream&& other) noexcept {
    if (this != &other) {
        if (m_dir)
            ::closedir(m_dir);
        m_dir = std::exchange(other.m_dir, nullptr);
    }
    return *this;
}

DirStream::~DirStream() {
    if (m_dir)
        ::closedir(m_dir);
}

DirStream DirStream::duplicateOf(int fd) {
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return DirStream();
    DIR* dir = ::fdopendir(copy);
    if (!dir) {
        const int saved = errno;
        ::close(copy);
        errno = saved;
        return DirStream();
    }
    return DirStream(dir);
}

DirStream DirStream::open(const char* path) {
    return DirStream(::opendir(path));
}

} // namespace platform
