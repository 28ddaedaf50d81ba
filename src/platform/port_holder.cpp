#include "port_holder.h"

#include "process.h"
#include "process_table.h"

#include <vector>

#include <unistd.h>

namespace platform {

bool isTcpPortListening(quint16 port) {
    return systemProcessSource()->tcpListener(port, {}, false).has_value();
}

std::optional<PortHolder> tcpPortHolder(quint16 port, const std::vector<pid_t>& likely) {
    const std::shared_ptr<const ProcessSource> source = systemProcessSource();
    const std::optional<TcpListener> listener = source->tcpListener(port, likely, true);
    if (!listener)
        return std::nullopt;
    PortHolder holder;
    holder.uid = listener->uid;
    holder.user = userName(holder.uid);
    holder.pid = listener->pid;
    if (holder.pid > 0) {
        if (const std::optional<ProcessInfo> info = source->process(holder.pid)) {
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
