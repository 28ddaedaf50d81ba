#include "update/sync.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "update/sync_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace update {

std::optional<QString> packageDataDirectory(const QString& source, PackageData which) {
    for (const char* name : {"Data", "data"}) {
        QString candidate = source + QLatin1Char('/') + QLatin1String(name);
        if (platform::isDirectory(candidate))
            return candidate;
        if (which == PackageData::DataOnly)
            break;
    }
    return std::nullopt;
}

} // namespace update

// --- PanelViewModel: directory synchronisation ---

Result<platform::ChildExit> PanelViewModel::runChildWithTimeout(const QString& executable,
                                                                const QStringList& args,
                                                                double timeoutSeconds) const {
    platform::ChildOptions options;
    options.out = platform::StdStream::Capture;
    options.err = platform::StdStream::Merge;
    // An infinite or absurd limit means none at all.
    if (std::isfinite(timeoutSeconds) && timeoutSeconds < 1e9) {
        const double ms = std::max(0.0, timeoutSeconds * 1000.0);
        options.timeout = std::chrono::milliseconds(std::llround(ms));
    }
    options.killGrace = std::chrono::milliseconds(m_config.killGraceMilliseconds);
    return platform::runChild(executable, args, options);
}

QString PanelViewModel::runProcessWithTimeout(const QString& executable, const QStringList& args,
                                              double timeoutSeconds) const {
    return update::processOutcomeText(executable, timeoutSeconds,
                                      runChildWithTimeout(executable, args, timeoutSeconds));
}

namespace {

// The failure of an rsync pass whose output (report) reads as a failed one: the tool could not
// be started, ran out of time, or ran and failed.
std::unexpected<Error> passFailure(const Result<platform::ChildExit>& run, QString report,
                                   const QString& rsync) {
    if (!run) {
        Error error = run.error();
        error.message = std::move(report);
        return std::unexpected(std::move(error));
    }
    if (run->timedOut)
        return failure(ErrorKind::TimedOut, std::move(report), rsync, QStringLiteral("rsync"));
    return toolFailure(run->exitStatus, std::move(report), rsync, QStringLiteral("rsync"));
}

} // namespace

Result<>
PanelViewModel::syncDirectoryContents(const QString& source, const QString& target,
                                      update::PackageData packageDataRule,
                                      const std::function<void(int, int, const QString&)>& step) {
    if (Result<> made = platform::createDirectories(target); !made)
        return made;
    const QString targetData = target + QStringLiteral("/Data");
    if (Result<> made = platform::createDirectories(targetData); !made)
        return made;

    const std::optional<QString> packageData =
        update::packageDataDirectory(source, packageDataRule);
    const int steps = packageData ? 2 : 1;
    const QString rsync = m_platform.tools.rsync;
    const double limit = m_config.syncTimeoutSeconds;

    step(0, steps, QStringLiteral("第一步：同步站点文件（Data 在第二轮逐文件补缺失）"));
    // The site's own data directory is neither replaced nor pruned by the first pass.
    QStringList siteArgs{QStringLiteral("-a"), QStringLiteral("--delete"),
                         QStringLiteral("--exclude=/Data/")};
    // "/Data/" matches directories only: a package "Data" that is a file or a link would make
    // rsync delete the site's data directory to put it in its place.
    if (platform::isNonDirectoryEntry(source + QStringLiteral("/Data")))
        siteArgs.push_back(QStringLiteral("--exclude=/Data"));
    siteArgs << source + QLatin1Char('/') << target + QLatin1Char('/');
    const Result<platform::ChildExit> siteRun = runChildWithTimeout(rsync, siteArgs, limit);
    const QString sitePass = update::processOutcomeText(rsync, limit, siteRun);
    if (update::rsyncOutputIndicatesHardFailure(sitePass))
        return passFailure(
            siteRun, QStringLiteral("同步失败(主文件): ") + core::trimmedText(sitePass), rsync);

    if (packageData) {
        step(1, 2, QStringLiteral("第二步：比对 Data/ 内文件，缺的同步、已有不覆盖"));
        const Result<platform::ChildExit> dataRun =
            runChildWithTimeout(rsync,
                                {QStringLiteral("-a"), QStringLiteral("--ignore-existing"),
                                 *packageData + QLatin1Char('/'), targetData + QLatin1Char('/')},
                                limit);
        const QString dataPass = update::processOutcomeText(rsync, limit, dataRun);
        if (update::rsyncOutputIndicatesHardFailure(dataPass))
            return passFailure(
                dataRun, QStringLiteral("同步失败(Data): ") + core::trimmedText(dataPass), rsync);
    }

    step(steps, steps, QStringLiteral("www 同步完成"));
    return {};
}
