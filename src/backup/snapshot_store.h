#pragma once

#include "platform/result.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// The database's snapshots as files: one directory per snapshot below the backups directory
// (beside the runtime, so that neither a new runtime nor an update touches them), holding the
// compressed dump and a small description. A snapshot is made under a temporary name and
// renamed into place only when whole, so every listed snapshot is complete.
namespace backup {

// Why a snapshot was taken. Every one but ByHand is automatic, and the retention may remove it.
enum class Reason { BeforeUpdate, BeforeUndo, BeforeRestore, ByHand };

// As stored ("before-update", "before-undo", "before-restore", "by-hand"), and back.
QString reasonKey(Reason reason);
std::optional<Reason> reasonFromKey(const QString& key);
// As reports and the window name it ("更新前", "撤销前", "恢复前", "手动").
QString reasonText(Reason reason);

struct DatabaseSize {
    QString name;
    qint64 bytes = 0; // data and indexes, as the server counts them
};

struct SnapshotInfo {
    QString name; // the directory's name
    QString path; // the directory
    QDateTime created;
    Reason reason = Reason::ByHand;
    QList<DatabaseSize> databases;
    QString panelVersion;
    QString serverVersion;
    qint64 dumpBytes = 0; // the dump, uncompressed
    qint64 fileBytes = 0; // the compressed dump on disk

    bool automatic() const { return reason != Reason::ByHand; }
    QString dumpPath() const;
    QStringList databaseNames() const;
};

inline const QString kDumpFileName = QStringLiteral("dump.sql.zst");
inline const QString kDescriptionFileName = QStringLiteral("snapshot.json");
// The prefix of a snapshot being made.
inline const QString kPartialPrefix = QStringLiteral(".partial-");

// The backups directory of a panel root.
QString backupsDirFor(const QString& panelRoot);

// A new snapshot's name from its time and reason ("20261210-173012-before-update"), with "-2",
// "-3", ... added when that name is taken in dir.
QString newSnapshotName(const QString& dir, const QDateTime& created, Reason reason);

// The description as stored, and the snapshot in dir read back (kind Corrupt when its
// description is missing or unreadable).
QByteArray descriptionJson(const SnapshotInfo& info);
Result<SnapshotInfo> readSnapshot(const QString& dir);

// The complete snapshots in dir, newest first; entries that are not snapshots are left out.
QList<SnapshotInfo> listSnapshots(const QString& dir);
// A snapshot by name, or the newest for "latest".
Result<SnapshotInfo> findSnapshot(const QString& dir, const QString& name);

// Removes what a run that was killed left while making a snapshot (only called by the holder
// of the site-job lock, so that none is being made). The removed paths.
QStringList removePartialSnapshots(const QString& dir);

// How many automatic snapshots are kept and how much room they may take.
struct RetentionLimits {
    int count = 10;
    qint64 maxBytes = qint64(5) << 30;
    double freeShare = 0.2; // of the free space on the backups' file system
};

// The automatic snapshots of newestFirst to remove, oldest first: beyond the count, and then
// while all automatic ones together take more than the smaller of maxBytes and freeShare of
// freeBytes. The newest snapshot stays whatever it takes; those taken by hand, and those named
// in keep (one being put back, the one an undo names), always stay.
QList<SnapshotInfo> snapshotsBeyondRetention(const QList<SnapshotInfo>& newestFirst,
                                             qint64 freeBytes, const RetentionLimits& limits,
                                             const QStringList& keep = {});

// "12.3 MB" for reports and the window.
QString sizeText(qint64 bytes);

} // namespace backup
