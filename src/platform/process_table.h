#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <sys/types.h>

// The machine's processes and Internet sockets, read from /proc: which processes hold a port
// and which command lines match a pattern. It answers what `lsof -ti :PORT` and `pgrep -f
// PATTERN` answer, in a few reads instead of two child programs.
//
// What a process may not read, it does not see: the open files of another user's process are
// unreadable to anyone but root, so such a process is never found holding a port (as with
// lsof run by the same user); command lines are readable to everyone, so matching sees every
// process (as pgrep does). A process that ends while the table reads it is left out.

namespace platform {

// A POSIX extended regular expression, compiled in the process's locale, as `pgrep` and `pkill`
// compile their pattern.
class ExtendedRegex {
public:
    explicit ExtendedRegex(const QString& pattern);
    ~ExtendedRegex();
    ExtendedRegex(const ExtendedRegex&) = delete;
    ExtendedRegex& operator=(const ExtendedRegex&) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    // Why the pattern did not compile; empty when it did.
    QString errorString() const { return m_error; }
    // Whether the pattern matches anywhere in text (NUL-terminated bytes in the locale's
    // encoding; an invalid pattern matches nothing).
    bool matches(const char* text) const;
    // No text shorter than this matches (0 when the pattern does not tell).
    std::size_t shortestMatch() const;

private:
    struct Compiled;
    std::unique_ptr<Compiled> m_compiled;
    QString m_error;
    // A pattern of plain characters and escaped special ones matches exactly where its text
    // occurs; that text, when the locale lets a byte search decide as regexec would.
    std::optional<QByteArray> m_literal;
    bool m_utf8 = false; // the locale's encoding is UTF-8 (else single-byte)
};

enum class Transport { Tcp, Udp };

struct InetSocket {
    Transport transport = Transport::Tcp;
    bool ipv6 = false;
    quint16 localPort = 0;
    quint16 remotePort = 0;
    bool listening = false; // a TCP socket in the listening state
    uid_t uid = 0;          // the user that created it
    quint64 inode = 0;      // how open files refer to it ("socket:[inode]")
};

struct ProcessInfo {
    pid_t pid = 0;
    uid_t uid = 0;
    QString user;        // login name, or the number when the user has none
    QString program;     // the kernel's short name of the program
    QString commandLine; // as matchableCommandLine() gives it
};

// The text that `pgrep -f` matches for a process: the arguments of its raw /proc cmdline
// (NUL-separated) joined by single spaces, a line feed shown as a space and other control
// characters and invalid UTF-8 bytes as "?"; a process without arguments (a kernel thread)
// shows as its short name in brackets, "[name]".
QByteArray matchableCommandLine(const QByteArray& rawCmdline, const QByteArray& shortName);

class ProcessTable {
public:
    static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

    // The TCP and UDP sockets, IPv4 and IPv6, whose local or remote port is port, in any state
    // but those no process holds any more.
    std::vector<InetSocket> socketsOnPort(quint16 port) const;

    // The live processes, in ascending order of process id, holding one of socketsOnPort(port)
    // open; at most limit of them.
    std::vector<pid_t> pidsOnPort(quint16 port, std::size_t limit = kNoLimit) const;
    std::optional<pid_t> firstPidOnPort(quint16 port) const;
    // A live process holding one of socketsOnPort(port), or nothing: for a question of
    // liveness any holder serves as well as the first. When the previous call found a
    // listener (or a bound datagram socket), one read tells whether that process still holds
    // it; only otherwise is the machine searched.
    std::optional<pid_t> holderOfPort(quint16 port) const;
    // The holder that the last holderOfPort(port) found, when that one read shows it still
    // holding its socket; nothing otherwise (then holderOfPort searches the machine).
    std::optional<pid_t> rememberedHolderOfPort(quint16 port) const;
    // The same processes as pidsOnPort() with their details.
    std::vector<ProcessInfo> portHolders(quint16 port) const;

    // The live processes (zombies excluded), in ascending order of process id, whose
    // matchable command line the pattern matches; at most limit of them. The calling process
    // is not excluded. An invalid pattern matches nothing.
    std::vector<pid_t> pidsMatching(const ExtendedRegex& pattern,
                                    std::size_t limit = kNoLimit) const;
    bool anyMatching(const ExtendedRegex& pattern) const;

    // The details of one process, or nothing when it has ended (or is a zombie).
    std::optional<ProcessInfo> process(pid_t pid) const;

    // Whether to ask the kernel's socket diagnostics, which filter by port; false reads the
    // socket tables under /proc/net, as the table does by itself where the kernel has no
    // diagnostics.
    bool useSocketDiagnostics = true;

    // Called with each process id after the list of processes was read and before that
    // process's own entries are: a test ends a process here to see the table skip it.
    std::function<void(pid_t)> afterListing;

private:
    struct LastHolder {
        pid_t pid;
        int fd;
        quint64 inode;
        quint16 port;
    };
    std::optional<pid_t> rememberedHolder(int procFd, quint16 port) const; // m_mutex held
    mutable std::mutex m_mutex;
    mutable std::optional<LastHolder> m_lastHolder;
};

} // namespace platform
