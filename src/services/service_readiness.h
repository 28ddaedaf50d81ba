#pragma once

#include "core/service_table.h"
#include "platform/readiness.h"
#include "platform/result.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

#include <sys/types.h>

class PanelViewModel;

// Whether the servers a run launched came up, and what is still there after a stop; and the
// texts that name why not.

// Why a launched server is not ready: the other program on its port when there is one
// (Refused), otherwise that it ended (ToolFailed) or did not answer within limit (TimedOut),
// with the lines the server wrote to its log at logPath during this launch (at most five,
// oldest first), all on one line.
Error startFailure(quint16 port, const platform::ReadinessResult& result,
                   std::chrono::milliseconds limit, const QString& logPath,
                   const QStringList& logLines);
// "<label>: 启动失败: <cause>".
QString startFailureEntry(const QString& label, const Error& cause);

// Why a server is not stopped: the program still holding its port (TimedOut).
Error stopFailure(quint16 port, const platform::PortHolder& holder);
// "<label>: 停止失败: <cause>" ("端口 <port> 仍被 <holder> 占用").
QString stopFailureEntry(const QString& label, const Error& cause);
// "端口 <port> 被 <holder> 占用（不是本面板启动的程序）": a listener left after a stop that is
// not the panel's.
QString foreignListenerEntry(quint16 port, const platform::PortHolder& holder);

// A service's readiness after its launch.
struct ServiceReadiness {
    Service service = Service::Database;
    // Empty when the server is ready, else the entry for the final report.
    QString entry;
    // Why it is not ready (the entry without the label), for the outcome.
    std::optional<Error> cause;
};

// Waits, for all of them at the same time, until each launched server accepts connections on
// its port, its server ended, its time limit passed (config: database 30 s, PHP 5 s) or
// stopAsked (when given) turned true. The pid file of a ready PHP server is written then, and
// only then; a server that is not ready leaves the pid file as it was. A PHP server that is
// not ready in time is ended (SIGTERM, then SIGKILL after the grace), so that none runs without
// a pid file; the database server, which the status and the stop find by its command line,
// is left to come up, and its entry says so. On the calling (worker or main) thread.
std::vector<ServiceReadiness> awaitLaunchedServers(PanelViewModel& model,
                                                   const std::vector<LaunchedServer>& launched,
                                                   const std::function<bool()>& stopAsked = {});

// "<label>: 启动已中止: <why>": a start that a stop overtook (no failure of the service's own).
QString startStoppedEntry(const QString& label, const QString& why);
// The cause of a start that a stop overtook (Cancelled).
Error startStopped(const QString& why);

// True when holder, the listener on service's port, is that service's server of this runtime
// (pid, when not 0, is the PHP server this run launched).
bool isOwnServer(const PanelViewModel& model, Service service, const platform::PortHolder& holder,
                 pid_t pid = 0);

// Waits (at most a few seconds) until none of the runtime's servers listens on the three ports
// any more; one entry per port still held, in table order, with its service: "停止失败" with a
// cause when the listener is the service's own server, or, without a cause, the program that
// this panel did not start.
std::vector<ServiceReadiness> servicesStillListening(const PanelViewModel& model);
