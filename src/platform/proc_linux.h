#pragma once

#include "platform/file_descriptor.h"

#include <QByteArray>

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include <sys/types.h>

// Reading Linux's /proc: the list of processes, a process's stat line, command line and open
// files. Every call takes the descriptor of /proc open.
namespace platform::proc {

FileDescriptor openProc();

// How a file tells its end: by an empty read (any file), or already by a read that fills
// less than it was given (a process's cmdline and stat, which the kernel hands out whole up
// to the size asked for; not the socket tables, handed out a page at a time).
enum class End { EmptyRead, ShortRead };

// Reads the whole of a /proc file into out; false when it cannot be opened or read (the
// process has ended, or it is not ours to read).
bool readAll(int dirFd, const char* path, QByteArray& out, End end = End::EmptyRead);

// "<pid>/<entry>", relative to /proc.
struct PidPath {
    PidPath(pid_t pid, const char* entry);
    const char* c_str() const { return text.data(); }
    std::array<char, 48> text{};
};

// The process ids listed in /proc, in ascending order.
std::vector<pid_t> listPids(int procFd);

struct StatLine {
    std::string_view shortName; // into the buffer it was read into
    char state = '?';
    pid_t parent = 0; // 0 when the line did not tell
    pid_t group = 0;  // the process group
};

// "pid (name) S ...": the name may hold spaces and parentheses, so it ends at the last ')'.
std::optional<StatLine> readStat(int procFd, pid_t pid, QByteArray& buffer);

// The children of pid (its main thread's, ended ones included) from
// "<pid>/task/<pid>/children"; nothing when the kernel does not list them.
std::optional<std::vector<pid_t>> childrenOf(int procFd, pid_t pid);

// A zombie, or a process that is being torn down.
bool isEnded(char state);

// Reads command lines one process after another, reusing its buffers.
struct CommandLineReader {
    int procFd = -1;
    QByteArray raw;
    QByteArray stat;
    QByteArray text; // the last command line read, NUL-terminated

    // Whether a process without arguments, shown as "[name]", may match at all.
    bool bracketedNamesMatter = true;

    // The matchable command line of a live process (valid until the next call), or nothing
    // when it has ended, is a zombie, or has no arguments while bracketedNamesMatter is false.
    const char* read(pid_t pid);
    bool isLive(pid_t pid);
};

// The inode of a socket from an open file's link text "socket:[inode]".
std::optional<quint64> socketInode(std::string_view link);

struct OpenSocket {
    int fd = -1;
    quint64 inode = 0;
};

// Which of pid's open files is one of the sockets (sorted inodes), if any. An unreadable list
// of open files (another user's process, or one that has ended) holds none.
std::optional<OpenSocket> heldSocket(int procFd, pid_t pid, const std::vector<quint64>& inodes);

// The socket behind pid's descriptor fd, if it is one.
std::optional<quint64> socketBehind(int procFd, pid_t pid, int fd);

template <typename Int> bool parseNumber(std::string_view text, Int& value, int base = 10);

} // namespace platform::proc

#include <charconv>

template <typename Int>
bool platform::proc::parseNumber(std::string_view text, Int& value, int base) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    return ec == std::errc() && end == text.data() + text.size();
}
