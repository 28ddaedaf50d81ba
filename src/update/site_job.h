#pragma once

#include "update/update_lock.h"

#include <QString>

#include <optional>

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
