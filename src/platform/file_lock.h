#pragma once

#include <QString>

namespace platform {

// An exclusive lock on a file, held from construction until destruction: a second holder, in
// this process (another thread) or in another, waits until the first has let go. The file is
// created when missing and stays. A lock that cannot be taken (the file cannot be opened)
// leaves isLocked() false, and nothing waits.
class FileLock {
public:
    explicit FileLock(const QString& path);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool isLocked() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

} // namespace platform
