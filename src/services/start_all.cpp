#include "services/start_all.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/log_tail.h"
#include "platform/port_holder.h"
#include "platform/process.h"
#include "services/database.h"
#include "services/service_readiness.h"
#include "services/service_watch.h"
#include "services/stop_all.h"
#include "services/web_services.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <utility>

#include <csignal>

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
                           const QString& panelRoot, bool stopped) {
    const QStringList entries = core::trimmedTexts(reports);
    return PanelViewModel::buildLogBlock(
        stopped ? QStringLiteral("=== 启动已中止 ===") : QStringLiteral("=== 启动完成 ==="),
        entries,
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

// Ends the servers that pattern matches with the kill tool, and returns those it signals. The
// tool reads every process of the machine, which costs a few milliseconds before a launch: it
// is not started when no process that the panel may signal matches, for then it would end
// nothing.
std::vector<pid_t> endRunningServers(PanelViewModel& model, const QString& pattern,
                                     std::vector<Error>* warnings) {
    std::vector<pid_t> running = platform::signallableProcessesMatching(pattern);
    if (!running.empty())
        reportIgnored(model.killMatching(pattern), "end running servers", warnings);
    return running;
}

// Publishes a run's stages in order, in turn with the window's status probes. Until the
// servers are up, the stages are probed at the lowest priority, so that probing the status (a
// few milliseconds of processor time) holds up neither a launch nor a server coming up. As
// with a refresh queued on the main thread, a stage's status may already show steps that came
// after it. Nothing here waits: the run goes on while its stages wait for their turn.
class StagePublisher {
public:
    explicit StagePublisher(PanelViewModel& model) : m_model(model) {}

    // Runs job once the stages and probes queued before it have run.
    void then(std::function<void(PanelViewModel&)> job) {
        m_model.runInProbeTurn(std::move(job), priority());
    }

    // A stage: the status first (it writes a log of its own), then the stage's text, then
    // the summary of that text; then whatever else the stage publishes. queued is called once
    // the stage is queued on the main thread.
    void stage(const QString& text, const std::function<void(PanelViewModel&)>& after = {},
               std::function<void()> queued = {}) {
        m_model.probeInTurn(
            [text, after](PanelViewModel& m, const StatusSnapshot& snapshot) {
                m.publishStatus(snapshot);
                m.setLogs(text);
                m.updateErrorSummary();
                if (after)
                    after(m);
            },
            priority(), std::move(queued));
    }

    // The stages queued from here on are probed at the usual priority: the servers are up, or
    // will not come up.
    void serversUp() { m_yielding = false; }

private:
    platform::JobPriority priority() const {
        return m_yielding ? platform::JobPriority::Lowest : platform::JobPriority::Normal;
    }

    PanelViewModel& m_model;
    bool m_yielding = true;
};

// Why a launch was left out: a stop was asked for before it.
const QString kNotLaunched = QStringLiteral("启动过程中收到停止请求，未启动");

// The launch unless stopped, else a launch left out; and its report.
template <class T, class Launch>
std::pair<Result<T>, QString> launchUnlessStopped(bool stopped, Service service, Launch launch) {
    if (stopped)
        return {std::unexpected(startStopped(kNotLaunched)),
                startStoppedEntry(serviceLabel(service), kNotLaunched)};
    Result<T> launched = launch();
    QString report = core::failureText(launched);
    return {std::move(launched), std::move(report)};
}

// The worker's part: every step runs whatever the earlier ones reported, until a stop pressed
// after this start (in this panel or another) asks it to end: then nothing more is launched and
// nothing is waited for, and the final report says so. The stop that asked ends what was
// launched.
void startAllSteps(PanelViewModel& model, platform::SerialQueue::Turn runs, qint64 pressedAt) {
    StagePublisher publisher(model);
    // The opening: the permission hint and the stage-0 text, published on the main thread.
    // Like the opening on the main thread that it stands for, it may look at the directories
    // before or after they are made below.
    publisher.then([](PanelViewModel& m) {
        m.postToMain([hint = m.permissionCheckHint(),
                      text = startAllPreparingText(m.zeltoPanelRoot())](PanelViewModel& mm) {
            mm.setPermissionHint(hint);
            mm.setLogs(text);
            mm.updateErrorSummary();
        });
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
    auto turn = std::make_shared<const platform::FileLock>(model.cfgDir() +
                                                           QStringLiteral("/.start-stop.lock"));
    // The servers this start ends are not stopping by themselves.
    for (const Service service : kServices)
        recordIntendedStop(model.cfgDir(), service);
    const auto stopAsked = [marker = stopRequestPath(model), pressedAt] {
        return stopRequestedSince(marker, pressedAt);
    };
    // A database server that this start ends has let go of the data directory before the new
    // one is launched: a new server that found its files still locked would retry for half a
    // minute, and the old one's last answers on the port would look like the new one's. The
    // PHP servers' kill, whose pattern cannot match the database server, waits until the
    // database server, the slowest to come up, has been launched.
    const QString databasePattern = serviceProcessPattern(Service::Database, mysqlDir);
    const std::vector<pid_t> ending = endRunningServers(model, databasePattern, &outcome.warnings);
    platform::waitUntilEnded(
        ending, std::chrono::milliseconds(model.config().databaseReleaseMilliseconds), stopAsked);
    // One that is still there is killed, as a crash would end it (the new server recovers its
    // tables): a second server must never run on the same data directory.
    if (std::ranges::any_of(ending, platform::isProcessAlive) && !stopAsked()) {
        std::vector<pid_t> late;
        for (const pid_t pid : platform::signallableProcessesMatching(databasePattern)) {
            if (std::ranges::count(ending, pid) == 0 || !platform::sendSignal(pid, SIGKILL))
                continue;
            late.push_back(pid);
            outcome.warnings.push_back(Error{
                QStringLiteral("MySQL: 数据库服务器 (pid %1) 未按时退出，已强制结束").arg(pid),
                mysqlDir, QStringLiteral("kill"), 0, ErrorKind::TimedOut});
        }
        platform::waitUntilEnded(late, kPortReleaseLimit, stopAsked);
    }

    const QString defaultsFile = model.mysqlCnfPath();
    // Rewritten before every start, so a flush to disk, which would hold up the launch by a
    // millisecond or more, keeps nothing safe that the next start would not write again.
    const Result<> written =
        platform::writeTextAtomicallyUnsynced(defaultsFile, mysqlOptionFileText(mysqlDir));
    const QString w = core::failureText(written);
    const Result<platform::ChildExit> initialized = model.initializeMysql(defaultsFile);
    const QString i = core::processReportText(initialized);
    const QString databaseStage =
        startAllStageText({w, i}, serviceLabel(Service::Database), model.zeltoPanelRoot());

    // What each launch wrote to its log from here on is its own.
    const qint64 databaseLogOffset = platform::fileSizeOf(model.mysqlErrorLogPath());
    // The database server, the slowest to come up, is launched before anything else is
    // asked of the processor, the stage's status included.
    bool stopped = stopAsked();
    const auto [launched, mysqld] = launchUnlessStopped<pid_t>(
        stopped, Service::Database, [&] { return model.launchMysql(defaultsFile); });
    publisher.stage(databaseStage);
    std::vector<LaunchedServer> servers;
    if (launched)
        servers.push_back({Service::Database, databaseLogOffset, 0});
    publisher.stage(
        startAllStageText({w, i, mysqld}, serviceLabel(Service::Site), model.zeltoPanelRoot()));

    // The PHP servers must find their ports free, so the servers the kill ends are waited for
    // before they are launched (the database's own start waits for its own).
    stopped = stopped || stopAsked();
    if (!stopped)
        platform::waitUntilEnded(endRunningServers(model,
                                                   serviceProcessPattern(Service::Site, mysqlDir),
                                                   &outcome.warnings),
                                 kPortReleaseLimit, stopAsked);
    stopped = stopped || stopAsked();
    const auto [site, p] = launchUnlessStopped<LaunchedServer>(
        stopped, Service::Site, [&] { return model.launchWebServer(Service::Site); });
    if (site)
        servers.push_back(*site);
    publisher.stage(startAllStageText({w, i, mysqld, p}, serviceLabel(Service::PhpMyAdmin),
                                      model.zeltoPanelRoot()));

    stopped = stopped || stopAsked();
    const auto [admin, a] = launchUnlessStopped<LaunchedServer>(
        stopped, Service::PhpMyAdmin, [&] { return model.launchWebServer(Service::PhpMyAdmin); });
    if (admin)
        servers.push_back(*admin);

    // The three come up at the same time; each one's readiness (or why not) follows its own
    // report in the final block.
    QStringList ready(int(kServices.size()));
    std::array<std::optional<Error>, kServices.size()> notReady;
    for (ServiceReadiness& r : awaitLaunchedServers(model, servers, stopAsked)) {
        stopped = stopped || (r.cause && r.cause->kind == ErrorKind::Cancelled);
        ready[int(serviceIndex(r.service))] = r.entry;
        notReady[serviceIndex(r.service)] = std::move(r.cause);
    }
    const auto readyOf = [&](Service service) { return ready[int(serviceIndex(service))]; };

    std::optional<Error> initFailure = failureOf(initialized);
    if (!initFailure && !initialized->exitedCleanly())
        initFailure =
            toolFailure(initialized->exitStatus, i, QString(), QStringLiteral("mysql_install_db"))
                .error();
    const auto causeOf = [&](Service service) { return notReady[serviceIndex(service)]; };
    outcome.services = {
        serviceOutcomeOf(Service::Database, {failureOf(written), initFailure, failureOf(launched),
                                             causeOf(Service::Database)}),
        serviceOutcomeOf(Service::Site, {failureOf(site), causeOf(Service::Site)}),
        serviceOutcomeOf(Service::PhpMyAdmin, {failureOf(admin), causeOf(Service::PhpMyAdmin)}),
    };
    outcome.succeeded = allSucceeded(outcome.services);

    outcome.report = startAllFinalBlock({w, i, mysqld, readyOf(Service::Database), p,
                                         readyOf(Service::Site), a, readyOf(Service::PhpMyAdmin)},
                                        model.phpBinDisplay(), model.zeltoPanelRoot(), stopped);
    const QString report = outcome.report;
    publisher.serversUp();
    // The final report is queued on the main thread before the turn passes to another run,
    // of this process (runs) or of another (turn, whose last holder the stage becomes).
    publisher.stage(
        report, [outcome](PanelViewModel& m) { m.finish(outcome); },
        [runs = std::move(runs), lock = std::move(turn)]() mutable {
            lock.reset();
            runs.end();
        });
}

} // namespace

} // namespace services

// --- PanelViewModel: start-all ---

void PanelViewModel::startAll() {
    // A stop pressed after this moment overtakes the run.
    const qint64 pressedAt = services::stopRequestClock();
    runStartStop([pressedAt](PanelViewModel& model, platform::SerialQueue::Turn runs) {
        services::startAllSteps(model, std::move(runs), pressedAt);
    });
}
