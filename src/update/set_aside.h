#pragma once

#include "platform/result.h"

#include <QString>
#include <QStringList>

// Trees an update no longer needs (the last run's extraction, the replaced generation of the
// site) are set aside in one rename, under a name of their own beside them
// ("<name>.old-<n>"), and removed later in the background, so that no run waits for them.
// A tree set aside by a panel that quit before removing it is found and removed by the next
// run.

namespace update {

// Renames path to the first free "<path>.old-<n>" (n from 1) and claims that name for removal
// by this process: the new path, or "" when there was nothing at path.
Result<QString> setAside(const QString& path);

// The trees set aside from path ("<path>.old" or "<path>.old-<n>") that no job of this process
// is removing, each claimed for removal by this process.
QStringList claimSetAside(const QString& path);

// Removes the claimed trees, one after the other, and lets go of their claims. A tree that
// another process removes at the same time counts as removed once it is gone.
void removeSetAside(const QStringList& trees);

// For a process about to end: the removals under way stop at their next entry and later ones
// do nothing, so that the process does not wait for them; the next run removes what is left.
void stopRemovingSetAside();

} // namespace update
