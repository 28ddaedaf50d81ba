#include "backup/database_session.h"
#include "backup/snapshots.h"
#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "platform/application_identity.h"
#include "platform/files.h"
#include "services/database.h"
#include "update/site_job.h"

#include <QDir>

#include <optional>
#include <thread>

namespace {

const QString kBackupTitle = QStringLiteral("=== 备份数据库 ===");
const QString kBackupDoneTitle = QStringLiteral("=== 备份完成 ===");
const QString kRestoreTitle = QStringLiteral("=== 恢复数据库 ===");
const QString kRestoreDoneTitle = QStringLiteral("=== 恢复完成 ===");

QString megabytesDumped(qint64 bytes) {
    return QStringLiteral("已导出 ") + backup::sizeText(bytes);
}

// "名称（时间，原因，大小）"
QString snapshotLabel(const backup::SnapshotInfo& s) {
    return s.name + QStringLiteral("（") +
           s.created.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral("，") +
           backup::reasonText(s.reason) + QStringLiteral("，") + backup::sizeText(s.fileBytes) +
           QStringLiteral("）");
}

QString databasesText(const QStringList& names) {
    return names.isEmpty() ? QStringLiteral("（无）") : names.join(QStringLiteral(", "));
}

} // namespace

// --- PanelViewModel: database snapshots ---

QString PanelViewModel::backupsDir() const {
    return backup::backupsDirFor(zeltoPanelRoot());
}

backup::RuntimeDatabase PanelViewModel::runtimeDatabase() const {
    return {mysqlDir(), cfgDir(), std::max(m_config.databaseReadySeconds * 4, 10)};
}

backup::SnapshotSettings PanelViewModel::snapshotSettings() const {
    backup::SnapshotSettings settings;
    settings.backupsDir = backupsDir();
    settings.zstd = m_platform.tools.zstd;
    settings.panelVersion = identity::applicationVersion();
    settings.limits = m_config.snapshotRetention;
    settings.freeMarginBytes = m_config.snapshotFreeMarginBytes;
    settings.clock = m_platform.clock;
    return settings;
}

QString PanelViewModel::updateSnapshotRecordPath() const {
    return cfgDir() + QStringLiteral("/update-snapshot");
}

QStringList PanelViewModel::snapshotNames() const {
    QStringList names;
    for (const backup::SnapshotInfo& s : m_snapshots)
        names.push_back(s.name);
    return names;
}

void PanelViewModel::setSnapshots(QList<backup::SnapshotInfo> snapshots) {
    assertMainThread();
    const auto same = [](const backup::SnapshotInfo& a, const backup::SnapshotInfo& b) {
        return a.name == b.name && a.fileBytes == b.fileBytes;
    };
    if (std::equal(snapshots.begin(), snapshots.end(), m_snapshots.begin(), m_snapshots.end(),
                   same))
        return;
    m_snapshots = std::move(snapshots);
    Q_EMIT changed();
}

void PanelViewModel::refreshSnapshotsInBackground() {
    runInBackground([](PanelViewModel& model) {
        model.postToMain([list = backup::listSnapshots(model.backupsDir())](PanelViewModel& m) {
            m.setSnapshots(list);
        });
    });
}

void PanelViewModel::openBackupsDirectory() {
    reportIgnored(platform::createDirectories(backupsDir()), "create the backups directory");
    m_platform.desktop->openUrl(QUrl::fromLocalFile(backupsDir()));
}

Result<backup::TakenSnapshot>
PanelViewModel::snapshotBeforeChange(backup::Reason reason,
                                     const std::function<void(const QString&)>& progress,
                                     const QStringList& keep) const {
    backup::SnapshotSettings settings = snapshotSettings();
    settings.keep = keep;
    return backup::takeSnapshot(runtimeDatabase(), reason, settings, [&progress](qint64 bytes) {
        if (progress)
            progress(megabytesDumped(bytes));
    });
}

void PanelViewModel::backupDatabase() {
    assertMainThread();
    std::optional<update::UpdateLock> lock = beginSiteJob(*this, Operation::BackupDatabase);
    if (!lock)
        return;
    runInBackground([lock = std::move(*lock)](PanelViewModel& model) mutable {
        const QStringList details = {QStringLiteral("备份目录: ") + model.backupsDir()};
        model.postToMain([details](PanelViewModel& m) {
            publishSiteJobStep(m, kBackupTitle, 0.05, QStringLiteral("正在备份数据库"), details);
        });
        const Result<backup::TakenSnapshot> taken = model.snapshotBeforeChange(
            backup::Reason::ByHand, [&model, details](const QString& text) {
                model.postToMain([details, text](PanelViewModel& m) {
                    publishSiteJobStep(m, kBackupTitle, 0.5,
                                       QStringLiteral("正在备份数据库: ") + text, details);
                });
            });
        Result<QString> run = std::unexpected(taken ? Error{} : taken.error());
        if (taken) {
            if (taken->snapshot) {
                const backup::SnapshotInfo& s = *taken->snapshot;
                QString text = QStringLiteral("已备份数据库: ") + snapshotLabel(s) +
                               QStringLiteral("\n数据库: ") + databasesText(s.databaseNames()) +
                               QStringLiteral("\n导出 ") + backup::sizeText(s.dumpBytes) +
                               QStringLiteral("，压缩后 ") + backup::sizeText(s.fileBytes);
                if (!taken->note.isEmpty())
                    text += QLatin1Char('\n') + taken->note;
                run = text;
            } else {
                run = QStringLiteral("未创建快照: ") + taken->note;
            }
        }
        finishSiteJob(model, Operation::BackupDatabase, run, std::move(lock), kBackupDoneTitle,
                      details);
    });
}

