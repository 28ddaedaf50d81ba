#include "platform/inet_sockets_linux.h"
#include "platform/proc_linux.h"
#include "platform/process_source.h"

#include "platform/command_line_text.h"

#include <algorithm>

#include <sys/stat.h>

namespace platform {

namespace {

using proc::PidPath;

std::vector<quint64> sortedInodes(const std::vector<InetSocket>& sockets) {
    std::vector<quint64> inodes;
    inodes.reserve(sockets.size());
    for (const InetSocket& s : sockets)
        inodes.push_back(s.inode);
    std::sort(inodes.begin(), inodes.end());
    return inodes;
}

class ProcSource final : public ProcessSource {
public:
    std::vector<InetSocket> socketsOnPort(quint16 port, const Scan& scan) const override {
        const FileDescriptor procFd = proc::openProc();
        if (!procFd.isOpen())
            return {};
        return inet::socketsOnPort(procFd.get(), port, scan.socketDiagnostics);
    }

    std::vector<HeldSocket> holdersOfPort(quint16 port, std::size_t limit,
                                          const Scan& scan) const override {
        std::vector<HeldSocket> holders;
        const FileDescriptor procFd = proc::openProc();
        if (!procFd.isOpen())
            return holders;
        const std::vector<InetSocket> sockets =
            inet::socketsOnPort(procFd.get(), port, scan.socketDiagnostics);
        if (sockets.empty())
            return holders; // nothing to look for: no process list needed
        const std::vector<quint64> inodes = sortedInodes(sockets);
        for (const pid_t pid : proc::listPids(procFd.get())) {
            scan.listed(pid);
            const std::optional<proc::OpenSocket> open =
                proc::heldSocket(procFd.get(), pid, inodes);
            if (!open)
                continue;
            const auto socket = std::find_if(sockets.begin(), sockets.end(),
                                             [&](const auto& s) { return s.inode == open->inode; });
            holders.push_back(
                HeldSocket{pid, open->fd, open->inode,
                           socket->listening ||
                               (socket->transport == Transport::Udp && socket->localPort == port)});
            if (holders.size() >= limit)
                break;
        }
        return holders;
    }

    bool stillHolds(const HeldSocket& held, quint16) const override {
        const FileDescriptor procFd = proc::openProc();
        return procFd.isOpen() && proc::socketBehind(procFd.get(), held.pid, held.fd) == held.inode;
    }

    std::optional<TcpListener> tcpListener(quint16 port, const std::vector<pid_t>& likely,
                                           bool findProcess) const override {
        const FileDescriptor procFd = proc::openProc();
        if (!procFd.isOpen())
            return std::nullopt;
        std::vector<InetSocket> sockets = inet::socketsOnPort(procFd.get(), port, true);
        std::erase_if(sockets, [&](const InetSocket& s) {
            return s.transport != Transport::Tcp || !s.listening || s.localPort != port;
        });
        if (sockets.empty())
            return std::nullopt;
        TcpListener listener{sockets.front().uid, 0};
        if (!findProcess)
            return listener;
        const std::vector<quint64> inodes = sortedInodes(sockets);
        const auto holds = [&](pid_t pid) {
            return pid > 0 && proc::heldSocket(procFd.get(), pid, inodes).has_value();
        };
        const auto it = std::find_if(likely.begin(), likely.end(), holds);
        if (it != likely.end()) {
            listener.pid = *it;
            return listener;
        }
        const std::vector<pid_t> all = proc::listPids(procFd.get());
        if (const auto at = std::find_if(all.begin(), all.end(), holds); at != all.end())
            listener.pid = *at;
        return listener;
    }

    std::vector<pid_t> pidsMatching(const ExtendedRegex& pattern, std::size_t limit,
                                    const Scan& scan) const override {
        std::vector<pid_t> matches;
        const FileDescriptor procFd = proc::openProc();
        if (!procFd.isOpen())
            return matches;
        proc::CommandLineReader reader;
        reader.procFd = procFd.get();
        // A kernel's short name of a program has at most 15 bytes: a pattern that needs a
        // longer text cannot match "[name]", so the many kernel threads cost one read each.
        constexpr std::size_t kLongestBracketedName = 15 + 2;
        reader.bracketedNamesMatter = pattern.shortestMatch() <= kLongestBracketedName;
        for (const pid_t pid : proc::listPids(procFd.get())) {
            scan.listed(pid);
            const char* commandLine = reader.read(pid);
            // A process may end after its arguments were read: check that it is still live.
            if (commandLine && pattern.matches(commandLine) && reader.isLive(pid)) {
                matches.push_back(pid);
                if (matches.size() >= limit)
                    break;
            }
        }
        return matches;
    }

