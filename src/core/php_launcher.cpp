#include "core/php_launcher.h"

#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/process.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

const std::array<QString, 5> kArchKeywords = {
    QStringLiteral("bad cpu type"), QStringLiteral("exec format error"), QStringLiteral("cpu type"),
    QStringLiteral("arch"),         QStringLiteral("architecture"),
};

// The version number of a name such as "PHP8.4", or nothing for any other name.
std::optional<std::pair<int, int>> phpVersionNumber(const QString& name) {
    static const QRegularExpression pattern(QStringLiteral("^PHP(\\d{1,4})\\.(\\d{1,4})$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    return std::pair{match.captured(1).toInt(), match.captured(2).toInt()};
}

QString errnoText(int code) {
    return QString::fromStdString(std::error_code(code, std::generic_category()).message());
}

} // namespace

QString phpArchMismatchNote(const QString& phpPath, const QString& architecture) {
    return QStringLiteral("PHP CPU 类型不匹配: ") + phpPath + QStringLiteral("\n当前机器架构: ") +
           architecture +
           QStringLiteral("\n请切换到对应架构的 runtime（Apple Silicon: arm64 / Intel: x86_64）");
}

bool looksLikeArchMismatch(const QString& fullDescription) {
    const QString lower = fullDescription.toLower();
    for (const QString& keyword : kArchKeywords) {
        if (lower.contains(keyword))
            return true;
    }
    return false;
}

QString phpInterpreterPath(const QString& panelRoot, const QString& version) {
    return panelRoot + QStringLiteral("/runtime") + QStringLiteral("/php/") + version +
           QStringLiteral("/bin/php");
}

QStringList phpVersionOrder(const QStringList& preferred, const QStringList& found) {
    struct Version {
        QString name;
        std::pair<int, int> number;
    };
    std::vector<Version> versions;
    const auto add = [&](const QString& name) {
        const std::optional<std::pair<int, int>> number = phpVersionNumber(name);
        if (number && std::none_of(versions.begin(), versions.end(),
                                   [&](const Version& v) { return v.name == name; }))
            versions.push_back({name, *number});
    };
    for (const QString& name : preferred)
        add(name);
    for (const QString& name : found)
        add(name);
    std::stable_sort(versions.begin(), versions.end(),
                     [](const Version& a, const Version& b) { return a.number > b.number; });
    QStringList order;
    for (const Version& v : versions)
        order.push_back(v.name);
    return order;
}

// --- PanelViewModel: PHP server launcher ---

const QStringList PanelViewModel::phpCandidates = {
    QStringLiteral("PHP8.5"), QStringLiteral("PHP8.2"), QStringLiteral("PHP7.3")};

QStringList PanelViewModel::phpBinCandidates() const {
    const QString root = zeltoPanelRoot();
    const QStringList shipped =
        QDir(root + QStringLiteral("/runtime/php")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList found;
    for (const QString& version : phpVersionOrder(phpCandidates, shipped)) {
        const QString path = phpInterpreterPath(root, version);
        if (isExecutableFile(path))
            found.push_back(path);
    }
    return found;
}

QString PanelViewModel::phpBinDisplay() const {
    const QStringList candidates = phpBinCandidates();
    if (!candidates.isEmpty())
        return candidates.front();
    return phpInterpreterPath(zeltoPanelRoot(), phpCandidates.front());
}

std::optional<QString> PanelViewModel::phpArchMismatchMessage(const QString& phpPath,
                                                              const LaunchError& error) const {
    if (!looksLikeArchMismatch(error.fullDescription))
        return std::nullopt;
    const QString arch =
        m_platform.machineArchitecture ? m_platform.machineArchitecture() : QStringLiteral("未知");
    return phpArchMismatchNote(phpPath, arch);
}

QString PanelViewModel::launchPhpServer(const QString& port, const QString& documentRoot,
                                        const QString& pidPath, const QString& logPath,
                                        const QString& label) {
    const QString prefix = label + QStringLiteral(": ");
    const QStringList candidates = phpBinCandidates();
    if (candidates.isEmpty())
        return prefix + QStringLiteral("未找到可执行的 PHP");

    for (const QString& dir : {cfgDir(), runtimeDir()}) {
        const QString error = createDirectories(dir);
        if (!error.isEmpty())
            return prefix + error;
    }

    // Creating the log when missing and positioning at its end in one step; the server
    // inherits this descriptor as its standard output and error.
    const int logFd = ::open(QFile::encodeName(logPath).constData(),
                             O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (logFd < 0)
        return prefix + errnoText(errno);

    const QStringList args = {QStringLiteral("-S"), QStringLiteral("0.0.0.0:") + port,
                              QStringLiteral("-t"), documentRoot};
    const QString workingDirectory = zeltoPanelRoot();
    QString lastFailure;
    for (const QString& php : candidates) {
        LaunchError error;
        const DetachedChild child = spawnDetached(php, args, workingDirectory, logFd);
        if (child.launchError) {
            error = *child.launchError;
        } else {
            const QString writeError = tryWrite(pidPath, QString::number(child.pid));
            if (writeError.isEmpty()) {
                ::close(logFd);
                return {};
            }
            // The server runs on without a record; the pattern kill of stop-all ends it. The
            // description names the file, as the system's own file errors do.
            error.description = writeError + QStringLiteral(" (") + pidPath + QLatin1Char(')');
            error.fullDescription = error.description;
        }
        if (const std::optional<QString> note = phpArchMismatchMessage(php, error)) {
            postToMain([note = *note](PanelViewModel& model) {
                model.setLogs(model.logs() + QStringLiteral("\n") + note + QStringLiteral("\n"));
            });
            lastFailure = *note;
        } else {
            lastFailure = prefix + error.description;
        }
    }
    ::close(logFd);
    return lastFailure.isEmpty() ? prefix + QStringLiteral("启动失败") : lastFailure;
}
