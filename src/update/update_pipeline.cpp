#include "core/panel_view_model.h"
#include "platform/files.h"
#include "update/download.h"

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

QString failed(const QString& description) {
    return QStringLiteral("更新/修复失败: ") + description;
}

} // namespace

// --- PanelViewModel: update/repair pipeline ---

void PanelViewModel::updateOrRepairFiles() {
    assertMainThread();
    if (g_updateRunning.exchange(true)) {
        postToMain([](PanelViewModel& model) {
            model.setLogs(kAlreadyRunning);
            model.updateErrorSummary();
        });
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

    runInBackground([](PanelViewModel& model) {
        const QString report = model.downloadUpdateOnly([&model](double fraction,
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
        model.postToMain([report](PanelViewModel& m) {
            m.refreshStatus();
            m.setUpdateProgress(1.0);
            m.setUpdateProgressText(QStringLiteral("完成"));
            const QString root = m.zeltoPanelRoot();
            m.setLogs(
                buildLogBlock(kDoneTitle, {report},
                              {QStringLiteral("目录: ") + root,
                               QStringLiteral("下载包: ") + root + QStringLiteral("/runtime") +
                                   QStringLiteral("/zelto-update.zip"),
                               kNote}));
            m.updateErrorSummary();
            // Only once the report is out may a new run start, so that its publications follow
            // this run's last one.
            g_updateRunning = false;
        });
    });
}

QString
PanelViewModel::downloadUpdateOnly(const std::function<void(double, const QString&)>& progress) {
    // Stage 0: paths and the runtime directory.
    const QString runtime = runtimeDir();
    const QString archivePath = zeltoPanelRoot() + QStringLiteral("/runtime/zelto-update.zip");
    const QString extractDir = zeltoPanelRoot() + QStringLiteral("/runtime/update-extract");
    if (QString error = createDirectories(runtime); !error.isEmpty())
        return failed(error);

    // Stage 1: download.
    progress(0.1, QStringLiteral("正在下载更新包"));
    if (auto error =
            downloadToFile(updateZipDownloadURL(), archivePath, m_config.downloadStallSeconds))
        return QStringLiteral("更新下载失败: ") + *error;

    // Stage 2: a fresh extraction directory, the archive unpacked into it, artefacts removed.
    progress(0.35, QStringLiteral("正在解压更新包"));
    if (QString error = removePath(extractDir); !error.isEmpty())
        return failed(error);
    if (QString error = createDirectories(extractDir); !error.isEmpty())
        return failed(error);
    if (auto message = unzipUpdateArchive(archivePath, extractDir))
        return *message;
    if (QString error = removeMacOSXArtifacts(extractDir); !error.isEmpty())
        return failed(error);

    // Stage 3: the site root inside the package.
    progress(0.6, QStringLiteral("正在定位站点根目录"));
    const std::optional<QString> source = resolveUpdateWebSource(extractDir);
    if (!source)
        return kNoSiteRoot;

    // Stage 4: synchronise into the installed root's site directory.
    progress(0.75, QStringLiteral("正在同步到 runtime/www"));
    const QString installedRoot = appBundleRoot()->toLocalFile();
    const QString target = installedRoot + QStringLiteral("/runtime/www");
    if (QString error = createDirectories(installedRoot + QStringLiteral("/runtime"));
        !error.isEmpty())
        return failed(error);
    const QString syncError = syncDirectoryContents(
        *source, target, [&progress](int done, int total, const QString& message) {
            const double fraction =
                total == 0 ? 0.9 : std::min(0.75 + double(done) / double(total) * 0.15, 0.9);
            progress(fraction, QStringLiteral("正在同步到 www: ") + message);
        });
    if (!syncError.isEmpty())
        return failed(syncError);

    // Stage 5: the site must be in place.
    progress(0.9, QStringLiteral("正在校验 runtime/www"));
    if (!pathExists(target))
        return QStringLiteral("更新完成，但未找到 ") + target;
    if (!pathExists(target + QStringLiteral("/index.php")))
        return QStringLiteral("同步后 runtime/www 缺少 index.php，请确认更新包完整。\n识别来源: ") +
               *source;

    progress(1.0, QStringLiteral("完成"));
    return QStringLiteral("已自动解压并同步到 runtime/www: ") + target +
           QStringLiteral("\n站点根: ") + *source;
}
