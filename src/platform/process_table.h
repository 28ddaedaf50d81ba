#pragma once

#include "platform/command_line_text.h"
#include "platform/extended_regex.h"
#include "platform/process_source.h"

#include <cstddef>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <sys/types.h>

// The machine's processes and Internet sockets: which processes hold a port and which command
// lines match a pattern. It answers what `lsof -ti :PORT` and `pgrep -f PATTERN` answer; where
// the system lets it (/proc, the kernel's socket diagnostics) in a few reads instead of two
// child programs, elsewhere by asking those programs.
//
// What a process may not read, it does not see: the open files of another user's process are
// unreadable to anyone but root, so such a process is never found holding a port (as with
// lsof run by the same user); command lines are readable to everyone, so matching sees every
// process (as pgrep does). A process that ends while the table reads it is left out.

namespace platform {

class ProcessTable {
public:
    static constexpr std::size_t kNoLimit = std::numeric_limits<std::size_t>::max();

    // Reads the machine as this build does (systemProcessSource()).
    ProcessTable();
    explicit ProcessTable(std::shared_ptr<const ProcessSource> source);

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

    // The processes of a server that forks workers, started as the leader of its own process
    // group (ProcessSource::serverProcesses()).
    std::vector<ServerProcess> serverProcesses(pid_t leader) const;

    // Whether to ask the kernel's socket diagnostics, which filter by port; false reads the
    // socket tables under /proc/net, as the table does by itself where the kernel has no
    // diagnostics. (Only /proc's source has the choice.)
    bool useSocketDiagnostics = true;

    // Called with each process id after the list of processes was read and before that
    // process's own entries are: a test ends a process here to see the table skip it.
    std::function<void(pid_t)> afterListing;

private:
    Scan scan() const { return Scan{useSocketDiagnostics, afterListing}; }
    std::optional<pid_t> rememberedHolder(quint16 port) const; // m_mutex held

    std::shared_ptr<const ProcessSource> m_source;
    mutable std::mutex m_mutex;
    struct LastHolder {
        HeldSocket held;
        quint16 port;
    };
    mutable std::optional<LastHolder> m_lastHolder;
};

} // namespace platform
