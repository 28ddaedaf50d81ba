#pragma once

#include <QString>

#include <optional>
#include <vector>

#include <sys/types.h>

namespace platform {

// Who listens on a TCP port of this machine: the listening socket from the kernel's socket
// tables (a client connected to that port elsewhere is no holder), its process and that
// process's details from the process table.

struct PortHolder {
    pid_t pid = 0;       // 0 when the owning process cannot be seen (another user's)
    uid_t uid = 0;       // the socket's owner
    QString user;        // the owner's name, or the number when it has none
    QString program;     // the process's name (e.g. "python3"), empty when unknown
    QString commandLine; // arguments joined by spaces, empty when unknown
};

// The process listening on port (IPv4 or IPv6, any address), or nothing when nobody listens.
// The processes in likely are asked first, one read of their open files each; only when none
// of them holds the socket is every process of the machine searched.
std::optional<PortHolder> tcpPortHolder(quint16 port, const std::vector<pid_t>& likely = {});

// True when some socket listens on port (IPv4 or IPv6, any address). Cheaper than
// tcpPortHolder: no process is looked up.
bool isTcpPortListening(quint16 port);

// "python3 (pid 4242, 用户 alice, 命令: python3 -m http.server 8080)": the holder named for a
// report, its command line shortened to at most maxCommandLength characters.
QString describePortHolder(const PortHolder& holder, int maxCommandLength = 80);

// The live processes other than the panel itself whose command line a POSIX extended regular
// expression matches (as pgrep -f matches), in ascending order.
std::vector<pid_t> pidsMatching(const QString& extendedRegex);
// The same, keeping only the processes this panel may signal.
std::vector<pid_t> signallableProcessesMatching(const QString& extendedRegex);

} // namespace platform
