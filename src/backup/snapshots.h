#pragma once

#include "backup/database_session.h"
#include "backup/snapshot_store.h"
#include "platform/result.h"

#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

// Taking a snapshot of the runtime's databases and putting one back.
namespace backup {

// Free space a snapshot leaves on the backups' file system beyond its own estimated size.
inline constexpr qint64 kSnapshotFreeMarginBytes = qint64(64) << 20;

struct SnapshotSettings {
    QString backupsDir;
    QString zstd; // the compressor
    QString panelVersion;
    RetentionLimits limits;
    QStringList keep;   // snapshots the retention leaves whatever the limits say
    bool retain = true; // false: the caller applies the retention itself (applyRetention)
    qint64 freeMarginBytes = kSnapshotFreeMarginBytes;
    std::function<QDateTime()> clock; // empty: the current local time
};

struct TakenSnapshot {
    // Nothing when there was nothing to keep; note then says why.
    std::optional<SnapshotInfo> snapshot;
    QString note;
    // Automatic snapshots the retention removed after this one was made.
    QList<SnapshotInfo> removed;
};

// Called with the dump's bytes so far, a few times a second at most.
using DumpProgress = std::function<void(qint64)>;

// A consistent dump of every database but the server's own (one transaction), compressed,
// written under a temporary name and renamed into place only when the dump ended well; then
// the retention, for an automatic one. A failure leaves no snapshot and removes none; its
// message is the cause with the free space of the backups' file system.
Result<TakenSnapshot> takeSnapshot(const DatabaseSession& session, Reason reason,
                                   const SnapshotSettings& settings,
                                   const DumpProgress& progress = {});
// The same on a session of its own; a data directory that was never initialised has nothing
// to keep (no snapshot, and a note that says so).
Result<TakenSnapshot> takeSnapshot(const RuntimeDatabase& database, Reason reason,
                                   const SnapshotSettings& settings,
                                   const DumpProgress& progress = {});

// Removes the automatic snapshots beyond the retention, never newest; those it removed.
QList<SnapshotInfo> applyRetention(const SnapshotSettings& settings, const QString& newest);

// Whether snapshot can be put back into a server of serverVersion: its description is
// readable, its dump decompresses whole and ends with the dump program's completion line, and
// it comes from a server no newer than this one. Kind Corrupt or Refused when not.
Result<> checkSnapshot(const SnapshotInfo& snapshot, const QString& serverVersion,
                       const QString& zstd);

// Drops the databases snapshot holds (with dropOthers, every other one of the user's too) and
// loads the dump. The names of the databases dropped that the snapshot does not bring back.
Result<QStringList> loadSnapshot(const DatabaseSession& session, const SnapshotInfo& snapshot,
                                 bool dropOthers, const QString& zstd);

// The user's databases on the server with their sizes, in name order.
Result<QList<DatabaseSize>> userDatabases(const DatabaseSession& session);

} // namespace backup
