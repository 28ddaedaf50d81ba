#include "platform/process_table.h"

#include <algorithm>
#include <array>
#include <utility>

#include <pwd.h>

namespace platform {

QString userName(uid_t uid) {
    passwd entry{};
    passwd* result = nullptr;
    std::array<char, 4096> buffer{};
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result) == 0 && result)
        return QString::fromLocal8Bit(result->pw_name);
    return QString::number(uid);
}

std::shared_ptr<const ProcessSource> systemProcessSource() {
#ifdef ZELTO_PORTABLE_PLATFORM
    return toolProcessSource();
#else
    return procProcessSource();
#endif
}

ProcessTable::ProcessTable() : m_source(systemProcessSource()) {}

ProcessTable::ProcessTable(std::shared_ptr<const ProcessSource> source)
    : m_source(std::move(source)) {}

std::vector<InetSocket> ProcessTable::socketsOnPort(quint16 port) const {
    return m_source->socketsOnPort(port, scan());
}

std::vector<pid_t> ProcessTable::pidsOnPort(quint16 port, std::size_t limit) const {
    std::vector<pid_t> pids;
    if (limit == 0)
        return pids;
    for (const HeldSocket& held : m_source->holdersOfPort(port, limit, scan()))
        pids.push_back(held.pid);
    return pids;
}

std::optional<pid_t> ProcessTable::firstPidOnPort(quint16 port) const {
    const std::vector<pid_t> pids = pidsOnPort(port, 1);
    if (pids.empty())
        return std::nullopt;
    return pids.front();
}

std::optional<pid_t> ProcessTable::rememberedHolder(quint16 port) const {
    if (!m_lastHolder || m_lastHolder->port != port)
        return std::nullopt;
    // The same socket behind the same descriptor is still on the port.
    if (m_source->stillHolds(m_lastHolder->held, port))
        return m_lastHolder->held.pid;
    m_lastHolder.reset();
    return std::nullopt;
}

std::optional<pid_t> ProcessTable::rememberedHolderOfPort(quint16 port) const {
    const std::lock_guard lock(m_mutex);
    return rememberedHolder(port);
}

std::optional<pid_t> ProcessTable::holderOfPort(quint16 port) const {
    const std::lock_guard lock(m_mutex);
    if (const std::optional<pid_t> pid = rememberedHolder(port))
        return pid;
    const std::vector<HeldSocket> held = m_source->holdersOfPort(port, 1, scan());
    if (held.empty())
        return std::nullopt;
    if (held.front().lasting)
        m_lastHolder = LastHolder{held.front(), port};
    return held.front().pid;
}

std::vector<ProcessInfo> ProcessTable::portHolders(quint16 port) const {
    std::vector<ProcessInfo> holders;
    for (const pid_t pid : pidsOnPort(port)) {
        if (std::optional<ProcessInfo> info = m_source->process(pid))
            holders.push_back(std::move(*info));
    }
    return holders;
}

std::vector<pid_t> ProcessTable::pidsMatching(const ExtendedRegex& pattern,
                                              std::size_t limit) const {
    if (!pattern.isValid() || limit == 0)
        return {};
    return m_source->pidsMatching(pattern, limit, scan());
}

bool ProcessTable::anyMatching(const ExtendedRegex& pattern) const {
    return !pidsMatching(pattern, 1).empty();
}

std::optional<ProcessInfo> ProcessTable::process(pid_t pid) const {
    if (pid <= 0)
        return std::nullopt;
    return m_source->process(pid);
}

std::vector<ServerProcess> ProcessTable::serverProcesses(pid_t leader) const {
    if (leader <= 0)
        return {};
    return m_source->serverProcesses(leader);
}

} // namespace platform
