#include "port_holder.h"

#include "process.h"
#include "process_table.h"

#include <QDir>
#include <QFile>

#include <algorithm>
#include <vector>

#include <pwd.h>
#include <unistd.h>

namespace platform {

namespace {

struct ListeningSocket {
    quint64 inode = 0;
    uid_t uid = 0;
};

// The listening sockets on port from one of /proc/net/tcp and /proc/net/tcp6. A line reads
// "sl local_address rem_address st ... uid timeout inode ...", the port in hexadecimal after
// the colon of the local address, state 0A for LISTEN.
void collectListening(const QString& table, quint16 port, std::vector<ListeningSocket>& out) {
    QFile file(table);
    if (!file.open(QIODevice::ReadOnly))
        return;
    file.readLine(); // header
    while (!file.atEnd()) {
        const QList<QByteArray> fields = file.readLine().simplified().split(' ');
        if (fields.size() < 10 || fields[3] != "0A")
            continue;
        const QByteArray& local = fields[1];
        const qsizetype colon = local.lastIndexOf(':');
        bool ok = false;
        if (colon < 0 || local.mid(colon + 1).toUInt(&ok, 16) != port || !ok)
            continue;
        ListeningSocket socket;
        socket.uid = fields[7].toUInt();
        socket.inode = fields[9].toULongLong();
        out.push_back(socket);
    }
}

std::vector<ListeningSocket> listeningSockets(quint16 port) {
    std::vector<ListeningSocket> sockets;
    collectListening(QStringLiteral("/proc/net/tcp"), port, sockets);
    collectListening(QStringLiteral("/proc/net/tcp6"), port, sockets);
    return sockets;
}

// Whether pid has an open descriptor on one of targets ("socket:[inode]").
bool holdsOneOf(const QByteArray& pidName, const std::vector<QByteArray>& targets) {
    const QByteArray fdDir = "/proc/" + pidName + "/fd";
    const QStringList fds = QDir(QString::fromLatin1(fdDir)).entryList(QDir::Files | QDir::System);
    char link[64];
    for (const QString& fd : fds) {
        const QByteArray path = fdDir + '/' + fd.toLatin1();
        const ssize_t n = ::readlink(path.constData(), link, sizeof link - 1);
        if (n <= 0)
            continue;
        const QByteArray target(link, n);
        if (std::find(targets.begin(), targets.end(), target) != targets.end())
            return true;
    }
    return false;
}

// The first process with an open descriptor on one of the sockets, the likely ones looked at
// before all others; 0 when none can be seen.
pid_t processHolding(const std::vector<ListeningSocket>& sockets,
                     const std::vector<pid_t>& likely) {
    std::vector<QByteArray> targets;
    for (const ListeningSocket& s : sockets)
        targets.push_back("socket:[" + QByteArray::number(s.inode) + ']');
    for (const pid_t pid : likely) {
        if (pid > 0 && holdsOneOf(QByteArray::number(pid), targets))
            return pid;
    }
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& name : pids) {
        bool ok = false;
        const pid_t pid = name.toInt(&ok);
        if (ok && holdsOneOf(name.toLatin1(), targets))
            return pid;
    }
    return 0;
}

QString userName(uid_t uid) {
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        return QString::fromLocal8Bit(found->pw_name);
    return QString::number(uid);
}

} // namespace

bool isTcpPortListening(quint16 port) {
    return !listeningSockets(port).empty();
}

std::optional<PortHolder> tcpPortHolder(quint16 port, const std::vector<pid_t>& likely) {
    const std::vector<ListeningSocket> sockets = listeningSockets(port);
    if (sockets.empty())
        return std::nullopt;
    PortHolder holder;
    holder.uid = sockets.front().uid;
    holder.user = userName(holder.uid);
    holder.pid = processHolding(sockets, likely);
    if (holder.pid > 0) {
        if (const std::optional<ProcessInfo> info = ProcessTable().process(holder.pid)) {
            holder.program = info->program;
            holder.commandLine = info->commandLine;
        }
    }
    return holder;
}

QString describePortHolder(const PortHolder& holder, int maxCommandLength) {
    const QString userPart = QStringLiteral("用户 ") + holder.user;
    if (holder.pid <= 0)
        return QStringLiteral("其他程序 (") + userPart + QLatin1Char(')');
    QString command = holder.commandLine;
    if (command.size() > maxCommandLength)
        command = command.left(maxCommandLength - 1) + QStringLiteral("…");
    const QString program = holder.program.isEmpty() ? QStringLiteral("?") : holder.program;
    QString text = program + QStringLiteral(" (pid ") + QString::number(holder.pid) +
                   QStringLiteral(", ") + userPart;
    if (!command.isEmpty())
        text += QStringLiteral(", 命令: ") + command;
    return text + QLatin1Char(')');
}

std::vector<pid_t> pidsMatching(const QString& extendedRegex) {
    const ExtendedRegex pattern(extendedRegex);
    std::vector<pid_t> pids = ProcessTable().pidsMatching(pattern);
    std::erase(pids, ::getpid());
    return pids;
}

std::vector<pid_t> signallableProcessesMatching(const QString& extendedRegex) {
    std::vector<pid_t> pids = pidsMatching(extendedRegex);
    std::erase_if(pids, [](pid_t pid) { return !sendSignal(pid, 0).has_value(); });
    return pids;
}

} // namespace platform
