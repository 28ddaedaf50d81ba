#include "cli/state_json.h"

#include "core/operation_outcome.h"
#include "core/panel_view_model.h"
#include "core/php_ini.h"
#include "core/process_helpers.h"
#include "platform/process.h"

#include <QJsonArray>
#include <QJsonValue>

namespace cli {

namespace {

// The process id of a running service: the database's from its port, a web server's from its
// pid file while that process lives.
std::optional<pid_t> runningPid(const PanelViewModel& model, Service service) {
    if (service == Service::Database)
        return model.mysqlPidFromPort();
    const std::optional<pid_t> pid = core::readPidFile(model.servicePidPath(service));
    if (!pid || !platform::isProcessAlive(*pid))
        return std::nullopt;
    return pid;
}

// null, or when the server stopped by itself and the last lines of its log.
QJsonValue unexpectedStopJson(const std::optional<UnexpectedStop>& stop) {
    if (!stop)
        return QJsonValue::Null;
    return QJsonObject{{QStringLiteral("at"), stop->at.toString(Qt::ISODateWithMs)},
                       {QStringLiteral("lines"), QJsonArray::fromStringList(stop->lines)}};
}

} // namespace

QString serviceKey(Service service) {
    switch (service) {
    case Service::Database:
        return QStringLiteral("mysql");
    case Service::Site:
        return QStringLiteral("phpWeb");
    case Service::PhpMyAdmin:
        return QStringLiteral("phpMyAdmin");
    }
    return {};
}

QJsonObject stateJson(const PanelViewModel& model) {
    const ServiceStatus status = model.status();
    QJsonObject services;
    for (const Service service : kServices) {
        const bool running = status.isRunning(service);
        // null while stopped or where the id is not known.
        QJsonValue pid;
        if (running) {
            if (const std::optional<pid_t> known = runningPid(model, service); known && *known > 0)
                pid = qint64(*known);
        }
        services.insert(serviceKey(service),
                        QJsonObject{
                            {QStringLiteral("label"), serviceLabel(service)},
                            {QStringLiteral("running"), running},
                            {QStringLiteral("port"), servicePort(service)},
                            {QStringLiteral("address"), service == Service::Database
                                                            ? serviceHostPort(service)
                                                            : serviceHttpAddress(service)},
                            {QStringLiteral("pid"), pid},
                            {QStringLiteral("stoppedUnexpectedly"),
                             unexpectedStopJson(model.unexpectedStop(service))},
                        });
    }
    return {
        {QStringLiteral("root"), model.zeltoPanelRoot()},
        {QStringLiteral("savedRoot"), model.savedRoot()},
        {QStringLiteral("permissionHint"), model.permissionHint()},
        {QStringLiteral("services"), services},
        {QStringLiteral("phpDebugging"),
         QJsonObject{{QStringLiteral("on"), model.phpDebugging()},
                     {QStringLiteral("extension"), QStringLiteral("xdebug")},
                     {QStringLiteral("clientHost"), QStringLiteral("127.0.0.1")},
                     {QStringLiteral("clientPort"), kPhpDebuggerPort}}},
        {QStringLiteral("report"), model.logs()},
        {QStringLiteral("errorSummary"), model.errorSummary()},
    };
}

QJsonObject errorJson(const Error& error) {
    QJsonObject object{{QStringLiteral("message"), error.message}};
    if (!error.path.isEmpty())
        object.insert(QStringLiteral("path"), error.path);
    if (!error.call.isEmpty())
        object.insert(QStringLiteral("call"), error.call);
    if (error.code != 0)
        object.insert(QStringLiteral("code"), error.code);
    if (error.exitStatus != 0)
        object.insert(QStringLiteral("exitStatus"), error.exitStatus);
    return object;
}

QJsonObject outcomeJson(const QString& operation, const OperationOutcome& outcome) {
    QJsonObject services;
    for (const ServiceOutcome& service : outcome.services) {
        QJsonObject object{{QStringLiteral("succeeded"), service.succeeded}};
        if (service.cause)
            object.insert(QStringLiteral("cause"), errorJson(*service.cause));
        services.insert(serviceKey(service.service), object);
    }
    QJsonArray warnings;
    for (const Error& warning : outcome.warnings)
        warnings.append(errorJson(warning));
    QJsonObject object{
        {QStringLiteral("operation"), operation},
        {QStringLiteral("succeeded"), outcome.succeeded},
    };
    if (!services.isEmpty())
        object.insert(QStringLiteral("services"), services);
    if (!warnings.isEmpty())
        object.insert(QStringLiteral("warnings"), warnings);
    return object;
}

QJsonArray snapshotsJson(const QList<backup::SnapshotInfo>& snapshots) {
    QJsonArray list;
    for (const backup::SnapshotInfo& s : snapshots) {
        QJsonArray databases;
        for (const backup::DatabaseSize& d : s.databases)
            databases.push_back(QJsonObject{{QStringLiteral("name"), d.name},
                                            {QStringLiteral("bytes"), double(d.bytes)}});
        list.push_back(QJsonObject{
            {QStringLiteral("name"), s.name},
            {QStringLiteral("path"), s.path},
            {QStringLiteral("created"), s.created.toString(Qt::ISODate)},
            {QStringLiteral("reason"), backup::reasonKey(s.reason)},
            {QStringLiteral("automatic"), s.automatic()},
            {QStringLiteral("databases"), databases},
            {QStringLiteral("dumpBytes"), double(s.dumpBytes)},
            {QStringLiteral("fileBytes"), double(s.fileBytes)},
            {QStringLiteral("panelVersion"), s.panelVersion},
            {QStringLiteral("serverVersion"), s.serverVersion},
        });
    }
    return list;
}

} // namespace cli
