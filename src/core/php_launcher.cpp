#include "core/php_launcher.h"

#include "platform/log_tail.h"

#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/process.h"

#include <QDir>
#include <QRegularExpression>

#include <algorithm>
#include <array>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace core {

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
    return panelRoot + QStringLiteral("/runtime/php/") + version + QStringLiteral("/bin/php");
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

} // namespace core

// --- PanelViewModel: PHP server launcher ---

const QStringList PanelViewModel::phpCandidates = {
    QStringLiteral("PHP8.5"), QStringLiteral("PHP8.2"), QStringLiteral("PHP7.3")};

QStringList PanelViewModel::phpBinCandidates() const {
    const QString root = zeltoPanelRoot();
    const QStringList shipped =
        QDir(root + QStringLiteral("/runtime/php")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QStringList found;
    for (const QString& version : core::phpVersionOrder(phpCandidates, shipped)) {
        const QString path = core::phpInterpreterPath(root, version);
        if (platform::isExecutableFile(path))
            found.push_back(path);
    }
    return found;
}

QString PanelViewModel::phpBinDisplay() const {
    const QStringList candidates = phpBinCandidates();
    if (!candidates.isEmpty())
        return candidates.front();
    return core::phpInterpreterPath(zeltoPanelRoot(), phpCandidates.front());
}

std::optional<QString> PanelViewModel::phpArchMismatchMessage(const QString& phpPath,
                                                              const QString& detail) const {
    if (!core::looksLikeArchMismatch(detail))
        return std::nullopt;
    const QString arch =
        m_platform.machineArchitecture ? m_platform.machineArchitecture() : QStringLiteral("未知");
    return core::phpArchMismatchNote(phpPath, arch);
}

QString PanelViewModel::launchPhpServer(Service service, LaunchedServer& launched) {
    Result<LaunchedServer> spawned = spawnPhpServer(service);
    if (!spawned)
        return spawned.error().message;
    launched = *spawned;
    return {};
}

Result<LaunchedServer> PanelViewModel::spawnPhpServer(Service service) {
    const QString prefix = serviceLabel(service) + QStringLiteral(": ");
    // The error, with the report that names it in the place of its message.
    const auto reported = [&prefix](Error error) {
        error.message = prefix + error.message;
        return std::unexpected(std::move(error));
    };
    const QStringList candidates = phpBinCandidates();
    if (candidates.isEmpty())
        return failure(ErrorKind::NotFound, prefix + QStringLiteral("未找到可执行的 PHP"),
                       zeltoPanelRoot() + QStringLiteral("/runtime/php"));

    for (const QString& dir : {cfgDir(), runtimeDir()}) {
        if (Result<> made = platform::createDirectories(dir); !made)
            return reported(made.error());
    }

    // The server's own ini settings (for phpMyAdmin the loopback guard among them): without
    // them the server does not start.
    // The distribution's ini files come through a mirror without Xdebug's, which the site
    // server loads only while debugging is on.
    PhpIniOptions ini;
    ini.distributionDir = phpDistributionIniDir(candidates.front());
    ini.debugging = platform::entryExists(phpDebuggingMarkerPath());
    if (Result<> written = writePhpServerIniFiles(runtimeDir(), ini); !written)
        return reported(written.error());
    const QString preload = m_platform.tools.privilegedPortPreload;
    const QStringList environment = phpServerEnvironment(
        service == Service::PhpMyAdmin ? PhpServer::PhpMyAdmin : PhpServer::Site,
        !ini.distributionDir.isEmpty(), servicePort(service),
        phpServerWorkerCount(std::thread::hardware_concurrency()),
        static_cast<unsigned>(::geteuid()),
        !preload.isEmpty() && platform::pathExists(preload) ? preload : QString(),
        qEnvironmentVariable("LD_PRELOAD"));

    // Creating the log when missing and positioning at its end in one step; the server
    // inherits this descriptor as its standard output and error. What it writes from here on
    // is this launch's own.
    const QString logPath = serviceLogPath(service);
    const qint64 logOffset = platform::fileSizeOf(logPath);
    const Result<platform::FileDescriptor> log = platform::openForAppending(logPath);
    if (!log)
        return reported(log.error());

    const QStringList args = {QStringLiteral("-S"),
                              QStringLiteral("0.0.0.0:") + QString::number(servicePort(service)),
                              QStringLiteral("-t"), serviceDocumentRoot(service)};
    const QString workingDirectory = zeltoPanelRoot();
    // The last interpreter's failure, its report in the place of its message.
    std::optional<Error> lastFailure;
    for (const QString& php : candidates) {
        // The ini scan list is relative to the panel root: it must stay the working directory.
        Result<pid_t> child =
            platform::spawnDetached(php, args, workingDirectory, *log, environment);
        if (child) {
            // The pid file is written once the server is found ready (awaitLaunchedServers).
            return LaunchedServer{service, logOffset, *child};
        }
        lastFailure = child.error();
        const QString detail = platform::launchFailureDetail(child.error());
        if (const std::optional<QString> note = phpArchMismatchMessage(php, detail)) {
            postToMain([note = *note](PanelViewModel& model) {
                model.setLogs(model.logs() + QStringLiteral("\n") + note + QStringLiteral("\n"));
            });
            lastFailure->message = *note;
        } else {
            lastFailure->message = prefix + lastFailure->message;
        }
    }
    if (!lastFailure)
        return failure(ErrorKind::System, prefix + QStringLiteral("启动失败"));
    return std::unexpected(std::move(*lastFailure));
}
