#include "backup/snapshots.h"
#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "platform/files.h"
#include "update/download.h"
#include "update/extraction.h"
#include "update/generation.h"
#include "update/set_aside.h"
#include "update/site_job.h"
#include "update/site_root.h"
#include "update/sync.h"
#include "update/update_lock.h"

#include <QFile>
#include <QScopeGuard>

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace {

// Intermediate progress values within a stage: at most ten a second.
class IntermediateThrottle {
public:
    bool allow() {
        const auto now = std::chrono::steady_clock::now();
        if (m_last && now - *m_last < std::chrono::milliseconds(100))
            return false;
        m_last = now;
        return true;
    }

private:
    std::optional<std::chrono::steady_clock::time_point> m_last;
};

QString megabytes(qint64 bytes) {
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1);
}

const QString kRunningTitle = QStringLiteral("=== 更新/修复ZELTO文件 ===");
const QString kDoneTitle = QStringLiteral("=== 更新/修复完成 ===");
const QString kNote =
    QStringLiteral("说明: 识别站点根后 rsync 至 runtime/www：① 先同步站点文件（Data "
                   "第二轮单独合并，避免误删）；② 比对 Data/ 缺啥补啥，已有文件不覆盖。会先创建 "
                   "runtime/www/Data。");
const QString kNoSiteRoot =
    QStringLiteral("更新包中未识别到站点根（需存在 index.php，且为 www 子目录或 zip 根目录含 "
                   "include/LibZelto/Data 之一）");

std::unexpected<Error> failed(Error error) {
    error.message = QStringLiteral("更新/修复失败: ") + error.message;
    return std::unexpected(std::move(error));
}

// A failure whose report is the given text.
std::unexpected<Error> reported(const QString& text, ErrorKind kind = ErrorKind::System) {
    return failure(kind, text);
}

// error with the report text in the place of its message.
std::unexpected<Error> reported(Error error, QString text) {
    error.message = std::move(text);
    return std::unexpected(std::move(error));
}

QString downloadFailureText(const Error& error, int stallSeconds) {
    if (error.kind == ErrorKind::Stalled)
        return QStringLiteral("下载超时: %1 秒内未收到任何数据").arg(stallSeconds);
    return error.message;
}

} // namespace

// --- PanelViewModel: update/repair pipeline ---

void PanelViewModel::updateOrRepairFiles() {
    assertMainThread();
    // One job on the site in this process, and one in all processes (the window beside the
    // command line, or two of either).
    std::optional<update::UpdateLock> lock = beginSiteJob(*this, Operation::UpdateOrRepair);
    if (!lock)
        return;

    // Every text is built on the worker (the root's resolution may install the runtime), and
    // the final status probed there; the main thread only publishes, in the same order.
    runInBackground([lock = std::move(*lock)](PanelViewModel& model) mutable {
        const QString address = model.updateZipDownloadURL().toString(QUrl::FullyEncoded);
        model.postToMain([text = kRunningTitle + QStringLiteral("\n正在下载更新包...\n地址: ") +
                                 address + QStringLiteral("\n目录: ") +
                                 model.zeltoPanelRoot()](PanelViewModel& m) {
            m.setUpdateProgress(0.05);
            m.setUpdateProgressText(QStringLiteral("正在下载更新包"));
            m.setLogs(text);
            m.updateErrorSummary();
        });
        update::RunAftermath after;
        const Result<QString> run = model.downloadUpdateOnly(
            [&model, &address](double fraction, const QString& text) {
                model.postToMain(
                    [fraction, text,
                     details = QStringList{QStringLiteral("地址: ") + address,
                                           QStringLiteral("目录: ") + model.zeltoPanelRoot()}](
                        PanelViewModel& m) {
                        publishSiteJobStep(m, kRunningTitle, fraction, text, details);
                    });
            },
            after);
        QStringList entries;
        std::vector<Error> warnings;
        if (after.undoLost) {
            entries.push_back(update::undoLostText(*after.undoLost));
            warnings.push_back(after.undoLost->cause);
        }
        // The snapshot taken is named whatever the run's end; that there was nothing to keep
        // only where the site was changed.
        if (!after.snapshotEntry.isEmpty())
            entries.push_back(after.snapshotEntry);
        else if (run && !after.nothingToKeep.isEmpty())
            entries.push_back(after.nothingToKeep);
        finishSiteJob(model, Operation::UpdateOrRepair, run, std::move(lock), kDoneTitle,
                      {QStringLiteral("下载包: ") + model.updateArchivePath(), kNote}, entries,
                      std::move(warnings));
        // What the run set aside goes once its report is out, at the lowest priority: the
        // command line waits for it before it exits, a panel that quits first leaves it to
        // the next run.
        model.removeInBackground(std::move(after.setAside));
    });
}

