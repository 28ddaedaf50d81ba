#include "cli/state_json.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/process.h"

#include <QJsonValue>

namespace cli {

namespace {

QJsonObject serviceJson(Service service, bool running, const QString& address,
                        std::optional<qint32> pid) {
    QJsonObject object{
        {QStringLiteral("label"), serviceLabel(service)},
        {QStringLiteral("running"), running},
        {QStringLiteral("port"), servicePort(service)},
        {QStringLiteral("pid"), pid ? QJsonValue(*pid) : QJsonValue(QJsonValue::Null)},
    };
    if (!address.isEmpty())
        object.insert(QStringLiteral("address"), address);
    return object;
}

// The process id of a running service: the database's from its port, a web server's from its
// pid file when that process is alive.
std::optional<qint32> livePid(const PanelViewModel& model, Service service) {
    std::optional<pid_t> pid;
    if (service == Service::Database)
        pid = model.mysqlPidFromPort();
    else if (const std::optional<pid_t> recorded = core::readPidFile(model.servicePidPath(service));
             recorded && platform::isProcessAlive(*recorded))
        pid = recorded;
    if (!pid || *pid <= 0)
        return std::nullopt;
    return static_cast<qint32>(*pid);
}

} // namespace

QJsonObject stateJson(const PanelViewModel& model) {
    const ServiceStatus status = model.status();
    const auto entry = [&](Service service, const QString& address) {
        const bool running = status.isRunning(service);
        return serviceJson(service, running, address,
                           running ? livePid(model, service) : std::nullopt);
    };
    const QJsonObject services{
        {QStringLiteral("mysql"), entry(Service::Database, serviceHostPort(Service::Database))},
        {QStringLiteral("phpWeb"), entry(Service::Site, serviceHttpAddress(Service::Site))},
        {QStringLiteral("phpMyAdmin"),
         entry(Service::PhpMyAdmin, serviceHttpAddress(Service::PhpMyAdmin))},
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
