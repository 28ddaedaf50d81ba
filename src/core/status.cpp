#include "core/status.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"

#include <QFile>

#include <array>
#include <csignal>

namespace {

QString runningText(bool running) {
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
    return QStringLiteral("=== 服务状态 ===\nMySQL: ") + runningText(status.mysqlRunning) +
           QStringLiteral("\nPHP Web: ") + runningText(status.phpWebRunning) +
           QStringLiteral("\nMySQL Web: ") + runningText(status.phpMyAdminRunning) +
           QStringLiteral("\n目录: ") + panelRoot + QStringLiteral("\n");
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

// --- PanelViewModel: status probing and diagnostics ---

void PanelViewModel::refreshStatus() {
    setPermissionHint(permissionCheckHint());
    const bool m = isMariaDBRunning();
    const bool w = isPhpWebRunning();
    const bool a = isPhpMyAdminRunning();
    setMysqlRunning(m);
    setPhpWebRunning(w);
    setPhpMyAdminRunning(a);
    setLogs(statusText(m_status, zeltoPanelRoot()));
    updateErrorSummary();
}

void PanelViewModel::updateErrorSummary() {
    setErrorSummary(errorSummaryOf(m_logs));
}

QString PanelViewModel::permissionCheckHint() const {
    const QString dirs[] = {runtimeDir(), cfgDir(), mysqlDir(), mysqlDataDir()};
    for (const QString& dir : dirs) {
        if (!isDirectory(dir))
            return missingDirectoryHint(dir);
        const QString probe = dir + QStringLiteral("/.zelto-write-test");
        QString error = tryWrite(probe, QStringLiteral("ok"));
        if (error.isEmpty()) {
            QFile file(probe);
            if (!file.remove())
                error = file.errorString();
        }
        if (!error.isEmpty())
            return notWritableHint(dir, error);
    }
    return {};
}

bool PanelViewModel::isMariaDBRunning() const {
    if (const std::optional<pid_t> pid = mysqlPidFromPort3306(); pid && *pid >= 1)
        return isProcessAlive(*pid);
    // pgrep reads a regular expression: the path is escaped so that a root such as
    // "/srv/c++" matches its own server.
    return isRunning({m_platform.tools.pgrep, QStringLiteral("-f"),
                      escapeExtendedRegex(mysqlDir() + QStringLiteral("/bin/mysqld"))});
}

bool PanelViewModel::isPidFileServerRunning(const QString& pidPath) const {
    const std::optional<QString> text = readTextFile(pidPath);
    if (!text)
        return false;
    const QString trimmed = trimmedText(*text);
    if (trimmed.isEmpty())
        return false;
    const std::optional<qint32> pid = parseProcessId(trimmed);
    if (!pid || *pid <= 0)
        return false;
    return isProcessAlive(*pid);
}

bool PanelViewModel::isPhpWebRunning() const {
    return isPidFileServerRunning(phpWebPidPath());
}

bool PanelViewModel::isPhpMyAdminRunning() const {
    return isPidFileServerRunning(phpMyAdminPidPath());
}
