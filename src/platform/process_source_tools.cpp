#include "platform/platform.h"
#include "platform/process.h"
#include "platform/process_source.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <set>

// The process table over the system tools: lsof for the sockets on a port and their holders,
// pgrep -f for matching command lines, ps for a process's details. For systems without /proc
// and socket diagnostics; no call here is particular to one system.

namespace platform {

namespace {

constexpr std::chrono::seconds kToolTimeout{20};

// What the tool printed, or nothing when it could not be run to its end. (lsof, pgrep and ps
// exit with 1 when they found nothing.)
std::optional<QByteArray> ask(const QString& tool, const QStringList& args) {
    ChildOptions options;
    options.out = StdStream::Capture;
    options.err = StdStream::Null;
    options.timeout = kToolTimeout;
    const Result<ChildExit> exit = runChild(tool, args, options);
    if (!exit || exit->signalled || exit->timedOut || exit->exitStatus > 1)
        return std::nullopt;
    return exit->output;
}

struct OpenInetFile {
    pid_t pid = 0;
    int fd = -1;
    InetSocket socket;
};

quint16 portOf(const QByteArray& address) {
    return address.mid(address.lastIndexOf(':') + 1).toUShort(); // "*" and names: 0
}

// lsof's fields, one a line: "p<pid>" and "u<uid>" for a process, then for each of its files
// "f<fd>", "t<IPv4|IPv6>", "P<TCP|UDP>", "n<local>[-><remote>]" and "TST=<state>".
std::vector<OpenInetFile> parseLsofFields(const QByteArray& output) {
    std::vector<OpenInetFile> files;
    pid_t pid = 0;
    uid_t uid = 0;
    for (const QByteArray& line : output.split('\n')) {
        if (line.isEmpty())
            continue;
        const QByteArray value = line.mid(1);
        if (line[0] == 'p') {
            pid = value.toInt();
        } else if (line[0] == 'u') {
            uid = value.toUInt();
        } else if (line[0] == 'f') {
            bool ok = false;
            const int fd = value.toInt(&ok);
            files.push_back(OpenInetFile{pid, ok ? fd : -1, InetSocket{}});
            files.back().socket.uid = uid;
        } else if (files.empty()) {
            continue;
        } else if (InetSocket& s = files.back().socket; line[0] == 't') {
            s.ipv6 = value == "IPv6";
        } else if (line[0] == 'P') {
            s.transport = value == "UDP" ? Transport::Udp : Transport::Tcp;
        } else if (line[0] == 'n') {
            const qsizetype arrow = value.indexOf("->");
            s.localPort = portOf(arrow < 0 ? value : value.left(arrow));
            s.remotePort = arrow < 0 ? 0 : portOf(value.mid(arrow + 2));
        } else if (line == "TST=LISTEN") {
            s.listening = true;
        }
    }
    return files;
}

bool exists(pid_t pid) {
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

// "  1000 S    rest of the line": the two first words and the rest.
struct PsLine {
    QByteArray first;
    QByteArray second;
    QByteArray rest;
};
std::optional<PsLine> splitPsLine(QByteArray line) {
    if (line.endsWith('\n'))
        line.chop(1);
    line = line.trimmed() + ' ';
    const qsizetype one = line.indexOf(' ');
    if (one <= 0)
        return std::nullopt;
    qsizetype next = one;
    while (next < line.size() && line[next] == ' ')
        ++next;
    const qsizetype two = line.indexOf(' ', next);
    PsLine parts{line.left(one), line.mid(next, two - next), line.mid(two + 1)};
    while (parts.rest.startsWith(' '))
        parts.rest.remove(0, 1);
    parts.rest.chop(1);
    return parts;
}

bool isZombieState(const QByteArray& state) {
    return state.startsWith('Z') || state.startsWith('X');
}

class ToolSource final : public ProcessSource {
public:
    explicit ToolSource(const SystemTools& tools)
        : m_lsof(tools.lsof), m_pgrep(tools.pgrep), m_ps(tools.ps) {}

    std::vector<InetSocket> socketsOnPort(quint16 port, const Scan&) const override {
        std::vector<InetSocket> sockets;
        for (const OpenInetFile& file : filesOnPort(port, {}))
            sockets.push_back(file.socket);
        return sockets;
    }

    std::vector<HeldSocket> holdersOfPort(quint16 port, std::size_t limit,
                                          const Scan& scan) const override {
        std::vector<OpenInetFile> files = filesOnPort(port, {});
        std::stable_sort(files.begin(), files.end(),
                         [](const auto& a, const auto& b) { return a.pid < b.pid; });
        std::vector<HeldSocket> holders;
        for (const OpenInetFile& file : files) {
            if (!holders.empty() && holders.back().pid == file.pid)
                continue;
            scan.listed(file.pid);
            if (!exists(file.pid))
                continue;
            const InetSocket& s = file.socket;
            holders.push_back(
                HeldSocket{file.pid, file.fd, 0,
                           s.listening || (s.transport == Transport::Udp && s.localPort == port)});
            if (holders.size() >= limit)
                break;
        }
        return holders;
    }

    bool stillHolds(const HeldSocket& held, quint16 port) const override {
        const std::vector<OpenInetFile> files = filesOnPort(
            port, {QStringLiteral("-a"), QStringLiteral("-p"), QString::number(held.pid)});
        return std::any_of(files.begin(), files.end(), [&](const OpenInetFile& f) {
            return f.pid == held.pid && f.fd == held.fd;
        });
    }

    std::optional<TcpListener> tcpListener(quint16 port, const std::vector<pid_t>& likely,
                                           bool) const override {
        const std::optional<QByteArray> output =
            ask(m_lsof,
                {QStringLiteral("-w"), QStringLiteral("-nP"), QStringLiteral("-iTCP:%1").arg(port),
                 QStringLiteral("-sTCP:LISTEN"), QStringLiteral("-FpufPtnT")});
        std::vector<OpenInetFile> files = parseLsofFields(output.value_or(QByteArray()));
        std::erase_if(files, [&](const OpenInetFile& f) {
            return !f.socket.listening || f.socket.localPort != port;
        });
        if (files.empty())
            return std::nullopt;
        auto holder = std::min_element(files.begin(), files.end(),
                                       [](const auto& a, const auto& b) { return a.pid < b.pid; });
        for (const pid_t pid : likely) {
            const auto it = std::find_if(files.begin(), files.end(),
                                         [&](const OpenInetFile& f) { return f.pid == pid; });
            if (pid > 0 && it != files.end()) {
                holder = it;
                break;
            }
        }
        return TcpListener{holder->socket.uid, holder->pid};
    }

    std::vector<pid_t> pidsMatching(const ExtendedRegex& pattern, std::size_t limit,
                                    const Scan& scan) const override {
        const std::optional<QByteArray> output =
            ask(m_pgrep, {QStringLiteral("-f"), QStringLiteral("--"), pattern.pattern()});
        std::vector<pid_t> listed;
        for (const QByteArray& line : output.value_or(QByteArray()).split('\n')) {
            if (const int pid = line.toInt(); pid > 0)
                listed.push_back(pid);
        }
        std::sort(listed.begin(), listed.end());
        for (const pid_t pid : listed)
            scan.listed(pid);
        // pgrep lists zombies too; ps tells which are still running.
        std::vector<pid_t> running;
        for (const auto& [pid, state] : states(listed)) {
            if (!isZombieState(state))
                running.push_back(pid);
        }
        if (running.size() > limit)
            running.resize(limit);
        return running;
    }

    std::optional<ProcessInfo> process(pid_t pid) const override {
        const std::optional<PsLine> line = psLine(pid, QStringLiteral("uid=,stat=,comm="));
        if (!line || isZombieState(line->second))
            return std::nullopt;
        const std::optional<QString> arguments = commandLine(pid);
        if (!arguments)
            return std::nullopt;
        ProcessInfo info;
        info.pid = pid;
        info.uid = line->first.toUInt();
        info.user = userName(info.uid);
        info.program = QString::fromUtf8(line->rest);
        info.commandLine = *arguments;
        return info;
    }

    std::optional<QString> commandLine(pid_t pid) const override {
        const std::optional<PsLine> line = psLine(pid, QStringLiteral("pid=,stat=,args="));
        if (!line || isZombieState(line->second) || line->rest.isEmpty())
            return std::nullopt;
        return QString::fromUtf8(line->rest);
    }

    bool isRunning(pid_t pid) const override {
        const std::optional<QByteArray> output =
            ask(m_ps, {QStringLiteral("-o"), QStringLiteral("stat="), QStringLiteral("-p"),
                       QString::number(pid)});
        if (!output)
            return true; // ps could not tell
        const QByteArray state = output->trimmed();
        return !state.isEmpty() && !isZombieState(state);
    }

    std::vector<ServerProcess> serverProcesses(pid_t leader) const override {
        std::vector<ServerProcess> found;
        if (leader <= 0)
            return found;
        const std::optional<QByteArray> output =
            ask(m_ps, {QStringLiteral("-A"), QStringLiteral("-o"),
                       QStringLiteral("pid=,ppid=,pgid=,stat=")});
        struct Line {
            pid_t pid, parent, group;
            bool ended;
        };
        std::vector<Line> lines;
        bool leaderRuns = false;
        for (const QByteArray& text : output.value_or(QByteArray()).split('\n')) {
            const QList<QByteArray> fields = text.simplified().split(' ');
            if (fields.size() != 4 || fields[0].toInt() <= 0)
                continue;
            const Line line{fields[0].toInt(), fields[1].toInt(), fields[2].toInt(),
                            isZombieState(fields[3])};
            if (line.pid == leader)
                leaderRuns = !line.ended;
            else
                lines.push_back(line);
        }
        if (leaderRuns)
            found.push_back({leader, false});
        for (const Line& line : lines) {
            if (leaderRuns ? line.parent == leader : (line.group == leader && !line.ended))
                found.push_back({line.pid, line.ended});
        }
        std::sort(found.begin(), found.end(),
                  [](const ServerProcess& a, const ServerProcess& b) { return a.pid < b.pid; });
        return found;
    }

private:
    std::vector<OpenInetFile> filesOnPort(quint16 port, const QStringList& narrowing) const {
        QStringList args{QStringLiteral("-w"), QStringLiteral("-nP")};
        args << narrowing << QStringLiteral("-i") << QStringLiteral(":%1").arg(port)
             << QStringLiteral("-FpufPtnT");
        return parseLsofFields(ask(m_lsof, args).value_or(QByteArray()));
    }

    std::optional<PsLine> psLine(pid_t pid, const QString& format) const {
        const std::optional<QByteArray> output =
            ask(m_ps, {QStringLiteral("-ww"), QStringLiteral("-o"), format, QStringLiteral("-p"),
                       QString::number(pid)});
        if (!output || output->trimmed().isEmpty())
            return std::nullopt;
        return splitPsLine(*output);
    }

    // The state of each of pids that still exists, by process id.
    std::vector<std::pair<pid_t, QByteArray>> states(const std::vector<pid_t>& pids) const {
        std::vector<std::pair<pid_t, QByteArray>> found;
        if (pids.empty())
            return found;
        QStringList list;
        for (const pid_t pid : pids)
            list << QString::number(pid);
        const std::optional<QByteArray> output =
            ask(m_ps, {QStringLiteral("-o"), QStringLiteral("pid=,stat="), QStringLiteral("-p"),
                       list.join(QLatin1Char(','))});
        for (const QByteArray& line : output.value_or(QByteArray()).split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() == 2 && fields[0].toInt() > 0)
                found.emplace_back(fields[0].toInt(), fields[1]);
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    QString m_lsof;
    QString m_pgrep;
    QString m_ps;
};

} // namespace

std::shared_ptr<const ProcessSource> toolProcessSource(const SystemTools& tools) {
    return std::make_shared<const ToolSource>(tools);
}

std::shared_ptr<const ProcessSource> toolProcessSource() {
    static const std::shared_ptr<const ProcessSource> source =
        toolProcessSource(SystemTools::debian());
    return source;
}

} // namespace platform
