#include "platform/proc_linux.h"

#include "platform/command_line_text.h"

#include <QList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace platform::proc {

FileDescriptor openProc() {
    return FileDescriptor(::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool readAll(int dirFd, const char* path, QByteArray& out, End end) {
    const FileDescriptor fd(::openat(dirFd, path, O_RDONLY | O_CLOEXEC));
    if (!fd.isOpen())
        return false;
    // One buffer reused by every read of a scan: most files fit at once.
    if (out.capacity() < 4096)
        out.reserve(4096);
    qsizetype size = 0;
    for (;;) {
        if (out.size() < size + 4096)
            out.resize(std::max<qsizetype>(size + 4096, out.size() * 2));
        const ssize_t n =
            ::read(fd.get(), out.data() + size, static_cast<size_t>(out.size() - size));
        if (n > 0) {
            size += n;
            if (end == End::ShortRead && size < out.size()) {
                out.resize(size);
                return true;
            }
        } else if (n == 0) {
            out.resize(size);
            return true;
        } else if (errno != EINTR) {
            out.clear();
            return false;
        }
    }
}

PidPath::PidPath(pid_t pid, const char* entry) {
    const int n = std::snprintf(text.data(), text.size(), "%d/%s", static_cast<int>(pid), entry);
    if (n < 0 || static_cast<std::size_t>(n) >= text.size())
        text[0] = '\0';
}

std::vector<pid_t> listPids(int procFd) {
    std::vector<pid_t> pids;
    const DirStream dir = DirStream::duplicateOf(procFd);
    if (!dir.isOpen())
        return pids;
    pids.reserve(512);
    while (const dirent* entry = ::readdir(dir.get())) {
        int pid = 0;
        if (parseNumber(std::string_view(entry->d_name), pid) && pid > 0)
            pids.push_back(pid);
    }
    std::sort(pids.begin(), pids.end());
    return pids;
}

std::optional<StatLine> readStat(int procFd, pid_t pid, QByteArray& buffer) {
    if (!readAll(procFd, PidPath(pid, "stat").c_str(), buffer, End::ShortRead))
        return std::nullopt;
    const qsizetype open = buffer.indexOf('(');
    const qsizetype close = buffer.lastIndexOf(')');
    if (open < 0 || close < open || close + 2 >= buffer.size())
        return std::nullopt;
    StatLine line{
        std::string_view(buffer.constData() + open + 1, static_cast<std::size_t>(close - open - 1)),
        buffer[close + 2]};
    // ") S <ppid> <pgrp> ..."
    const std::string_view rest(buffer.constData() + close + 3,
                                static_cast<std::size_t>(buffer.size() - close - 3));
    const auto field = [&rest](std::size_t index) {
        std::size_t start = 0;
        for (std::size_t i = 0; i < index && start != std::string_view::npos; ++i) {
            start = rest.find(' ', start);
            if (start != std::string_view::npos)
                ++start;
        }
        int value = 0;
        if (start == std::string_view::npos ||
            !parseNumber(rest.substr(start, rest.find(' ', start) - start), value))
            return 0;
        return value;
    };
    line.parent = field(1);
    line.group = field(2);
    return line;
}

std::optional<std::vector<pid_t>> childrenOf(int procFd, pid_t pid) {
    char path[64];
    const int n = std::snprintf(path, sizeof path, "%d/task/%d/children", static_cast<int>(pid),
                                static_cast<int>(pid));
    QByteArray text;
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path || !readAll(procFd, path, text))
        return std::nullopt;
    std::vector<pid_t> children;
    for (const QByteArray& word : text.split(' ')) {
        int child = 0;
        if (parseNumber(std::string_view(word.constData(), static_cast<std::size_t>(word.size())),
                        child) &&
            child > 0)
            children.push_back(child);
    }
    std::sort(children.begin(), children.end());
    return children;
}

bool isEnded(char state) {
    return state == 'Z' || state == 'X' || state == 'x';
}

const char* CommandLineReader::read(pid_t pid) {
    if (!readAll(procFd, PidPath(pid, "cmdline").c_str(), raw, End::ShortRead))
        return nullptr;
    text.resize(0);
    const std::string_view args = withoutTrailingNuls(raw);
    if (!args.empty()) {
        appendMatchable(args, text);
        return text.constData();
    }
    if (!bracketedNamesMatter)
        return nullptr;
    // A zombie has given up its memory, so its arguments read as empty: only then is its
    // state worth a read. A kernel thread shows as its name.
    const std::optional<StatLine> line = readStat(procFd, pid, stat);
    if (!line || isEnded(line->state))
        return nullptr;
    text += '[';
    text.append(line->shortName.data(), static_cast<qsizetype>(line->shortName.size()));
    text += ']';
    return text.constData();
}

bool CommandLineReader::isLive(pid_t pid) {
    const std::optional<StatLine> line = readStat(procFd, pid, stat);
    return line && !isEnded(line->state);
}

std::optional<quint64> socketInode(std::string_view link) {
    constexpr std::string_view prefix = "socket:[";
    quint64 inode = 0;
    if (link.size() > prefix.size() + 1 && link.starts_with(prefix) && link.back() == ']' &&
        parseNumber(link.substr(prefix.size(), link.size() - prefix.size() - 1), inode))
        return inode;
    return std::nullopt;
}

namespace {

std::optional<quint64> socketAt(int dirFd, const char* path) {
    char target[64];
    const ssize_t n = ::readlinkat(dirFd, path, target, sizeof target);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof target))
        return std::nullopt;
    return socketInode(std::string_view(target, static_cast<std::size_t>(n)));
}

} // namespace

std::optional<OpenSocket> heldSocket(int procFd, pid_t pid, const std::vector<quint64>& inodes) {
    const FileDescriptor fdDir(
        ::openat(procFd, PidPath(pid, "fd").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fdDir.isOpen())
        return std::nullopt;
    const DirStream dir = DirStream::duplicateOf(fdDir.get());
    if (!dir.isOpen())
        return std::nullopt;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (entry->d_name[0] == '.')
            continue;
        const std::optional<quint64> inode = socketAt(fdDir.get(), entry->d_name);
        int fd = -1;
        if (inode && std::binary_search(inodes.begin(), inodes.end(), *inode) &&
            parseNumber(std::string_view(entry->d_name), fd))
            return OpenSocket{fd, *inode};
    }
    return std::nullopt;
}

std::optional<quint64> socketBehind(int procFd, pid_t pid, int fd) {
    return socketAt(procFd, PidPath(pid, ("fd/" + std::to_string(fd)).c_str()).c_str());
}

} // namespace platform::proc
