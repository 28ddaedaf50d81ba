#pragma once

#include <dirent.h>

namespace platform {

// An open file descriptor, closed when this goes.
class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : m_fd(other.release()) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept;
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor();

    bool isOpen() const { return m_fd >= 0; }
    int get() const { return m_fd; }
    int release();

private:
    int m_fd = -1;
};

// An open directory stream, closed when this goes.
class DirStream {
public:
    DirStream() = default;
    explicit DirStream(DIR* dir) : m_dir(dir) {}
    DirStream(DirStream&& other) noexcept : m_dir(other.m_dir) { other.m_dir = nullptr; }
    DirStream& operator=(DirStream&& other) noexcept;
    DirStream(const DirStream&) = delete;
    DirStream& operator=(const DirStream&) = delete;
    ~DirStream();

    // Opens a stream over a duplicate of fd (fd itself stays open and owned by the caller);
    // no descriptor is left behind when that fails, and errno tells why.
    static DirStream duplicateOf(int fd);
    // Opens the directory at path; errno tells why when that fails.
    static DirStream open(const char* path);

    bool isOpen() const { return m_dir != nullptr; }
    DIR* get() const { return m_dir; }

private:
    DIR* m_dir = nullptr;
};

} // namespace platform
