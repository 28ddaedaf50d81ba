#include "services/stop_all.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "services/database.h"
#include "services/web_services.h"

#include <optional>

namespace services {

QString stopAllStoppingText(const QString& panelRoot) {
    return QStringLiteral("=== 停止中 ===\n正在关闭服务...\n目录: ") + panelRoot;
}

QString stopAllFinalBlock(const QStringList& reports) {
    const QStringList entries = core::trimmedTexts(reports);
    return PanelViewModel::buildLogBlock(QStringLiteral("=== 停止完成 ==="), entries, {});
}

namespace {

// The worker's part. The pattern kills run whatever happened before them, so servers without
// a usable pid file and a database that refused the shutdown request end too.
void stopAllSteps(PanelViewModel& model) {
    const QString mysqlDir = model.mysqlDir();
    const QString a = model.stopPhpWeb();
    const QString b = model.stopPhpMyAdmin();
    const QString c = model.stopMysql();
    const QString d = model.killByPattern(serviceProcessPattern(Service::Site, mysqlDir));
    const QString e = model.killByPattern(serviceProcessPattern(Service::Database, mysqlDir));

    OperationOutcome outcome;
    outcome.operation = Operation::StopAll;
    const QString kill = QStringLiteral("pkill");
    outcome.services = {
        serviceOutcomeOf(Service::Database, {reportedFailure(c, QStringLiteral("shutdown")),
                                             reportedFailure(e, kill)}),
        serviceOutcomeOf(Service::Site,
                         {reportedFailure(a, QStringLiteral("stop")), reportedFailure(d, kill)}),
        serviceOutcomeOf(Service::PhpMyAdmin,
                         {reportedFailure(b, QStringLiteral("stop")), reportedFailure(d, kill)}),
    };
    outcome.succeeded = allSucceeded(outcome.services);
    model.postToMain([reports = QStringList{a, b, c, d, e},
                      outcome = std::move(outcome)](PanelViewModel& m) mutable {
        m.refreshStatus();
        outcome.report = stopAllFinalBlock(reports);
        m.setLogs(outcome.report);
        m.updateErrorSummary();
        m.finish(std::move(outcome));
    });
}

} // namespace

} // namespace services

// --- PanelViewModel: stop-all ---

void PanelViewModel::stopAll() {
    postToMain([](PanelViewModel& m) {
        m.refreshStatus();
        m.setLogs(services::stopAllStoppingText(m.zeltoPanelRoot()));
        m.updateErrorSummary();
    });
    runInBackground(services::stopAllSteps);
}
