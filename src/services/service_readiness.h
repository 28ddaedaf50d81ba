#pragma once

#include "core/service_table.h"
#include "platform/readiness.h"
#include "platform/result.h"

#include <QString>
#include <QStringList>

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

// A service's readiness after its launch.
struct ServiceReadiness {
    Service service = Service::Database;
    // Empty when the server is ready, else the entry for the final report.
    QString entry;
    // Why it is not ready (the entry without the label), for the outcome.
    std::optional<Error> cause;
};

// Waits, for all of them at the same time, until each launched server accepts connections on
// its port, its server ended or its time limit passed (config: database 30 s, PHP 5 s). The
// pid file of a ready PHP server is written then, and only then; a server that is not ready
// leaves the pid file as it was. On the calling (worker or main) thread.
std::vector<ServiceReadiness> awaitLaunchedServers(PanelViewModel& model,
                                                   const std::vector<LaunchedServer>& launched);

// Waits (at most a few seconds) until nothing listens on the three ports any more; one
// "停止失败" entry per port still held, in table order, with its service.
std::vector<ServiceReadiness> servicesStillListening(const PanelViewModel& model);
