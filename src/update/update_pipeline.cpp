#include "core/panel_view_model.h"
#include "platform/files.h"
#include "update/download.h"
#include "update/extraction.h"
#include "update/site_root.h"
#include "update/update_lock.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace {

// One update at a time in the whole process: every window's model shares the archive, the
// extraction directory and the site.
std::atomic<bool> g_updateRunning{false};

const QString kRunningTitle = QStringLiteral("=== 更新/修复ZELTO文件 ===");
const QString kDoneTitle = QStringLiteral("=== 更新/修复完成 ===");
const QString kAlreadyRunning = QStringLiteral("更新/修复正在进行中，请等待当前任务完成。");
const QString kNote =
    QStringLiteral("说明: 识别站点根后 rsync 至 runtime/www：① 先同步站点文件（Data "
                   "第二轮单独合并，避免误删）；② 比对 Data/ 缺啥补啥，已有文件不覆盖。会先创建 "
                   "runtime/www/Data。");
const QString kNoSiteRoot =
    QStringLiteral("更新包中未识别到站点根（需存在 index.php，且为 www 子目录或 zip 根目录含 "
                   "include/LibZelto/Data 之一）");

std::unexpected<Error> failed(const Error& error) {
    return failure(QStringLiteral("更新/修复失败: ") + error.message, error.path, error.call,
                   error.code);
}

// A failure whose report is the given text.
std::unexpected<Error> reported(const QString& text) {
    return failure(text);
}

// A second request while a run is under way changes nothing but the log.
void refuseSecondRun(PanelViewModel& model) {
    model.postToMain([](PanelViewModel& m) {
        m.setLogs(kAlreadyRunning);
        m.updateErrorSummary();
        OperationOutcome outcome;
        outcome.operation = Operation::UpdateOrRepair;
        outcome.report = kAlreadyRunning;
        m.finish(std::move(outcome));
    });
}

QString downloadFailureText(const Error& error, int stallSeconds) {
    if (error.call == QLatin1String(update::kStalledCall))
        return QStringLiteral("下载超时: %1 秒内未收到任何数据").arg(stallSeconds);
    return error.message;
}

} // namespace

// --- PanelViewModel: update/repair pipeline ---

void PanelViewModel::updateOrRepairFiles() {
    assertMainThread();
    if (g_updateRunning.exchange(true)) {
        refuseSecondRun(*this);
        return;
    }
    // ... and one in all processes: the window beside the command line, or two of either.
    update::UpdateLock lock = update::UpdateLock::acquire(runtimeDir());
    if (lock.state() == update::UpdateLock::State::Busy) {
        g_updateRunning = false;
        refuseSecondRun(*this);
        return;
    }

    postToMain([](PanelViewModel& model) {
        model.setUpdateProgress(0.05);
        model.setUpdateProgressText(QStringLiteral("正在下载更新包"));
        model.setLogs(kRunningTitle + QStringLiteral("\n正在下载更新包...\n地址: ") +
                      model.updateZipDownloadURL().toString(QUrl::FullyEncoded) +
                      QStringLiteral("\n目录: ") + model.zeltoPanelRoot());
        model.updateErrorSummary();
    });

    runInBackground([lock](PanelViewModel& model) mutable {
        const Result<QString> run = model.downloadUpdateOnly([&model](double fraction,
                                                                      const QString& text) {
            model.postToMain([fraction, text](PanelViewModel& m) {
                m.setUpdateProgress(fraction);
                m.setUpdateProgressText(text);
                const int percent = static_cast<int>(std::trunc(fraction * 100.0));
                m.setLogs(buildLogBlock(kRunningTitle,
                                        {text, QStringLiteral("进度: ") + QString::number(percent) +
                                                   QStringLiteral("%")},
                                        {QStringLiteral("地址: ") +
                                             m.updateZipDownloadURL().toString(QUrl::FullyEncoded),
                                         QStringLiteral("目录: ") + m.zeltoPanelRoot()}));
                m.updateErrorSummary();
            });
        });
        OperationOutcome outcome;
        outcome.operation = Operation::UpdateOrRepair;
        outcome.succeeded = run.has_value();
        const QString report = run ? *run : run.error().message;
        model.postToMain([report, outcome = std::move(outcome),
                          lock = std::move(lock)](PanelViewModel& m) mutable {
            m.refreshStatus();
            m.setUpdateProgress(1.0);
            m.setUpdateProgressText(QStringLiteral("完成"));
            outcome.report =
                buildLogBlock(kDoneTitle, {report},
                              {QStringLiteral("目录: ") + m.zeltoPanelRoot(),
                               QStringLiteral("下载包: ") + m.updateArchivePath(), kNote});
            m.setLogs(outcome.report);
            m.updateErrorSummary();
            // Only once the report is out may a new run start, so that its publications follow
            // this run's last one.
            g_updateRunning = false;
            lock = {}; // released here, before anyone learns that the run has ended
            m.finish(std::move(outcome));
        });
    });
}

