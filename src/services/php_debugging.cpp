#include "services/php_debugging.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/php_ini.h"
#include "core/process_helpers.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "services/service_readiness.h"
#include "services/service_watch.h"

namespace services {

QString phpDebuggingStatusLine() {
    return QStringLiteral("PHP 调试 (Xdebug): 已开启，调试端口 127.0.0.1:%1（请求带 XDEBUG_TRIGGER "
                          "时连接编辑器）")
        .arg(kPhpDebuggerPort);
}

QString phpDebuggingTitle(bool on, bool succeeded) {
    if (!succeeded)
        return on ? QStringLiteral("=== PHP 调试开启失败 ===")
                  : QStringLiteral("=== PHP 调试关闭失败 ===");
    return on ? QStringLiteral("=== PHP 调试已开启 ===") : QStringLiteral("=== PHP 调试已关闭 ===");
}

Result<> checkXdebugLoads(const QString& php) {
    platform::ChildOptions options;
    options.out = platform::StdStream::Capture;
    options.err = platform::StdStream::Merge;
    options.timeout = std::chrono::seconds(30);
    // Without the distribution's ini files, so that its own Xdebug file does not decide.
    const Result<platform::ChildExit> run = platform::runChild(
        php,
        {QStringLiteral("-n"), QStringLiteral("-d"), QStringLiteral("zend_extension=xdebug.so"),
         QStringLiteral("-r"),
         QStringLiteral("echo extension_loaded('xdebug') ? 'xdebug loaded' : 'no xdebug';")},
        options);
    if (!run)
        return std::unexpected(run.error());
    const QString output = QString::fromUtf8(run->output).trimmed();
    if (run->exitedCleanly() && output.endsWith(QStringLiteral("xdebug loaded")))
        return {};
    return failure(ErrorKind::NotFound,
                   QStringLiteral("无法加载 Xdebug（请安装 php-xdebug，例如运行 "
                                  "scripts/install-deps.sh）: ") +
                       output.section(QLatin1Char('\n'), 0, 0),
                   php);
}

namespace {

// The worker's part, in the turn of start-all and stop-all across processes.
void phpDebuggingSteps(PanelViewModel& model, bool on) {
    const platform::FileLock turn(model.cfgDir() + QStringLiteral("/.start-stop.lock"));
    OperationOutcome outcome;
    outcome.operation = Operation::PhpDebugging;
    QStringList entries;
    std::optional<Error> cause;
    const QString marker = model.phpDebuggingMarkerPath();
    const bool wasOn = platform::pathExists(marker);
    // The switch's state is its marker file in the runtime.
    const auto setMarker = [&marker](bool state) {
        return state ? platform::writeTextAtomically(marker, QStringLiteral("xdebug\n"))
                     : platform::removePath(marker);
    };

    const auto switched = [&]() -> Result<> {
        if (on) {
            const QStringList php = model.phpBinCandidates();
            if (php.isEmpty())
                return failure(ErrorKind::NotFound, QStringLiteral("未找到可执行的 PHP"),
                               model.zeltoPanelRoot() + QStringLiteral("/runtime/php"));
            if (Result<> loads = checkXdebugLoads(php.front()); !loads)
                return loads;
            if (Result<> made = platform::createDirectories(model.cfgDir()); !made)
                return made;
        }
        return setMarker(on);
    }();
    if (!switched) {
        cause = switched.error();
        entries.push_back(QStringLiteral("PHP 调试: ") + switched.error().message);
    } else if (model.isServiceRunning(Service::Site)) {
        // The server reads its ini files when it starts.
        recordIntendedStop(model.cfgDir(), Service::Site);
        (void)model.stopPhpWeb(&outcome.warnings);
        const Result<LaunchedServer> launched = model.launchWebServer(Service::Site);
        if (!launched) {
            cause = launched.error();
            entries.push_back(launched.error().message);
        } else {
            ServiceReadiness ready = awaitLaunchedServers(model, {*launched}).front();
            if (ready.cause) {
                cause = ready.cause;
                entries.push_back(ready.entry);
            } else {
                entries.push_back(serviceLabel(Service::Site) +
                                  (on ? QStringLiteral(": 已重新启动，已加载 Xdebug")
                                      : QStringLiteral(": 已重新启动，未加载 Xdebug")));
            }
        }
        // The switch stays as the server runs (or last ran), not as it was asked.
        if (cause && wasOn != on) {
            reportIgnored(setMarker(wasOn), "put the debugging switch back");
            entries.push_back(wasOn ? QStringLiteral("PHP 调试: 仍为开启")
                                    : QStringLiteral("PHP 调试: 仍为关闭"));
        }
    } else {
        entries.push_back(serviceLabel(Service::Site) +
                          (on ? QStringLiteral(": 未运行，下次启动时加载 Xdebug")
                              : QStringLiteral(": 未运行，下次启动时不加载 Xdebug")));
    }
    if (on && !cause)
        entries.push_back(QStringLiteral("Xdebug: xdebug.mode=debug,develop，编辑器监听 "
                                         "127.0.0.1:%1；请求带 XDEBUG_TRIGGER（参数、Cookie "
                                         "或浏览器扩展）时开始调试；路径映射到 ")
                              .arg(kPhpDebuggerPort) +
                          model.serviceDocumentRoot(Service::Site));

    outcome.services = {serviceOutcomeOf(Service::Site, {cause})};
    outcome.succeeded = !cause;
    outcome.report = PanelViewModel::buildLogBlock(
        phpDebuggingTitle(on, outcome.succeeded), core::trimmedTexts(entries),
        {QStringLiteral("网站: ") + serviceHttpAddress(Service::Site),
         QStringLiteral("目录: ") + model.zeltoPanelRoot()});
    model.postToMain([snapshot = model.probeStatus(), outcome = std::move(outcome)](
                         PanelViewModel& m) { m.publishPhpDebuggingSwitched(snapshot, outcome); });
}

} // namespace

} // namespace services

// --- PanelViewModel: step debugging ---

QString PanelViewModel::phpDebuggingMarkerPath() const {
    return cfgDir() + QStringLiteral("/php-debugging");
}

void PanelViewModel::setPhpDebuggingShown(bool on) {
    assertMainThread();
    if (on != m_phpDebugging) {
        m_phpDebugging = on;
        Q_EMIT changed();
    }
}

void PanelViewModel::setPhpDebugging(bool on) {
    assertMainThread();
    // Shown as asked at once; the beats of the live status leave it until the switch is done.
    m_phpDebuggingSwitches += 1;
    setPhpDebuggingShown(on);
    runStartStop([on](PanelViewModel& model, const platform::SerialQueue::Turn&) {
        services::phpDebuggingSteps(model, on);
    });
}

void PanelViewModel::publishPhpDebuggingSwitched(const StatusSnapshot& snapshot,
                                                 const OperationOutcome& outcome) {
    assertMainThread();
    m_phpDebuggingSwitches -= 1;
    publishStatus(snapshot);
    setLogs(outcome.report);
    updateErrorSummary();
    finish(outcome);
}
