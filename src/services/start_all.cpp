#include "services/start_all.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/log_tail.h"
#include "platform/port_holder.h"
#include "services/database.h"
#include "services/service_readiness.h"
#include "services/web_services.h"

#include <array>
#include <functional>
#include <future>
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

// How long the PHP servers that a restart ends get to let go of their ports.
constexpr std::chrono::seconds kPortReleaseLimit{3};

// Queues a stage's publication: the status first (it writes a log of its own), then the
// stage's text, then the summary of that text. The status is probed and the text built here on
// the worker; the main thread only publishes.
void publishStage(PanelViewModel& model, const std::function<QString(PanelViewModel&)>& text) {
    model.postToMain([snapshot = model.probeStatus(), text = text(model)](PanelViewModel& m) {
        m.publishStatus(snapshot);
        m.setLogs(text);
        m.updateErrorSummary();
    });
}

// The worker's part: every step runs whatever the earlier ones reported.
void startAllSteps(PanelViewModel& model) {
    // The opening: the permission hint and the stage-0 text, prepared here (the first
    // resolution of the root may install the runtime) and published on the main thread.
    model.postToMain([hint = model.permissionCheckHint(),
                      text = startAllPreparingText(model.zeltoPanelRoot())](PanelViewModel& m) {
        m.setPermissionHint(hint);
        m.setLogs(text);
        m.updateErrorSummary();
    });

    OperationOutcome outcome;
    outcome.operation = Operation::StartAll;
    // Preparation whose failure the sequence goes past: a later step fails visibly if it
    // mattered.
    for (const QString& dir : {model.runtimeDir(), model.cfgDir(), model.mysqlDataDir()})
        reportIgnored(platform::createDirectories(dir), "create directory", &outcome.warnings);
    const QString mysqlDir = model.mysqlDir();
    // Two runs at the same time (two windows, two panels) take turns from here to their final
    // report, so that they end with one stack and each pid file names its live server.
    const platform::FileLock turn(model.cfgDir() + QStringLiteral("/.start-stop.lock"));
    // The PHP servers must find their ports free, so the servers the kill ends are waited for
    // before they are launched (the database's own start waits for its own).
    const std::vector<pid_t> ending =
        platform::signallableProcessesMatching(serviceProcessPattern(Service::Site, mysqlDir));
    // The two kills run at the same time (each costs a kill tool's run); both have returned
    // before anything is written or launched.
    std::future<Result<>> siteKill = std::async(std::launch::async, [&model, &mysqlDir] {
        return model.killMatching(serviceProcessPattern(Service::Site, mysqlDir));
    });
    const Result<> databaseKill =
        model.killMatching(serviceProcessPattern(Service::Database, mysqlDir));
    for (const Result<>& kill : {siteKill.get(), databaseKill})
        reportIgnored(kill, "end running servers", &outcome.warnings);

    const QString defaultsFile = model.mysqlCnfPath();
    const Result<> written =
        platform::writeTextAtomically(defaultsFile, mysqlOptionFileText(mysqlDir));
    const QString w = core::failureText(written);
    const Result<platform::ChildExit> initialized = model.initializeMysql(defaultsFile);
    const QString i = core::processReportText(initialized);
    publishStage(model, [w, i](PanelViewModel& m) {
        return startAllStageText({w, i}, serviceLabel(Service::Database), m.zeltoPanelRoot());
    });

    // What each launch wrote to its log from here on is its own.
    const qint64 databaseLogOffset = platform::fileSizeOf(model.mysqlErrorLogPath());
    const Result<pid_t> launched = model.launchMysql(defaultsFile);
    const QString mysqld = core::failureText(launched);
    std::vector<LaunchedServer> servers;
    if (launched)
        servers.push_back({Service::Database, databaseLogOffset, 0});
    publishStage(model, [w, i, mysqld](PanelViewModel& m) {
        return startAllStageText({w, i, mysqld}, serviceLabel(Service::Site), m.zeltoPanelRoot());
    });

    platform::waitUntilEnded(ending, kPortReleaseLimit);
    LaunchedServer site{Service::Site, 0, 0};
    const QString p = model.startPhpWeb(&site);
    if (site.pid > 0)
        servers.push_back(site);
    publishStage(model, [w, i, mysqld, p](PanelViewModel& m) {
        return startAllStageText({w, i, mysqld, p}, serviceLabel(Service::PhpMyAdmin),
                                 m.zeltoPanelRoot());
    });

    LaunchedServer admin{Service::PhpMyAdmin, 0, 0};
    const QString a = model.startPhpMyAdmin(&admin);
    if (admin.pid > 0)
        servers.push_back(admin);

    // The three come up at the same time; each one's readiness (or why not) follows its own
    // report in the final block.
    QStringList ready(int(kServices.size()));
    std::array<std::optional<Error>, kServices.size()> notReady;
    for (ServiceReadiness& r : awaitLaunchedServers(model, servers)) {
        ready[int(serviceIndex(r.service))] = r.entry;
        notReady[serviceIndex(r.service)] = std::move(r.cause);
    }
    const auto readyOf = [&](Service service) { return ready[int(serviceIndex(service))]; };

    std::optional<Error> initFailure = failureOf(initialized);
    if (!initFailure && !initialized->exitedCleanly())
        initFailure =
            Error{i, QString(), QStringLiteral("mysql_install_db"), initialized->exitStatus};
    const auto causeOf = [&](Service service) { return notReady[serviceIndex(service)]; };
    outcome.services = {
        serviceOutcomeOf(Service::Database, {failureOf(written), initFailure, failureOf(launched),
                                             causeOf(Service::Database)}),
        serviceOutcomeOf(Service::Site,
                         {reportedFailure(p, QStringLiteral("launch")), causeOf(Service::Site)}),
        serviceOutcomeOf(Service::PhpMyAdmin, {reportedFailure(a, QStringLiteral("launch")),
                                               causeOf(Service::PhpMyAdmin)}),
    };
    outcome.succeeded = allSucceeded(outcome.services);

    outcome.report = startAllFinalBlock({w, i, mysqld, readyOf(Service::Database), p,
                                         readyOf(Service::Site), a, readyOf(Service::PhpMyAdmin)},
                                        model.phpBinDisplay(), model.zeltoPanelRoot());
    model.postToMain(
        [snapshot = model.probeStatus(), outcome = std::move(outcome)](PanelViewModel& m) mutable {
            m.publishStatus(snapshot);
            m.setLogs(outcome.report);
            m.updateErrorSummary();
            m.finish(std::move(outcome));
        });
}

} // namespace

} // namespace services

// --- PanelViewModel: start-all ---

void PanelViewModel::startAll() {
    runInBackground(services::startAllSteps);
}
