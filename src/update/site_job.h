#pragma once

#include "core/operation_outcome.h"
#include "platform/result.h"
#include "update/update_lock.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class PanelViewModel;

namespace update {

// Why an update that went on without keeping the site as it was cannot be undone.
struct UndoLost {
    Error cause; // of the failure to keep it
    // An older generation was there, and was withdrawn: an undo would have taken the site back
    // past this update, to the one before.
    bool olderWithdrawn = false;
};

// The final block's entry for it: that this update cannot be undone, and why.
QString undoLostText(const UndoLost& lost);

// What an update's run leaves to its job: trees set aside, to be removed once the report is
// out (update/set_aside.h), why it cannot be undone when it went on without keeping the
// site, and the snapshot of the database it took.
struct RunAftermath {
    QStringList setAside;
    std::optional<UndoLost> undoLost;
    // The final block's entry for the database's snapshot taken before the update, or why
    // there was nothing to keep.
    QString snapshotEntry;
    QString nothingToKeep;
};

} // namespace update

// One job on the site at a time in the whole process, an update or an undo: every window's
// model shares the archive, the extraction directory, the site and its previous generation.

// The lock of the caller's job, held until its final report, when no job ran in this process
// and none holds the runtime's lock in another; nothing when one is running.
std::optional<update::UpdateLock> startSiteJob(const QString& runtimeDir);
// Called once the job's last report is out, so that the next job's publications follow it.
void endSiteJob();

// The answer to a press while a job runs.
QString siteJobBusyText();

// The previous generation of the site below an installed root.
QString previousSiteGenerationPath(const QString& installedRoot);

// The start of a job on model's site: the job's lock, or nothing when one is running, and
// then the press is answered on the main thread: the busy text in the log and in the outcome
// of operation, which finishes at once.
std::optional<update::UpdateLock> beginSiteJob(PanelViewModel& model, Operation operation);

// On the main thread, a step of a running job: the bar at fraction with text, and the log block
// "title / text / 进度: N% / details".
void publishSiteJobStep(PanelViewModel& m, const QString& title, double fraction,
                        const QString& text, const QStringList& details);

// On the job's worker, the end of a job: its outcome from run (the report, or the error's
// text), the status probed; then, on the main thread, the status published, the bar full
// ("完成"), the final report "title / result / moreEntries / 目录: root / moreDetails" in the
// log and the outcome (with warnings), the undo button brought up to date; then the job's
// guard and lock are released and finished() is emitted.
void finishSiteJob(PanelViewModel& model, Operation operation, const Result<QString>& run,
                   update::UpdateLock lock, const QString& title, const QStringList& moreDetails,
                   const QStringList& moreEntries = {}, std::vector<Error> warnings = {});
