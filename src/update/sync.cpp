#include "update/sync.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "update/sync_output.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace update {

std::optional<QString> packageDataDirectory(const QString& source) {
    for (const char* name : {"Data", "data"}) {
        const QString candidate = source + QLatin1Char('/') + QLatin1String(name);
        if (platform::isDirectory(candidate))
            return candidate;
    }
    return std::nullopt;
}

} // namespace update

// --- PanelViewModel: directory synchronisation ---

QString PanelViewModel::runProcessWithTimeout(const QString& executable, const QStringList& args,
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
    return update::processOutcomeText(executable, timeoutSeconds,
                                      platform::runChild(executable, args, options));
}

QString
PanelViewModel::syncDirectoryContents(const QString& source, const QString& target,
                                      const std::function<void(int, int, const QString&)>& step) {
    if (Result<> made = platform::createDirectories(target); !made)
        return made.error().message;
    const QString targetData = target + QStringLiteral("/Data");
    if (Result<> made = platform::createDirectories(targetData); !made)
        return made.error().message;

    const std::optional<QString> packageData = update::packageDataDirectory(source);
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
    const QString sitePass = runProcessWithTimeout(rsync, siteArgs, limit);
    if (update::rsyncOutputIndicatesHardFailure(sitePass))
        return QStringLiteral("同步失败(主文件): ") + core::trimmedText(sitePass);

    if (packageData) {
        step(1, 2, QStringLiteral("第二步：比对 Data/ 内文件，缺的同步、已有不覆盖"));
        const QString dataPass =
            runProcessWithTimeout(rsync,
                                  {QStringLiteral("-a"), QStringLiteral("--ignore-existing"),
                                   *packageData + QLatin1Char('/'), targetData + QLatin1Char('/')},
                                  limit);
        if (update::rsyncOutputIndicatesHardFailure(dataPass))
            return QStringLiteral("同步失败(Data): ") + core::trimmedText(dataPass);
    }

    step(steps, steps, QStringLiteral("www 同步完成"));
    return {};
}
