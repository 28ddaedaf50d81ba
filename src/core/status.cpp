#include "core/status.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "services/php_debugging.h"
#include "services/web_services.h"

#include <QFile>

#include <array>
#include <functional>

namespace core {

namespace {

// The report's fixed words (the window's badges use their translations instead).
QString reportStateWord(bool running) {
    return running ? QStringLiteral("运行中") : QStringLiteral("已停止");
}

// "未找到" marks a missing program or folder ("未找到可执行的 PHP", "未找到目录 ...").
const std::array<QString, 10> kErrorKeywords = {
    QStringLiteral("error"),  QStringLiteral("Error"),  QStringLiteral("错误"),
    QStringLiteral("failed"), QStringLiteral("denied"), QStringLiteral("not found"),
    QStringLiteral("无法"),   QStringLiteral("失败"),   QStringLiteral("Operation not permitted"),
    QStringLiteral("未找到"),
};
constexpr int kSummaryLimit = 8;

bool isErrorLine(const QString& line) {
    for (const QString& keyword : kErrorKeywords) {
        if (line.contains(keyword, Qt::CaseSensitive))
            return true;
    }
    return false;
}

} // namespace

QString statusText(const ServiceStatus& status, const QString& panelRoot) {
    QString text = QStringLiteral("=== 服务状态 ===");
    for (const Service service : kServices) {
        text += QLatin1Char('\n') + QLatin1String(serviceInfo(service).statusLabel) +
                QStringLiteral(": ") + reportStateWord(status.isRunning(service));
    }
    return text + QStringLiteral("\n目录: ") + panelRoot + QStringLiteral("\n");
}

QString errorSummaryOf(const QString& log) {
    QStringList lines;
    for (const QString& line : log.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        if (isErrorLine(line)) {
            lines.push_back(line);
            if (lines.size() == kSummaryLimit)
                break;
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QString missingDirectoryHint(const QString& dir) {
    return QStringLiteral("权限提示: 目录不存在或不可访问 - ") + dir;
}

QString notWritableHint(const QString& dir, const QString& error) {
    return QStringLiteral("权限提示: 无法写入 ") + dir +
           QStringLiteral("\n请到 系统设置 -> 隐私与安全性 -> 完全磁盘访问，给 Xcode / App "
                          "开权限。\n错误: ") +
           error;
}

} // namespace core

// --- PanelViewModel: status probing and diagnostics ---

ServiceStatus PanelViewModel::refreshStatus() {
    publishStatus(probeStatus());
    return m_status;
}

StatusSnapshot PanelViewModel::probeStatus() const {
    StatusSnapshot snapshot;
    snapshot.permissionHint = permissionCheckHint();
    for (const Service service : kServices)
        snapshot.status.setRunning(service, isServiceRunning(service));
    for (const Service service : {Service::Site, Service::PhpMyAdmin}) {
        if (!snapshot.status.isRunning(service))
            continue;
        const std::optional<pid_t> pid = core::readPidFile(servicePidPath(service));
        if (!pid)
            continue;
        if (const std::optional<QString> note = services::phpServerNote(
                serviceLabel(service), *pid, services::phpServerProcesses(m_processes, *pid)))
            snapshot.serverNotes.push_back(*note);
    }
    snapshot.panelRoot = zeltoPanelRoot();
    snapshot.undoAvailable = platform::isDirectory(previousSiteGenerationDir());
    snapshot.phpDebugging = platform::entryExists(phpDebuggingMarkerPath());
    findUnexpectedStops(snapshot);
    return snapshot;
}

void PanelViewModel::publishStatus(const StatusSnapshot& snapshot) {
    m_statusGeneration += 1;
    setPermissionHint(snapshot.permissionHint);
    for (const Service service : kServices)
        setServiceRunning(service, snapshot.status.isRunning(service));
    QString text = core::statusText(m_status, snapshot.panelRoot);
    for (const QString& note : snapshot.serverNotes)
        text += note + QLatin1Char('\n');
    if (snapshot.phpDebugging)
        text += services::phpDebuggingStatusLine() + QLatin1Char('\n');
    setLogs(text);
    updateErrorSummary();
    setUndoAvailable(snapshot.undoAvailable);
    publishUnexpectedStops(snapshot);
    if (m_phpDebuggingSwitches == 0)
        setPhpDebuggingShown(snapshot.phpDebugging);
}

void PanelViewModel::updateErrorSummary() {
    setErrorSummary(core::errorSummaryOf(m_logs));
}

namespace {

// The hint for the first of the runtime's directories that is missing or whose check fails;
// check(dir) is the error that a write into dir meets, or empty.
QString firstDirectoryHint(const QStringList& dirs,
                           const std::function<QString(const QString&)>& check) {
    for (const QString& dir : dirs) {
        if (!platform::isDirectory(dir))
            return core::missingDirectoryHint(dir);
        if (const QString error = check(dir); !error.isEmpty())
            return core::notWritableHint(dir, error);
    }
    return {};
}

} // namespace

QString PanelViewModel::permissionAccessHint() const {
    return firstDirectoryHint({runtimeDir(), cfgDir(), mysqlDir(), mysqlDataDir()},
                              [](const QString& dir) {
                                  return core::failureText(platform::checkDirectoryWritable(dir));
                              });
}

QString PanelViewModel::permissionCheckHint() const {
    return firstDirectoryHint(
        {runtimeDir(), cfgDir(), mysqlDir(), mysqlDataDir()}, [](const QString& dir) {
            const QString probe = dir + QStringLiteral("/.zelto-write-test");
            // Atomic like tryWrite(), but not flushed to disk: a flush costs milliseconds per
            // directory and tells nothing more about whether the directory can be written.
            QString error = core::failureText(
                platform::writeTextAtomicallyUnsynced(probe, QStringLiteral("ok")));
            if (error.isEmpty()) {
                // Gone already: another probe of the same directory, at the same moment,
                // wrote and removed the same file.
                QFile file(probe);
                if (!file.remove() && file.exists())
                    error = file.errorString();
            }
            return error;
        });
}

bool PanelViewModel::isServiceRunning(Service service) const {
    switch (service) {
    case Service::Database:
        return isMariaDBRunning();
    case Service::Site:
    case Service::PhpMyAdmin:
        break;
    }
    return isPidFileServerRunning(servicePidPath(service));
}

bool PanelViewModel::isMariaDBRunning() const {
    // Any holder of the port answers as the first would: the table sees only processes whose
    // open files it may read, and those it may also signal.
    const auto port = quint16(m_config.databasePort);
    if (const std::optional<pid_t> pid = m_processes.rememberedHolderOfPort(port))
        return platform::isProcessAlive(*pid);
    // As pgrep -f: the path taken as an extended regular expression, escaped so that a root
    // such as "/srv/c++" matches its own server.
    const platform::ExtendedRegex server(
        core::escapeExtendedRegex(mysqlDir() + QStringLiteral("/bin/mysqld")));
    // Looking for a holder walks the kernel's whole connection table; the command lines,
    // needed when there is none, are read meanwhile on a worker (or after the search, when no
    // worker was free for them).
    platform::SideJob<bool> matching(m_platform.dispatcher.get(),
                                     [this, &server] { return m_processes.anyMatching(server); });
    if (const std::optional<pid_t> pid = m_processes.holderOfPort(port); pid && *pid >= 1)
        return platform::isProcessAlive(*pid);
    return matching.take();
}

bool PanelViewModel::isPidFileServerRunning(const QString& pidPath) const {
    // The process named, or the workers that outlived it: they still answer on the port.
    const std::optional<pid_t> pid = core::readPidFile(pidPath);
    return pid && services::phpServerServes(m_processes, *pid);
}

bool PanelViewModel::isPhpWebRunning() const {
    return isServiceRunning(Service::Site);
}

bool PanelViewModel::isPhpMyAdminRunning() const {
    return isServiceRunning(Service::PhpMyAdmin);
}