QString PanelViewModel::updateArchivePath() const {
    return runtimeDir() + QStringLiteral("/zelto-update.zip");
}

QString PanelViewModel::updateExtractDir() const {
    return runtimeDir() + QStringLiteral("/update-extract");
}

void PanelViewModel::removeInBackground(QStringList setAside) {
    if (!setAside.isEmpty())
        m_platform.dispatcher->runAtLowestPriority(
            [trees = std::move(setAside)] { update::removeSetAside(trees); });
}

namespace {

// Whether the two paths lie on one file system (false when either cannot be asked).
bool onOneFileSystem(const QString& a, const QString& b) {
    struct stat sa {};
    struct stat sb {};
    return ::stat(QFile::encodeName(a).constData(), &sa) == 0 &&
           ::stat(QFile::encodeName(b).constData(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

} // namespace

Result<QString>
PanelViewModel::downloadUpdateOnly(const std::function<void(double, const QString&)>& progress,
                                   update::RunAftermath& after) {
    // Stage 0: paths and the runtime directory.
    const QString runtime = runtimeDir();
    const QString archivePath = updateArchivePath();
    const QString extractDir = updateExtractDir();
    if (Result<> made = platform::createDirectories(runtime); !made)
        return failed(made.error());
    const QString installedRoot = appBundleRoot()->toLocalFile();
    const QString target = installedRoot + QStringLiteral("/runtime/www");

    // What earlier runs set aside and a panel that quit left behind goes in the background.
    removeInBackground(update::claimSetAside(extractDir) +
                       update::claimSetAside(previousSiteGenerationPath(installedRoot)));

    // The site as it is now (but its data) is kept for an undo. The copy of links is made
    // while the archive arrives and unpacks (it reads only the site, which nothing else
    // changes meanwhile), and takes the place of the previous generation only when the
    // synchronisation is about to change the site; a run that ends before leaves the previous
    // generation as it was.
    const QString generation = previousSiteGenerationPath(installedRoot);
    const QString generationCopy = generation + QStringLiteral(".new");
    bool generationPlaced = false;
    const auto dropCopy = qScopeGuard([&] {
        if (!generationPlaced && platform::pathExists(generationCopy))
            reportIgnored(platform::removePath(generationCopy),
                          "remove an unused copy of the site");
    });
    Result<> copied;
    std::optional<std::jthread> copying; // joined before dropCopy runs
    // The copy works beside the download and the extraction, which the user waits for: it
    // runs at a lower priority and takes what those leave of the processor.
    if (platform::isDirectory(target))
        copying.emplace([&] {
            reportIgnored(platform::lowerThisThreadPriority(), "lower the copy's priority");
            copied = update::linkSiteCopy(target, generationCopy);
        });

    // The database as it is before the new code's first request, dumped while the archive
    // arrives and unpacks; the site changes only once the snapshot is in place.
    std::optional<Result<backup::TakenSnapshot>> snapshot;
    std::atomic<bool> snapshotDone{false};
    std::optional<std::jthread> snapshotting; // joined before anything is changed
    snapshotting.emplace([&] {
        snapshot = snapshotBeforeChange(backup::Reason::BeforeUpdate, {});
        snapshotDone = true;
    });

    // Between the stages' own values, the bytes received and the entries written move the
    // bar, a few times a second at most.
    IntermediateThrottle throttle;

    // Stage 1: download.
    progress(0.1, QStringLiteral("正在下载更新包"));
    const auto onBytes = [&](qint64 received, qint64 total) {
        if (total <= 0 || received <= 0 || received > total || !throttle.allow())
            return;
        progress(
            0.1 + 0.25 * double(received) / double(total),
            QStringLiteral("正在下载更新包 %1 / %2 MB").arg(megabytes(received), megabytes(total)));
    };
    if (Result<> downloaded = update::downloadToFile(updateZipDownloadURL(), archivePath,
                                                     m_config.downloadStallSeconds, onBytes);
        !downloaded)
        return reported(downloaded.error(),
                        QStringLiteral("更新下载失败: ") +
                            downloadFailureText(downloaded.error(), m_config.downloadStallSeconds));

    // Stage 2: a fresh extraction directory, the archive unpacked into it, artefacts removed.
    // The last run's extraction directory is set aside in one rename and removed after the
    // run.
    progress(0.35, QStringLiteral("正在解压更新包"));
    const Result<update::ArchiveSurvey> surveyed = update::surveyZipArchive(archivePath);
    const Result<QString> asideExtraction = update::setAside(extractDir);
    if (!asideExtraction)
        return failed(asideExtraction.error());
    if (!asideExtraction->isEmpty())
        after.setAside.push_back(*asideExtraction);
    if (Result<> made = platform::createDirectories(extractDir); !made)
        return failed(made.error());
    // The synchronisation writes the package's files once more where the site shares the
    // extraction's file system (the previous generation keeps the files they replace).
    const QString siteSide = platform::isDirectory(target) ? target : installedRoot;
    const int copies = onOneFileSystem(extractDir, siteSide) ? 2 : 1;
    const auto onEntries = [&](qint64 done, qint64 total) {
        if (total <= 0 || !throttle.allow())
            return;
        progress(0.35 + 0.25 * double(done) / double(total),
                 QStringLiteral("正在解压更新包 %1 / %2").arg(done).arg(total));
    };
    if (Result<> extracted =
            extractUpdateArchive(archivePath, extractDir, onEntries, &surveyed, copies);
        !extracted)
        return reported(
            extracted.error(),
            update::extractionFailureText(extracted.error().exitStatus, extracted.error().message));
    if (Result<> cleaned = update::removeMacOSXArtifacts(extractDir); !cleaned)
        return failed(cleaned.error());

    // Stage 3: the site root inside the package.
    progress(0.6, QStringLiteral("正在定位站点根目录"));
    const std::optional<QString> source = update::resolveUpdateWebSource(extractDir);
    if (!source)
        return reported(kNoSiteRoot, ErrorKind::NotFound);

    // Stage 4: synchronise into the installed root's site directory, once the database is
    // kept.
    if (snapshotting) {
        if (!snapshotDone)
            progress(0.7, QStringLiteral("正在备份数据库"));
        snapshotting.reset(); // joins
        if (!*snapshot) {
            Error e = snapshot->error();
            e.message = QStringLiteral("更新/修复失败: ") + e.message +
                        QStringLiteral("；站点未做任何更改");
            return std::unexpected(std::move(e));
        }
        if ((*snapshot)->snapshot)
            after.snapshotEntry =
                QStringLiteral("更新前的数据库快照: ") + (*snapshot)->snapshot->name;
        else
            after.nothingToKeep = QStringLiteral("数据库快照: ") + (*snapshot)->note;
    }
    progress(0.75, QStringLiteral("正在同步到 runtime/www"));
    if (Result<> made = platform::createDirectories(installedRoot + QStringLiteral("/runtime"));
        !made)
        return failed(made.error());
    if (copying) {
        copying.reset(); // joins
        Result<QString> old = copied ? update::replaceSiteGeneration(generationCopy, generation)
                                     : Result<QString>(std::unexpected(copied.error()));
        if (old) {
            generationPlaced = true;
            if (!old->isEmpty())
                after.setAside.push_back(*old);
            // The undo of this update names the snapshot taken before it.
            const QString record = updateSnapshotRecordPath();
            const bool taken = snapshot && *snapshot && (*snapshot)->snapshot;
            reportIgnored(taken ? platform::writeTextAtomically(record, (*snapshot)->snapshot->name)
                                : platform::removePath(record),
                          "record the update's snapshot");
        } else {
            // The update goes on without it, and cannot be undone. An older generation would
            // undo it to the site of before the update before, so it is withdrawn; only
            // where that fails too does the update stop, the site untouched.
            bool withdrew = false;
            if (platform::entryExists(generation)) {
                const Result<QString> withdrawn = update::setAside(generation);
                if (!withdrawn) {
                    Error e = withdrawn.error();
                    e.message = QStringLiteral("无法保留上一版站点: ") + e.path +
                                QStringLiteral(": ") + e.message;
                    return failed(std::move(e));
                }
                after.setAside.push_back(*withdrawn);
                withdrew = true;
            }
            after.undoLost = update::UndoLost{std::move(old.error()), withdrew};
        }
    }
    Result<> synced = syncDirectoryContents(
        *source, target, update::PackageData::DataOrLowercase,
        [&progress](int done, int total, const QString& message) {
            const double fraction =
                total == 0 ? 0.9 : std::min(0.75 + double(done) / double(total) * 0.15, 0.9);
            progress(fraction, QStringLiteral("正在同步到 www: ") + message);
        });
    if (!synced)
        return failed(std::move(synced.error()));

    // Stage 5: the site must be in place.
    progress(0.9, QStringLiteral("正在校验 runtime/www"));
    if (!platform::pathExists(target))
        return reported(QStringLiteral("更新完成，但未找到 ") + target, ErrorKind::NotFound);
    if (!platform::pathExists(target + QStringLiteral("/index.php")))
        return reported(
            QStringLiteral("同步后 runtime/www 缺少 index.php，请确认更新包完整。\n识别来源: ") +
                *source,
            ErrorKind::NotFound);

    progress(1.0, QStringLiteral("完成"));
    return QStringLiteral("已自动解压并同步到 runtime/www: ") + target +
           QStringLiteral("\n站点根: ") + *source;
}
