#include "services/web_services.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/readiness.h"
#include "services/database.h"
#include "services/service_readiness.h"

#include <QStringList>

#include <algorithm>
#include <csignal>

namespace services {

namespace {

bool fileNameStartsWithPhp(const QString& path) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name.startsWith(QStringLiteral("php"));
}

// Position of the "-S" word in a space-joined command line, or -1.
qsizetype serverOptionIndex(const QString& commandLine) {
    const QString option = QStringLiteral(" -S");
    for (qsizetype at = commandLine.indexOf(option); at >= 0;
         at = commandLine.indexOf(option, at + 1)) {
        const qsizetype end = at + option.size();
        if (end == commandLine.size() || commandLine.at(end) == QLatin1Char(' '))
            return at;
    }
    return -1;
}

} // namespace

QString phpMyAdminConfigText() {
    const QStringList lines = {
        QStringLiteral("<?php"),
        QStringLiteral("$cfg['blowfish_secret'] = 'qarmo-desk-cipher-7315';"),
        QStringLiteral("$i = 1;"),
        QStringLiteral("$cfg['Servers'][$i]['auth_type'] = 'cookie';"),
        QStringLiteral("$cfg['Servers'][$i]['host'] = '127.0.0.1';"),
        QStringLiteral("$cfg['Servers'][$i]['port'] = '%1';").arg(servicePort(Service::Database)),
        QStringLiteral("$cfg['Servers'][$i]['user'] = '") + kMysqlRootUser + QStringLiteral("';"),
        QStringLiteral("$cfg['Servers'][$i]['password'] = '") + kMysqlRootPassword +
            QStringLiteral("';"),
        QStringLiteral("$cfg['UploadDir'] = '';"),
        QStringLiteral("$cfg['SaveDir'] = '';"),
    };
    return lines.join(QLatin1Char('\n'));
}

bool isPhpBuiltInServerCommandLine(const QString& commandLine) {
    const qsizetype option = serverOptionIndex(commandLine);
    if (option < 0)
        return false;
    const QString firstWord = commandLine.section(QLatin1Char(' '), 0, 0);
    return fileNameStartsWithPhp(firstWord) || fileNameStartsWithPhp(commandLine.left(option));
}

PhpServerProcesses phpServerProcesses(const platform::ProcessTable& table, pid_t leader) {
    PhpServerProcesses found;
    const auto isServer = [](pid_t pid) {
        const std::optional<QString> commandLine = platform::processCommandLine(pid);
        return commandLine && isPhpBuiltInServerCommandLine(*commandLine);
    };
    const std::vector<platform::ServerProcess> processes = table.serverProcesses(leader);
    // A leader whose number now belongs to another program has no workers of the panel's.
    const bool leaderListed =
        !processes.empty() && std::any_of(processes.begin(), processes.end(),
                                          [leader](const auto& p) { return p.pid == leader; });
    if (leaderListed && !isServer(leader))
        return found;
    found.leaderRuns = leaderListed;
    for (const platform::ServerProcess& p : processes) {
        if (p.ended)
            found.endedWorkers += found.leaderRuns ? 1 : 0;
        else if (p.pid == leader || isServer(p.pid))
            found.serving.push_back(p.pid);
    }
    return found;
}

bool phpServerServes(const platform::ProcessTable& table, pid_t leader) {
    if (leader <= 0)
        return false;
    if (platform::isProcessAlive(leader))
        return true;
    // No process group left: nothing outlived the leader. (1 would name every process.)
    if (leader == 1 || ::kill(-leader, 0) != 0)
        return false;
    return !phpServerProcesses(table, leader).serving.empty();
}

bool endPhpServer(const platform::ProcessTable& table, pid_t leader,
                  std::chrono::milliseconds grace) {
    const std::vector<pid_t> serving = phpServerProcesses(table, leader).serving;
    // One that ends meanwhile fails the signal: nothing to tell.
    for (const pid_t pid : serving)
        static_cast<void>(platform::sendSignal(pid, SIGTERM));
    platform::waitUntilEnded(serving, grace);
    std::vector<pid_t> left;
    for (const pid_t pid : serving) {
        if (platform::isProcessAlive(pid)) {
            static_cast<void>(platform::sendSignal(pid, SIGKILL));
            left.push_back(pid);
        }
    }
    if (left.empty())
        return true;
    platform::waitUntilEnded(left, std::chrono::milliseconds(500));
    return std::none_of(left.begin(), left.end(), platform::isProcessAlive);
}

