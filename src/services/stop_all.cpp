#include "services/stop_all.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "services/database.h"
#include "services/service_readiness.h"
#include "services/service_watch.h"
#include "services/web_services.h"

#include <QFile>

#include <array>
#include <chrono>
#include <optional>

namespace services {

QString stopAllStoppingText(const QString& panelRoot) {
    return QStringLiteral("=== 停止中 ===\n正在关闭服务...\n目录: ") + panelRoot;
}

QString stopAllFinalBlock(const QStringList& reports) {
    const QStringList entries = core::trimmedTexts(reports);
    return PanelViewModel::buildLogBlock(QStringLiteral("=== 停止完成 ==="), entries, {});
}

qint64 stopRequestClock() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

QString stopRequestPath(const PanelViewModel& model) {
    return model.cfgDir() + QStringLiteral("/.stop-request");
}

Result<> recordStopRequest(const QString& markerPath, qint64 pressedAt) {
    // Not flushed: a marker lost with a crash of the machine has nothing left to stop.
    return platform::writeTextAtomicallyUnsynced(markerPath, QString::number(pressedAt));
}

bool stopRequestedSince(const QString& markerPath, qint64 pressedAt) {
    QFile marker(markerPath);
    if (!marker.open(QIODevice::ReadOnly))
        return false;
    bool ok = false;
    const qint64 stoppedAt = marker.read(32).trimmed().toLongLong(&ok);
    return ok && stoppedAt > pressedAt;
}

namespace {

// The worker's part. The pattern kills run whatever happened before them, so servers without
// a usable pid file and a database that refused the shutdown request end too.
void stopAllSteps(PanelViewModel& model) {
    // The opening: the status as it is, then the stopping text. Probed here, published on the
    // main thread.
    const StatusSnapshot before = model.probeStatus();
    model.postToMain([before, text = stopAllStoppingText(before.panelRoot)](PanelViewModel& m) {
        m.publishStatus(before);
        m.setLogs(text);
        m.updateErrorSummary();
    });

    const QString mysqlDir = model.mysqlDir();
    // Takes turns with start-all runs of other windows and panels (see start_all.cpp).
    const platform::FileLock turn(model.cfgDir() + QStringLiteral("/.start-stop.lock"));
    // Told in the turn: a start that ran before it recorded its servers as up.
    for (const Service service : kServices)
        recordIntendedStop(model.cfgDir(), service);
    OperationOutcome outcome;
    outcome.operation = Operation::StopAll;
    // The pid-file stops report nothing: what they go past, they keep as warnings.
    const QString a = model.stopPhpWeb(&outcome.warnings);
    const QString b = model.stopPhpMyAdmin(&outcome.warnings);
    const Result<platform::ChildExit> shutdown = model.shutdownMysql();
    const QString c = core::failureText(shutdown);
    const Result<> siteKill = model.killMatching(serviceProcessPattern(Service::Site, mysqlDir));
    const QString d = core::failureText(siteKill);
    const Result<> databaseKill =
        model.killMatching(serviceProcessPattern(Service::Database, mysqlDir));
    const QString e = core::failureText(databaseKill);

    // Whatever still holds one of the three ports is named, after the reports.
    QStringList entries = {a, b, c, d, e};
    std::array<std::optional<Error>, kServices.size()> survivors;
    for (ServiceReadiness& r : servicesStillListening(model)) {
        entries.push_back(r.entry);
        survivors[serviceIndex(r.service)] = std::move(r.cause);
    }
    const auto survivor = [&](Service service) { return survivors[serviceIndex(service)]; };

    outcome.services = {
        serviceOutcomeOf(Service::Database, {failureOf(shutdown), failureOf(databaseKill),
                                             survivor(Service::Database)}),
        serviceOutcomeOf(Service::Site, {failureOf(siteKill), survivor(Service::Site)}),
        serviceOutcomeOf(Service::PhpMyAdmin, {failureOf(siteKill), survivor(Service::PhpMyAdmin)}),
    };
    outcome.succeeded = allSucceeded(outcome.services);
    outcome.report = stopAllFinalBlock(entries);
    model.postToMain(
        [snapshot = model.probeStatus(), outcome = std::move(outcome)](PanelViewModel& m) mutable {
            m.publishStatus(snapshot);
            m.setLogs(outcome.report);
            m.updateErrorSummary();
            m.finish(outcome);
        });
}

} // namespace

} // namespace services

// --- PanelViewModel: stop-all ---

void PanelViewModel::stopAll() {
    // Told at once, not in this run's turn: a start-all that this run waits for ends early.
    runInBackground([pressedAt = services::stopRequestClock()](PanelViewModel& model) {
        const Result<> recorded =
            services::recordStopRequest(services::stopRequestPath(model), pressedAt);
        // Without a config directory there is no start-all to stop.
        if (!recorded && recorded.error().kind != ErrorKind::NotFound)
            reportIgnored(recorded, "ask start-all runs to stop");
    });
    runStartStop([](PanelViewModel& model, const platform::SerialQueue::Turn&) {
        services::stopAllSteps(model);
    });
}