    std::optional<ProcessInfo> process(pid_t pid) const override {
        const FileDescriptor procFd = proc::openProc();
        if (!procFd.isOpen())
            return std::nullopt;
        struct stat st {};
        if (::fstatat(procFd.get(), PidPath(pid, "").c_str(), &st, 0) != 0)
            return std::nullopt;
        QByteArray statBuffer;
        const std::optional<proc::StatLine> stat = proc::readStat(procFd.get(), pid, statBuffer);
        QByteArray raw;
        if (!stat || proc::isEnded(stat->state) ||
            !proc::readAll(procFd.get(), PidPath(pid, "cmdline").c_str(), raw))
            return std::nullopt;
        const QByteArray shortName(stat->shortName.data(),
                                   static_cast<qsizetype>(stat->shortName.size()));
        ProcessInfo info;
        info.pid = pid;
        info.uid = st.st_uid;
        info.user = userName(st.st_uid);
        info.program = QString::fromUtf8(shortName);
        info.commandLine = QString::fromUtf8(matchableCommandLine(raw, shortName));
        return info;
    }

    std::optional<QString> commandLine(pid_t pid) const override {
        const FileDescriptor procFd = proc::openProc();
        QByteArray raw;
        if (!procFd.isOpen() || !proc::readAll(procFd.get(), PidPath(pid, "cmdline").c_str(), raw,
                                               proc::End::ShortRead))
            return std::nullopt;
        const std::string_view args = withoutTrailingNuls(raw);
        if (args.empty())
            return std::nullopt; // a zombie, or a kernel thread
        QByteArray text;
        appendMatchable(args, text);
        return QString::fromUtf8(text);
    }

    bool isRunning(pid_t pid) const override {
        const FileDescriptor procFd = proc::openProc();
        QByteArray buffer;
        if (!procFd.isOpen())
            return true; // no /proc: nothing tells
        const std::optional<proc::StatLine> line = proc::readStat(procFd.get(), pid, buffer);
        return !line || !proc::isEnded(line->state);
    }

    std::vector<ServerProcess> serverProcesses(pid_t leader) const override {
        std::vector<ServerProcess> found;
        const FileDescriptor procFd = proc::openProc();
        if (!procFd.isOpen() || leader <= 0)
            return found;
        QByteArray buffer;
        const std::optional<proc::StatLine> head = proc::readStat(procFd.get(), leader, buffer);
        if (head && !proc::isEnded(head->state)) {
            found.push_back({leader, false});
            if (const std::optional<std::vector<pid_t>> children =
                    proc::childrenOf(procFd.get(), leader)) {
                for (const pid_t child : *children) {
                    if (const std::optional<proc::StatLine> line =
                            proc::readStat(procFd.get(), child, buffer))
                        found.push_back({child, proc::isEnded(line->state)});
                }
                return found;
            }
        }
        // The leader has ended (or the kernel does not list children): its group, by the
        // processes' own lines.
        const bool leaderRuns = !found.empty();
        for (const pid_t pid : proc::listPids(procFd.get())) {
            if (pid == leader)
                continue;
            const std::optional<proc::StatLine> line = proc::readStat(procFd.get(), pid, buffer);
            if (!line)
                continue;
            const bool ended = proc::isEnded(line->state);
            if (leaderRuns ? line->parent == leader : (line->group == leader && !ended))
                found.push_back({pid, ended});
        }
        std::sort(found.begin(), found.end(),
                  [](const ServerProcess& a, const ServerProcess& b) { return a.pid < b.pid; });
        return found;
    }
};

} // namespace

std::shared_ptr<const ProcessSource> procProcessSource() {
    static const auto source = std::make_shared<const ProcSource>();
    return source;
}

} // namespace platform