std::optional<QString> phpServerNote(const QString& label, pid_t leader,
                                     const PhpServerProcesses& processes) {
    if (processes.leaderRuns && processes.endedWorkers > 0)
        return label +
               QStringLiteral(": %1 个工作进程已退出，其余 %2 个进程仍在服务（重新启动可恢复）")
                   .arg(processes.endedWorkers)
                   .arg(processes.serving.size());
    if (!processes.leaderRuns && !processes.serving.empty())
        return label +
               QStringLiteral(": 主进程 (pid %1) 已退出，%2 个工作进程仍在服务（停止会结束它们）")
                   .arg(leader)
                   .arg(processes.serving.size());
    return std::nullopt;
}

} // namespace services

// --- PanelViewModel: web services ---

namespace {

// What phpMyAdmin's server needs before its launch: its directory, and its configuration when
// there is none (a failed write still lets the server start; phpMyAdmin then asks for its
// settings). The error's message is the report.
Result<> preparePhpMyAdmin(const PanelViewModel& model) {
    const QString dir = model.phpMyAdminDir();
    if (!platform::pathExists(dir))
        return failure(ErrorKind::NotFound,
                       serviceLabel(Service::PhpMyAdmin) + QStringLiteral(": 未找到目录 ") + dir,
                       dir);
    const QString config = model.phpMyAdminConfigPath();
    if (!platform::pathExists(config))
        reportIgnored(platform::writeTextAtomically(config, services::phpMyAdminConfigText()),
                      "write phpMyAdmin configuration");
    return {};
}

// Launches the server of a service, waits until it is ready and records it; the report.
QString startWebServer(PanelViewModel& model, Service service) {
    const Result<LaunchedServer> launched = model.launchWebServer(service);
    if (!launched)
        return launched.error().message;
    return awaitLaunchedServers(model, {*launched}).front().entry;
}

} // namespace

QString PanelViewModel::startPhpWeb() {
    return startWebServer(*this, Service::Site);
}

QString PanelViewModel::startPhpMyAdmin() {
    return startWebServer(*this, Service::PhpMyAdmin);
}

Result<LaunchedServer> PanelViewModel::launchWebServer(Service service) {
    if (service == Service::PhpMyAdmin) {
        if (Result<> prepared = preparePhpMyAdmin(*this); !prepared)
            return std::unexpected(std::move(prepared.error()));
    }
    return spawnPhpServer(service);
}

QString PanelViewModel::stopPhpWeb(std::vector<Error>* warnings) const {
    return stopPhpServerByPidFile(phpWebPidPath(), warnings);
}

QString PanelViewModel::stopPhpMyAdmin(std::vector<Error>* warnings) const {
    return stopPhpServerByPidFile(phpMyAdminPidPath(), warnings);
}

QString PanelViewModel::stopPhpServerByPidFile(const QString& pidPath,
                                               std::vector<Error>* warnings) const {
    const std::optional<pid_t> pid = core::readPidFile(pidPath);
    if (!pid)
        return {};
    // A pid file left by a server that ended by itself may name a process that has since
    // reused the number: only PHP built-in servers are signalled, the one named and its
    // workers, also those that outlived it. The stop waits for them, so that the port is free
    // when it returns. The record goes either way. Neither failure is reported: the pattern
    // kill of stop-all follows.
    if (!services::endPhpServer(m_processes, *pid,
                                std::chrono::milliseconds(m_config.killGraceMilliseconds)) &&
        warnings)
        warnings->push_back(Error{QStringLiteral("PHP 服务器进程未能结束 (pid %1)").arg(*pid),
                                  pidPath, QStringLiteral("stop PHP server"), 0,
                                  ErrorKind::TimedOut, 0});
    reportIgnored(platform::removePath(pidPath), "remove pid file", warnings);
    return {};
}
