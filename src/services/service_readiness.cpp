#include "services/service_readiness.h"

#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/log_tail.h"
#include "platform/port_holder.h"
#include "platform/process.h"
#include "platform/process_table.h"
#include "services/service_watch.h"
#include "services/web_services.h"

#include <QFileInfo>

#include <algorithm>
#include <memory>

#include <unistd.h>

using namespace platform;

namespace {

constexpr int kLogLines = 5;

// True when process is leader or one of the workers it forked (they stay in its process
// group, also once it has ended).
bool isProcessOf(pid_t process, pid_t leader) {
    return leader > 0 && process > 0 && (process == leader || ::getpgid(process) == leader);
}
constexpr std::chrono::seconds kStopCheckLimit{5};

// The processes of this runtime's database server (its adaptor while that still runs): the
// ones found last are asked again first, and the machine is searched only once they are gone.
struct DatabaseProcesses {
    explicit DatabaseProcesses(const QString& pattern) : regex(pattern) {}

    bool anyAlive() {
        const ProcessTable table;
        for (const pid_t pid : seen) {
            const std::optional<ProcessInfo> info = table.process(pid);
            if (info && regex.matches(info->commandLine.toUtf8().constData()))
                return true;
        }
        seen = table.pidsMatching(regex);
        std::erase(seen, ::getpid());
        return !seen.empty();
    }

    const ExtendedRegex regex;
    std::vector<pid_t> seen;
};

} // namespace

Error startFailure(quint16 port, const ReadinessResult& result, std::chrono::milliseconds limit,
                   const QString& logPath, const QStringList& logLines) {
    const QString call = QStringLiteral("readiness");
    if (result.holder)
        return Error{QStringLiteral("端口 ") + QString::number(port) + QStringLiteral(" 已被 ") +
                         describePortHolder(*result.holder) + QStringLiteral(" 占用"),
                     logPath,
                     call,
                     0,
                     ErrorKind::Refused,
                     0};
    if (result.state == Readiness::Stopped)
        return startStopped(QStringLiteral("收到停止请求，未等待服务器就绪"));
    const bool ended = result.state == Readiness::Ended;
    const QString what =
        ended ? QStringLiteral("服务器启动后即退出")
              : QStringLiteral("服务器 %1 秒内未在端口 %2 响应")
                    .arg(std::chrono::duration_cast<std::chrono::seconds>(limit).count())
                    .arg(port);
    const ErrorKind kind = ended ? ErrorKind::ToolFailed : ErrorKind::TimedOut;
    const QString logName = QFileInfo(logPath).fileName();
    // One line, so that the error notice, which shows whole lines, shows the cause too.
    if (logLines.isEmpty())
        return Error{what + QStringLiteral("，") + logName + QStringLiteral(" 中没有新内容"),
                     logPath,
                     call,
                     0,
                     kind,
                     0};
    return Error{what + QStringLiteral("，") + logName + QStringLiteral(": ") +
                     logLines.join(QStringLiteral(" | ")),
                 logPath,
                 call,
                 0,
                 kind,
                 0};
}

QString startFailureEntry(const QString& label, const Error& cause) {
    if (cause.kind == ErrorKind::Cancelled)
        return startStoppedEntry(label, cause.message);
    return label + QStringLiteral(": 启动失败: ") + cause.message;
}

QString startStoppedEntry(const QString& label, const QString& why) {
    return label + QStringLiteral(": 启动已中止: ") + why;
}

Error startStopped(const QString& why) {
    return Error{why, QString(), QStringLiteral("stop"), 0, ErrorKind::Cancelled, 0};
}

bool isOwnServer(const PanelViewModel& model, Service service, const PortHolder& holder,
                 pid_t pid) {
    if (service == Service::Database)
        return ExtendedRegex(serviceProcessPattern(Service::Database, model.mysqlDir()))
            .matches(holder.commandLine.toUtf8().constData());
    // The listener named may be a worker of the server this run launched.
    if (isProcessOf(holder.pid, pid))
        return true;
    // This run's server, or the same server of this runtime started by another run.
    const QString tail = QStringLiteral(" -S 0.0.0.0:") + QString::number(servicePort(service)) +
                         QStringLiteral(" -t ") + model.serviceDocumentRoot(service);
    const QStringList interpreters = model.phpBinCandidates();
    return std::any_of(interpreters.begin(), interpreters.end(),
                       [&](const QString& php) { return holder.commandLine == php + tail; });
}

Error stopFailure(quint16 port, const PortHolder& holder) {
    return Error{QStringLiteral("端口 ") + QString::number(port) + QStringLiteral(" 仍被 ") +
                     describePortHolder(holder) + QStringLiteral(" 占用"),
                 QString(),
                 QStringLiteral("port check"),
                 0,
                 ErrorKind::TimedOut,
                 0};
}

QString stopFailureEntry(const QString& label, const Error& cause) {
    return label + QStringLiteral(": 停止失败: ") + cause.message;
}

QString foreignListenerEntry(quint16 port, const PortHolder& holder) {
    return QStringLiteral("端口 ") + QString::number(port) + QStringLiteral(" 被 ") +
           describePortHolder(holder) + QStringLiteral(" 占用（不是本面板启动的程序）");
}