QString PanelViewModel::updateArchivePath() const {
    return runtimeDir() + QStringLiteral("/zelto-update.zip");
}

QString PanelViewModel::updateExtractDir() const {
    return runtimeDir() + QStringLiteral("/update-extract");
}

Result<QString>
PanelViewModel::downloadUpdateOnly(const std::function<void(double, const QString&)>& progress) {
    // Stage 0: paths and the runtime directory.
    const QString runtime = runtimeDir();
    const QString archivePath = updateArchivePath();
    const QString extractDir = updateExtractDir();
    if (Result<> made = platform::createDirectories(runtime); !made)
        return failed(made.error());

    // Stage 1: download.
    progress(0.1, QStringLiteral("正在下载更新包"));
    if (Result<> downloaded = update::downloadToFile(updateZipDownloadURL(), archivePath,
                                                     m_config.downloadStallSeconds);
        !downloaded)
        return reported(QStringLiteral("更新下载失败: ") +
                        downloadFailureText(downloaded.error(), m_config.downloadStallSeconds));

    // Stage 2: a fresh extraction directory, the archive unpacked into it, artefacts removed.
    progress(0.35, QStringLiteral("正在解压更新包"));
    if (Result<> removed = platform::removePath(extractDir); !removed)
        return failed(removed.error());
    if (Result<> made = platform::createDirectories(extractDir); !made)
        return failed(made.error());
    if (std::optional<QString> message = unzipUpdateArchive(archivePath, extractDir))
        return reported(*message);
    if (Result<> cleaned = update::removeMacOSXArtifacts(extractDir); !cleaned)
        return failed(cleaned.error());

    // Stage 3: the site root inside the package.
    progress(0.6, QStringLiteral("正在定位站点根目录"));
    const std::optional<QString> source = update::resolveUpdateWebSource(extractDir);
    if (!source)
        return reported(kNoSiteRoot);

    // Stage 4: synchronise into the installed root's site directory.
    progress(0.75, QStringLiteral("正在同步到 runtime/www"));
    const QString installedRoot = appBundleRoot()->toLocalFile();
    const QString target = installedRoot + QStringLiteral("/runtime/www");
    if (Result<> made = platform::createDirectories(installedRoot + QStringLiteral("/runtime"));
        !made)
        return failed(made.error());
    const QString syncError = syncDirectoryContents(
        *source, target, [&progress](int done, int total, const QString& message) {
            const double fraction =
                total == 0 ? 0.9 : std::min(0.75 + double(done) / double(total) * 0.15, 0.9);
            progress(fraction, QStringLiteral("正在同步到 www: ") + message);
        });
    if (!syncError.isEmpty())
        return failed(Error{syncError, target, QStringLiteral("sync")});

    // Stage 5: the site must be in place.
    progress(0.9, QStringLiteral("正在校验 runtime/www"));
    if (!platform::pathExists(target))
        return reported(QStringLiteral("更新完成，但未找到 ") + target);
    if (!platform::pathExists(target + QStringLiteral("/index.php")))
        return reported(
            QStringLiteral("同步后 runtime/www 缺少 index.php，请确认更新包完整。\n识别来源: ") +
            *source);

    progress(1.0, QStringLiteral("完成"));
    return QStringLiteral("已自动解压并同步到 runtime/www: ") + target +
           QStringLiteral("\n站点根: ") + *source;
}
