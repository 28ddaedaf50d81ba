#include "services/start_all.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "services/database.h"
#include "services/web_services.h"

#include <functional>
#include <utility>

namespace services {

QString startAllPreparingText(const QString& panelRoot) {
    return QStringLiteral("=== 启动中 ===\n正在准备目录和服务...\n目录: ") + panelRoot;
}

QString startAllStageText(const QStringList& reports, const QString& nextService,
                          const QString& panelRoot) {
    return QStringLiteral("=== 启动中 ===\n") + reports.join(QLatin1Char('\n')) +
           QStringLiteral("\n正在启动 ") + nextService + QStringLiteral("...\n目录: ") + panelRoot;
}

QString startAllFinalBlock(const QStringList& reports, const QString& phpBinDisplay,
                           const QString& panelRoot) {
    const QStringList entries = core::trimmedTexts(reports);
    return PanelViewModel::buildLogBlock(
        QStringLiteral("=== 启动完成 ==="), entries,
        {QStringLiteral("网站: ") + serviceHttpAddress(Service::Site),
         serviceLabel(Service::PhpMyAdmin) + QStringLiteral(": ") +
             serviceHttpAddress(Service::PhpMyAdmin),
         serviceLabel(Service::Database) + QStringLiteral(": ") +
             serviceHostPort(Service::Database),
         QStringLiteral("PHP: ") + phpBinDisplay, QStringLiteral("目录: ") + panelRoot});
}

namespace {

// Queues a stage's publication: the status first (it writes a log of its own), then the
// stage's text, then the summary of that text.
void publishStage(PanelViewModel& model, std::function<QString(PanelViewModel&)> text) {
    model.postToMain([text = std::move(text)](PanelViewModel& m) {
        m.refreshStatus();
        m.setLogs(text(m));
        m.updateErrorSummary();
    });
}

// The worker's part: every step runs whatever the earlier ones reported.
void startAllSteps(PanelViewModel& model) {
    OperationOutcome outcome;
    outcome.operation = Operation::StartAll;
    // Preparation whose failure the sequence goes past: a later step fails visibly if it
    // mattered.
    for (const QString& dir : {model.runtimeDir(), model.cfgDir(), model.mysqlDataDir()})
        reportIgnored(platform::createDirectories(dir), "create directory", &outcome.warnings);
    const QString mysqlDir = model.mysqlDir();
    for (const Service service : {Service::Site, Service::Database})
        reportIgnored(model.killMatching(serviceProcessPattern(service, mysqlDir)),
                      "end running servers", &outcome.warnings);

    const QString defaultsFile = model.mysqlCnfPath();
    const Result<> written =
        platform::writeTextAtomically(defaultsFile, mysqlOptionFileText(mysqlDir));
    const QString w = core::failureText(written);
    const Result<platform::ChildExit> initialized = model.initializeMysql(defaultsFile);
    const QString i = core::processReportText(initialized);
    publishStage(model, [w, i](PanelViewModel& m) {
        return startAllStageText({w, i}, serviceLabel(Service::Database), m.zeltoPanelRoot());
    });

    const Result<pid_t> launched = model.launchMysql(defaultsFile);
    const QString mysqld = core::failureText(launched);
    publishStage(model, [w, i, mysqld](PanelViewModel& m) {
        return startAllStageText({w, i, mysqld}, serviceLabel(Service::Site), m.zeltoPanelRoot());
    });

    const QString p = model.startPhpWeb();
    publishStage(model, [w, i, mysqld, p](PanelViewModel& m) {
        return startAllStageText({w, i, mysqld, p}, serviceLabel(Service::PhpMyAdmin),
                                 m.zeltoPanelRoot());
    });

    const QString a = model.startPhpMyAdmin();

    std::optional<Error> initFailure = failureOf(initialized);
    if (!initFailure && !initialized->exitedCleanly())
        initFailure =
            Error{i, QString(), QStringLiteral("mysql_install_db"), initialized->exitStatus};
    outcome.services = {
        serviceOutcomeOf(Service::Database, {failureOf(written), initFailure, failureOf(launched)}),
        serviceOutcomeOf(Service::Site, {reportedFailure(p, QStringLiteral("launch"))}),
        serviceOutcomeOf(Service::PhpMyAdmin, {reportedFailure(a, QStringLiteral("launch"))}),
    };
    outcome.succeeded = allSucceeded(outcome.services);

    model.postToMain([reports = QStringList{w, i, mysqld, p, a},
                      outcome = std::move(outcome)](PanelViewModel& m) mutable {
        m.refreshStatus();
        outcome.report = startAllFinalBlock(reports, m.phpBinDisplay(), m.zeltoPanelRoot());
        m.setLogs(outcome.report);
        m.updateErrorSummary();
        m.finish(std::move(outcome));
    });
}

} // namespace

} // namespace services

// --- PanelViewModel: start-all ---

void PanelViewModel::startAll() {
    postToMain([](PanelViewModel& m) {
        m.setPermissionHint(m.permissionCheckHint());
        m.setLogs(services::startAllPreparingText(m.zeltoPanelRoot()));
        m.updateErrorSummary();
    });
    runInBackground(services::startAllSteps);
}