void PanelViewModel::restoreDatabase(const QString& name, bool dropOthers) {
    assertMainThread();
    std::optional<update::UpdateLock> lock = beginSiteJob(*this, Operation::RestoreDatabase);
    if (!lock)
        return;
    runInBackground([lock = std::move(*lock), name, dropOthers](PanelViewModel& model) mutable {
        const QStringList details = {QStringLiteral("快照: ") + name,
                                     QStringLiteral("备份目录: ") + model.backupsDir()};
        const auto step = [&model, details](double fraction, const QString& text) {
            model.postToMain([details, fraction, text](PanelViewModel& m) {
                publishSiteJobStep(m, kRestoreTitle, fraction, text, details);
            });
        };
        step(0.05, QStringLiteral("正在检查快照"));
        const auto restore = [&]() -> Result<QString> {
            const auto refused = [](const Error& e, const QString& after) -> Result<QString> {
                Error error = e;
                error.message = QStringLiteral("恢复失败: ") + e.message + after;
                return std::unexpected(std::move(error));
            };
            const QString untouched = QStringLiteral("；数据库未做任何更改");
            const Result<backup::SnapshotInfo> snapshot =
                backup::findSnapshot(model.backupsDir(), name);
            if (!snapshot)
                return refused(snapshot.error(), untouched);

            // A runtime that has never run (a new installation) gets its data directory first.
            const backup::RuntimeDatabase database = model.runtimeDatabase();
            if (!database.initialised()) {
                reportIgnored(platform::createDirectories(model.mysqlDataDir()),
                              "create the data directory");
                reportIgnored(
                    platform::writeTextAtomically(model.mysqlCnfPath(),
                                                  services::mysqlOptionFileText(model.mysqlDir())),
                    "write the database's option file");
                const Result<platform::ChildExit> made =
                    model.initializeMysql(model.mysqlCnfPath());
                if (!made || !made->exitedCleanly())
                    return refused(
                        Error{QStringLiteral("无法初始化数据库目录"), model.mysqlDataDir(), {}},
                        untouched);
            }
            Result<std::unique_ptr<backup::DatabaseSession>> session =
                backup::DatabaseSession::open(database);
            if (!session)
                return refused(session.error(), untouched);
            const Result<QString> version = (*session)->serverVersion();
            if (!version)
                return refused(version.error(), untouched);
            // The chosen snapshot is checked while the current state is dumped (each is mostly
            // one program's work); nothing is dropped, and no older snapshot removed, unless
            // both went well.
            Result<> checked;
            std::optional<std::jthread> checking(std::in_place, [&] {
                checked = backup::checkSnapshot(*snapshot, *version, model.platform().tools.zstd);
            });
            step(0.2, QStringLiteral("正在备份当前数据库"));
            backup::SnapshotSettings settings = model.snapshotSettings();
            settings.retain = false;
            const Result<backup::TakenSnapshot> safety = backup::takeSnapshot(
                **session, backup::Reason::BeforeRestore, settings, [&step](qint64 bytes) {
                    step(0.3, QStringLiteral("正在备份当前数据库: ") + megabytesDumped(bytes));
                });
            checking.reset(); // joins
            if (!checked) {
                if (safety && safety->snapshot)
                    reportIgnored(platform::removePath(safety->snapshot->path),
                                  "remove the safety snapshot of a refused restore");
                return refused(checked.error(), untouched);
            }
            if (!safety)
                return refused(safety.error(), untouched);
            // The retention must not take the one being put back.
            if (safety->snapshot) {
                settings.keep = {snapshot->name};
                (void)backup::applyRetention(settings, safety->snapshot->name);
            }
            Result<QList<backup::DatabaseSize>> before = backup::userDatabases(**session);

            step(0.5, QStringLiteral("正在恢复数据库"));
            const Result<QStringList> loaded =
                backup::loadSnapshot(**session, *snapshot, dropOthers, model.platform().tools.zstd);
            const QString safetyName = safety->snapshot ? safety->snapshot->name : QString();
            if (!loaded) {
                QString after;
                if (!safetyName.isEmpty())
                    after = QStringLiteral("\n数据库可能不完整：恢复快照 ") + safetyName +
                            QStringLiteral(" 可回到恢复前的状态（zelto-panel-cli restore ") +
                            safetyName + QStringLiteral("）");
                return refused(loaded.error(), after);
            }
            step(0.9, QStringLiteral("正在完成"));
            QString text = QStringLiteral("已恢复数据库快照: ") + snapshotLabel(*snapshot) +
                           QStringLiteral("\n恢复的数据库: ") +
                           databasesText(snapshot->databaseNames());
            if (!loaded->isEmpty())
                text += QStringLiteral("\n已删除快照之后新建的数据库: ") + databasesText(*loaded);
            else if (before && !dropOthers) {
                QStringList kept;
                for (const backup::DatabaseSize& d : *before)
                    if (!snapshot->databaseNames().contains(d.name))
                        kept.push_back(d.name);
                if (!kept.isEmpty())
                    text +=
                        QStringLiteral("\n快照之后新建的数据库保持不变: ") + databasesText(kept);
            }
            text += safetyName.isEmpty()
                        ? QStringLiteral("\n恢复前: ") + safety->note
                        : QStringLiteral("\n恢复前的数据库已保存为快照 ") + safetyName;
            if (Result<> closed = (*session)->close(); !closed)
                text += QStringLiteral("\n注意: ") + closed.error().message;
            return text;
        };
        finishSiteJob(model, Operation::RestoreDatabase, restore(), std::move(lock),
                      kRestoreDoneTitle, details);
    });
}
