#pragma once

#include "platform/extended_regex.h"

#include <QString>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include <sys/types.h>

struct SystemTools;

// Where the process table gets its answers: the machine's processes and Internet sockets, read
// one way or another. This build's way is systemProcessSource(); where /proc and the kernel's
// socket diagnostics exist they are read directly (process_source_linux.cpp), elsewhere the
// system tools are asked (toolProcessSource(): lsof, pgrep and ps).

namespace platform {

enum class Transport { Tcp, Udp };

struct InetSocket {
    Transport transport = Transport::Tcp;
    bool ipv6 = false;
    quint16 localPort = 0;
    quint16 remotePort = 0;
    bool listening = false; // a TCP socket in the listening state
    uid_t uid = 0;          // the user that created it
    quint64 inode = 0;      // how open files refer to it ("socket:[inode]"); 0 when unknown
};

struct ProcessInfo {
    pid_t pid = 0;
    uid_t uid = 0;
    QString user;        // login name, or the number when the user has none
    QString program;     // the kernel's short name of the program
    QString commandLine; // as matchableCommandLine() gives it
};

// How one scan of the machine goes: whether to ask the kernel's socket diagnostics (where there
// are any), and a call with each process id after the list of processes was read and before
// that process's own entries are (tests end a process there).
struct Scan {
    bool socketDiagnostics = true;
    const std::function<void(pid_t)>& afterListing;
    void listed(pid_t pid) const {
        if (afterListing)
            afterListing(pid);
    }
};

// A process's open file that is one of the sockets on a port.
struct HeldSocket {
    pid_t pid = 0;
    int fd = -1;
    quint64 inode = 0;
    // The socket keeps its place in the socket tables as long as it is open: a listener, or a
    // datagram socket bound to the port (a connection leaves the tables when it is reset).
    bool lasting = false;
};

// Who listens on a TCP port: the listening socket's owner and, when it can be seen, its
// process (0 when not).
struct TcpListener {
    uid_t uid = 0;
    pid_t pid = 0;
};

// One process of a server that forks workers (ProcessSource::serverProcesses()).
struct ServerProcess {
    pid_t pid = 0;
    bool ended = false; // a zombie that its parent has not reaped
    bool operator==(const ServerProcess&) const = default;
};

class ProcessSource {
public:
    virtual ~ProcessSource() = default;

    // The TCP and UDP sockets, IPv4 and IPv6, whose local or remote port is port, in any state
    // but those no process holds any more.
    virtual std::vector<InetSocket> socketsOnPort(quint16 port, const Scan& scan) const = 0;
    // The live processes holding one of socketsOnPort(port), in ascending order of process id,
    // at most limit of them, each with the first such file found.
    virtual std::vector<HeldSocket> holdersOfPort(quint16 port, std::size_t limit,
                                                  const Scan& scan) const = 0;
    // Whether the process still holds that socket open on port, by one look at that file.
    virtual bool stillHolds(const HeldSocket& held, quint16 port) const = 0;
    // The TCP listener on port (IPv4 or IPv6, any address), nothing when nobody listens. With
    // findProcess, its process is looked for: those in likely first.
    virtual std::optional<TcpListener> tcpListener(quint16 port, const std::vector<pid_t>& likely,
                                                   bool findProcess) const = 0;
    // The live processes (zombies excluded), in ascending order of process id, whose
    // matchable command line the (valid) pattern matches; at most limit of them.
    virtual std::vector<pid_t> pidsMatching(const ExtendedRegex& pattern, std::size_t limit,
                                            const Scan& scan) const = 0;
    // The details of one process, or nothing when it has ended (or is a zombie).
    virtual std::optional<ProcessInfo> process(pid_t pid) const = 0;
    // The arguments of a live process joined by spaces, or nothing when it has ended, is a
    // zombie or has no arguments.
    virtual std::optional<QString> commandLine(pid_t pid) const = 0;
    // False when pid has ended or is a zombie waiting to be reaped; true when it runs or
    // when the source cannot tell.
    virtual bool isRunning(pid_t pid) const = 0;
    // The processes of the server that leader started as the leader of its own process group,
    // its workers being its children, in ascending order of process id: while leader runs,
    // leader and its children (ended ones included); once leader has ended, the live processes
    // still in its process group (workers that outlived it).
    virtual std::vector<ServerProcess> serverProcesses(pid_t leader) const = 0;
};

// The source that this build reads the machine with.
std::shared_ptr<const ProcessSource> systemProcessSource();
#ifndef ZELTO_PORTABLE_PLATFORM
// /proc and the kernel's socket diagnostics.
std::shared_ptr<const ProcessSource> procProcessSource();
#endif
// lsof, pgrep and ps from tools (SystemTools::debian() when not given).
std::shared_ptr<const ProcessSource> toolProcessSource();
std::shared_ptr<const ProcessSource> toolProcessSource(const SystemTools& tools);

// The login name of uid, or the number when it has none.
QString userName(uid_t uid);

} // namespace platform
