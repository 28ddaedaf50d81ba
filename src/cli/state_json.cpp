#include "cli/state_json.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/process.h"

#include <QJsonValue>

namespace cli {

namespace {

// The process id in a server's pid file, when that process is alive.
std::optional<qint32> livePidFromFile(const PanelViewModel& model, const QString& pidPath) {
    const std::optional<QString> text = model.readTextFile(pidPath);
    if (!text)
        return std::nullopt;
    const std::optional<qint32> pid = parseProcessId(trimmedText(*text));
    if (!pid || *pid <= 0 || !isProcessAlive(*pid))
        return std::nullopt;
    return pid;
}

QJsonObject serviceJson(const QString& label, bool running, int port, const QString& address,
                        std::optional<qint32> pid) {
    QJsonObject service{
        {QStringLiteral("label"), label},
        {QStringLiteral("running"), running},
        {QStringLiteral("port"), port},
        {QStringLiteral("pid"), pid ? QJsonValue(*pid) : QJsonValue(QJsonValue::Null)},
    };
    if (!address.isEmpty())
        service.insert(QStringLiteral("address"), address);
    return service;
}

} // namespace

QJsonObject stateJson(const PanelViewModel& model) {
    const ServiceStatus status = model.status();
    std::optional<qint32> mysqlPid;
    if (status.mysqlRunning) {
        if (const std::optional<pid_t> pid = model.mysqlPidFromPort3306(); pid && *pid > 0)
            mysqlPid = *pid;
    }
    const QJsonObject services{
        {QStringLiteral("mysql"), serviceJson(QStringLiteral("MySQL"), status.mysqlRunning, 3306,
                                              QStringLiteral("localhost:3306"), mysqlPid)},
        {QStringLiteral("phpWeb"),
         serviceJson(QStringLiteral("PHP Web"), status.phpWebRunning, 8000,
                     QStringLiteral("http://localhost:8000"),
                     status.phpWebRunning ? livePidFromFile(model, model.phpWebPidPath())
                                          : std::nullopt)},
        {QStringLiteral("phpMyAdmin"),
         serviceJson(QStringLiteral("phpMyAdmin"), status.phpMyAdminRunning, 900,
                     QStringLiteral("http://localhost:900"),
                     status.phpMyAdminRunning ? livePidFromFile(model, model.phpMyAdminPidPath())
                                              : std::nullopt)},
    };
    return {
        {QStringLiteral("root"), model.zeltoPanelRoot()},
        {QStringLiteral("savedRoot"), model.savedRoot()},
        {QStringLiteral("permissionHint"), model.permissionHint()},
        {QStringLiteral("services"), services},
        {QStringLiteral("report"), model.logs()},
        {QStringLiteral("errorSummary"), model.errorSummary()},
    };
}

} // namespace cli
