#include "backup/snapshots.h"
#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "platform/files.h"
#include "update/site_job.h"
#include "update/sync.h"

#include <algorithm>

namespace {

const QString kRunningTitle = QStringLiteral("=== 撤销上次更新 ===");
const QString kDoneTitle = QStringLiteral("=== 撤销完成 ===");
const QString kNote = QStringLiteral(
    "说明: 撤销只恢复站点文件，runtime/www/Data 保持不变；上一版恢复后即删除，仅保留一版。");

QStringList runningDetails(PanelViewModel& m) {
    return {QStringLiteral("上一版站点: ") + m.previousSiteGenerationDir(),
            QStringLiteral("目录: ") + m.zeltoPanelRoot()};
}

} // namespace

// --- PanelViewModel: undo of the last update ---

QString PanelViewModel::previousSiteGenerationDir() const {
    return previousSiteGenerationPath(appBundleRoot()->toLocalFile());
}

void PanelViewModel::refreshUndoAvailable() {
    setUndoAvailable(platform::isDirectory(previousSiteGenerationDir()));
}

void PanelViewModel::setUndoAvailable(bool available) {
    assertMainThread();
    if (available != m_undoAvailable) {
        m_undoAvailable = available;
        Q_EMIT changed();
    }
}

void PanelViewModel::undoLastUpdate() {
    assertMainThread();
    std::optional<update::UpdateLock> lock = beginSiteJob(*this, Operation::UndoLastUpdate);
    if (!lock)
        return;

    // Every text is built on the worker, and the final status probed there; the main thread
    // only publishes, in the same order.
    runInBackground([lock = std::move(*lock)](PanelViewModel& model) mutable {
        model.postToMain(
            [block = buildLogBlock(kRunningTitle, {QStringLiteral("正在撤销上次更新...")},
                                   runningDetails(model))](PanelViewModel& m) {
                m.setUpdateProgress(0.05);
                m.setUpdateProgressText(QStringLiteral("正在撤销上次更新"));
                m.setLogs(block);
                m.updateErrorSummary();
            });
        const Result<QString> run =
            model.restorePreviousSiteGeneration([&model](double fraction, const QString& text) {
                model.postToMain(
                    [fraction, text, details = runningDetails(model)](PanelViewModel& m) {
                        publishSiteJobStep(m, kRunningTitle, fraction, text, details);
                    });
            });
        finishSiteJob(model, Operation::UndoLastUpdate, run, std::move(lock), kDoneTitle, {kNote});
    });
}

Result<QString> PanelViewModel::restorePreviousSiteGeneration(
    const std::function<void(double, const QString&)>& progress) {
    const QString generation = previousSiteGenerationDir();
    const QString target = appBundleRoot()->toLocalFile() + QStringLiteral("/runtime/www");
    if (!platform::isDirectory(generation))
        return failure(ErrorKind::NotFound,
                       QStringLiteral("没有可撤销的更新：未找到上一版站点 ") + generation,
                       generation);

    // The update being undone may have changed the database; its snapshot puts it back, so the
    // retention after the undo's own snapshot leaves it.
    const QString record = updateSnapshotRecordPath();
    const Result<QString> recorded = platform::readUtf8File(record);
    const QString updateSnapshot = recorded ? recorded->trimmed() : QString();

    // The database as it is now, before the old code meets it again.
    progress(0.05, QStringLiteral("正在备份数据库"));
    const Result<backup::TakenSnapshot> taken = snapshotBeforeChange(
        backup::Reason::BeforeUndo,
        [&progress](const QString& text) {
            progress(0.05, QStringLiteral("正在备份数据库: ") + text);
        },
        updateSnapshot.isEmpty() ? QStringList() : QStringList{updateSnapshot});
    if (!taken) {
        Error error = taken.error();
        error.message =
            QStringLiteral("撤销失败: ") + error.message + QStringLiteral("；站点未做任何更改");
        return std::unexpected(std::move(error));
    }
    QStringList databaseLines;
    databaseLines.push_back(taken->snapshot
                                ? QStringLiteral("撤销前的数据库快照: ") + taken->snapshot->name
                                : QStringLiteral("数据库快照: ") + taken->note);
    if (!updateSnapshot.isEmpty() && backup::findSnapshot(backupsDir(), updateSnapshot))
        databaseLines.push_back(
            QStringLiteral("更新前的数据库快照: ") + updateSnapshot +
            QStringLiteral("；撤销只恢复站点文件，恢复该快照可使数据库回到更新前的状态"
                           "（恢复数据库…，或 zelto-panel-cli restore ") +
            updateSnapshot + QStringLiteral("）"));

    // The same passes as an update, from the kept generation: the site's files become that
    // generation's, and the data directory, which it does not hold, is left alone. Its "data"
    // is one of the site's directories like any other, never data for "Data".
    progress(0.1, QStringLiteral("正在恢复上一版站点"));
    Result<> synced = syncDirectoryContents(
        generation, target, update::PackageData::DataOnly,
        [&progress](int done, int total, const QString& message) {
            const double fraction =
                total == 0 ? 0.9 : std::min(0.1 + double(done) / double(total) * 0.8, 0.9);
            progress(fraction, QStringLiteral("正在恢复到 www: ") + message);
        });
    if (!synced) {
        Error error = std::move(synced.error());
        error.message = QStringLiteral("撤销失败: ") + error.message + QLatin1Char('\n') +
                        databaseLines.join(QLatin1Char('\n'));
        return std::unexpected(std::move(error));
    }

    // One generation only: once restored it is gone, and the next update keeps a new one.
    progress(0.9, QStringLiteral("正在清理上一版站点"));
    if (Result<> removed = platform::removePath(generation); !removed) {
        Error error = removed.error();
        error.message = QStringLiteral("已恢复上一版站点，但无法删除 ") + generation +
                        QStringLiteral(": ") + error.message;
        error.path = generation;
        return std::unexpected(std::move(error));
    }
    reportIgnored(platform::removePath(record), "remove the update's snapshot record");
    progress(1.0, QStringLiteral("完成"));
    return QStringLiteral("已撤销上次更新，runtime/www 已恢复为上一版: ") + target +
           QLatin1Char('\n') + databaseLines.join(QLatin1Char('\n'));
}
