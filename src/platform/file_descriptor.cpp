#include "platform/file_descriptor.h"

#include <utility>

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