std::vector<ServiceReadiness> awaitLaunchedServers(PanelViewModel& model,
                                                   const std::vector<LaunchedServer>& launched,
                                                   const std::function<bool()>& stopAsked) {
    const PanelConfig& config = model.config();
    const QString mysqlDir = model.mysqlDir();
    std::vector<std::shared_ptr<DatabaseProcesses>> databases;
    std::vector<ReadinessProbe> probes;
    for (const LaunchedServer& server : launched) {
        ReadinessProbe probe;
        probe.port = config.probePort(server.service);
        if (server.service == Service::Database) {
            probe.limit = std::chrono::seconds(config.databaseReadySeconds);
            // The server daemonizes: it is found by its command line, as the kills find it.
            const auto processes = std::make_shared<DatabaseProcesses>(
                serviceProcessPattern(Service::Database, mysqlDir));
            probe.isOwnServer = [processes](const PortHolder& h) {
                return processes->regex.matches(h.commandLine.toUtf8().constData());
            };
            probe.launchAlive = [processes] { return processes->anyAlive(); };
            probe.likelyHolders = [processes] { return processes->seen; };
            databases.push_back(processes);
        } else {
            probe.limit = std::chrono::seconds(config.webReadySeconds);
            // This run's server, or the same server of this runtime started by a run that
            // went at the same time (then that run records it).
            probe.isOwnServer = [&model, service = server.service,
                                 pid = server.pid](const PortHolder& h) {
                return isOwnServer(model, service, h, pid);
            };
            probe.launchAlive = [pid = server.pid] { return isProcessAlive(pid); };
            probe.likelyHolders = [pid = server.pid] { return std::vector<pid_t>{pid}; };
        }
        probes.push_back(std::move(probe));
    }

    const std::vector<ReadinessResult> results = waitUntilReady(probes, stopAsked);
    std::vector<ServiceReadiness> readiness;
    for (size_t i = 0; i < launched.size(); ++i) {
        const LaunchedServer& server = launched[i];
        const ReadinessResult& result = results[i];
        const QString label = serviceLabel(server.service);
        ServiceReadiness r{server.service, {}, std::nullopt};
        if (result.state == Readiness::Ready) {
            // From here on its end, unless a stop of the panel's asks for it, is unexpected.
            services::recordServiceUp(model.cfgDir(), server.service, server.logOffset);
            // Only a server this run launched goes into the pid file.
            if (server.pid > 0 && result.holder && isProcessOf(result.holder->pid, server.pid)) {
                const QString pidPath = model.servicePidPath(server.service);
                if (Result<> written = writeTextAtomically(pidPath, QString::number(server.pid));
                    !written) {
                    Error cause = written.error();
                    cause.message += QStringLiteral(" (") + pidPath + QLatin1Char(')');
                    cause.path = pidPath;
                    cause.call = QStringLiteral("write pid file");
                    r.entry = startFailureEntry(label, cause);
                    r.cause = std::move(cause);
                }
            }
        } else {
            const QString logPath = model.serviceLogPath(server.service);
            Error cause = startFailure(probes[i].port, result, probes[i].limit, logPath,
                                       linesWrittenSince(logPath, server.logOffset, kLogLines));
            // What became of the server, when it is still there: a stop that overtook the
            // start ends it with the others.
            if (result.state != Readiness::Stopped) {
                const ProcessTable table;
                if (server.service != Service::Database &&
                    services::phpServerServes(table, server.pid)) {
                    // Its workers with it: none may keep the port.
                    const bool ended = services::endPhpServer(
                        table, server.pid, std::chrono::milliseconds(config.killGraceMilliseconds));
                    cause.message += (ended ? QStringLiteral("；已结束该服务器 (pid %1)")
                                            : QStringLiteral("；无法结束该服务器 (pid %1)"))
                                         .arg(server.pid);
                } else if (server.service == Service::Database &&
                           result.state == Readiness::TimedOut && databases.front()->anyAlive()) {
                    cause.message += QStringLiteral("；数据库服务器仍在运行，状态会显示它，"
                                                    "停止全部服务会结束它");
                }
            }
            r.entry = startFailureEntry(label, cause);
            r.cause = std::move(cause);
        }
        readiness.push_back(std::move(r));
    }
    return readiness;
}

std::vector<ServiceReadiness> servicesStillListening(const PanelViewModel& model) {
    const PanelConfig& config = model.config();
    std::vector<quint16> ports;
    ports.reserve(kServices.size());
    for (Service service : kServices)
        ports.push_back(config.probePort(service));
    // A program that the panel did not start is not waited for.
    const std::vector<std::optional<PortHolder>> holders =
        waitUntilPortsFree(ports, kStopCheckLimit, [&model](size_t i, const PortHolder& holder) {
            return holder.pid <= 0 || isOwnServer(model, kServices[i], holder);
        });
    std::vector<ServiceReadiness> survivors;
    for (size_t i = 0; i < kServices.size(); ++i) {
        if (!holders[i])
            continue;
        const Service service = kServices[i];
        if (holders[i]->pid > 0 && !isOwnServer(model, service, *holders[i])) {
            survivors.push_back({service, foreignListenerEntry(ports[i], *holders[i]), {}});
            continue;
        }
        Error cause = stopFailure(ports[i], *holders[i]);
        QString entry = stopFailureEntry(serviceLabel(service), cause);
        survivors.push_back({service, std::move(entry), std::move(cause)});
    }
    return survivors;
}
