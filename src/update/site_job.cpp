#include "update/site_job.h"

#include "core/panel_view_model.h"

#include <atomic>
#include <cmath>

namespace {

std::atomic<bool> g_siteJobRunning{false};

} // namespace

std::optional<update::UpdateLock> startSiteJob(const QString& runtimeDir) {
    if (g_siteJobRunning.exchange(true))
        return std::nullopt;
    update::UpdateLock lock = update::UpdateLock::acquire(runtimeDir);
    if (lock.state() == update::UpdateLock::State::Busy) {
        g_siteJobRunning = false;
        return std::nullopt;
    }
    return lock;
}

void endSiteJob() {
    g_siteJobRunning = false;
}

QString siteJobBusyText() {
    return QStringLiteral("更新/修复正在进行中，请等待当前任务完成。");
}

namespace update {

QString undoLostText(const UndoLost& lost) {
    const Error& cause = lost.cause;
    QString text =
        QStringLiteral("注意: 本次更新无法撤销，未能保留更新前的站点: ") +
        (cause.path.isEmpty() ? cause.message : cause.path + QStringLiteral(": ") + cause.message);
    if (lost.olderWithdrawn)
        text += QStringLiteral("；更早保留的上一版已撤下，以免撤销回到更早的站点");
    return text;
}

} // namespace update

QString previousSiteGenerationPath(const QString& installedRoot) {
    return installedRoot + QStringLiteral("/runtime/www-previous");
}

std::optional<update::UpdateLock> beginSiteJob(PanelViewModel& model, Operation operation) {
    // Counted as running from here, its refusal included: every call ends with finish().
    model.noteOperationBegun();
    std::optional<update::UpdateLock> lock = startSiteJob(model.runtimeDir());
    if (!lock) {
        model.postToMain([operation](PanelViewModel& m) {
            m.setLogs(siteJobBusyText());
            m.updateErrorSummary();
            OperationOutcome outcome;
            outcome.operation = operation;
            outcome.report = siteJobBusyText();
            m.finish(outcome);
        });
    }
    return lock;
}

void publishSiteJobStep(PanelViewModel& m, const QString& title, double fraction,
                        const QString& text, const QStringList& details) {
    m.setUpdateProgress(fraction);
    m.setUpdateProgressText(text);
    const int percent = static_cast<int>(std::trunc(fraction * 100.0));
    m.setLogs(PanelViewModel::buildLogBlock(
        title, {text, QStringLiteral("进度: ") + QString::number(percent) + QStringLiteral("%")},
        details));
    m.updateErrorSummary();
}

void finishSiteJob(PanelViewModel& model, Operation operation, const Result<QString>& run,
                   update::UpdateLock lock, const QString& title, const QStringList& moreDetails,
                   const QStringList& moreEntries, std::vector<Error> warnings) {
    OperationOutcome outcome;
    outcome.operation = operation;
    outcome.succeeded = run.has_value();
    outcome.warnings = std::move(warnings);
    const QStringList entries = QStringList{run ? *run : run.error().message} + moreEntries;
    const StatusSnapshot status = model.probeStatus();
    const QStringList details =
        QStringList{QStringLiteral("目录: ") + status.panelRoot} + moreDetails;
    // Every job may have taken a snapshot of the database.
    QList<backup::SnapshotInfo> snapshots = backup::listSnapshots(model.backupsDir());
    model.postToMain([status, title, entries, details, outcome = std::move(outcome),
                      lock = std::move(lock),
                      snapshots = std::move(snapshots)](PanelViewModel& m) mutable {
        m.publishStatus(status);
        m.setSnapshots(std::move(snapshots));
        m.setUpdateProgress(1.0);
        m.setUpdateProgressText(QStringLiteral("完成"));
        outcome.report = PanelViewModel::buildLogBlock(title, entries, details);
        m.setLogs(outcome.report);
        m.updateErrorSummary();
        m.refreshUndoAvailable();
        // Only once the report is out may a new job start, so that its publications follow
        // this job's last one; the lock goes before anyone learns that the job has ended.
        endSiteJob();
        lock = {};
        m.finish(outcome);
    });
}
