#include "backup/snapshots.h"

#include "platform/files.h"
#include "platform/pipeline.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QVersionNumber>

#include <chrono>

#include <fcntl.h>
#include <unistd.h>

namespace backup {

namespace {

// The dump program's last line when it ended well.
constexpr QByteArrayView kCompletionLine = "\n-- Dump completed";

// Keeps the last bytes of a stream, to look for the completion line.
class StreamTail {
public:
    void add(QByteArrayView chunk) {
        m_tail.append(chunk);
        if (m_tail.size() > 512)
            m_tail.remove(0, m_tail.size() - 512);
    }
    bool completed() const {
        const qsizetype at = m_tail.lastIndexOf(kCompletionLine);
        // Only a comment line may follow it (its date), then the end.
        return at >= 0 && !m_tail.mid(at + kCompletionLine.size()).trimmed().contains('\n');
    }

private:
    QByteArray m_tail;
};

QString toolErrors(const platform::PipedExit& exit, const QString& program) {
    QString text = QString::fromUtf8(exit.errors).trimmed();
    if (text.isEmpty())
        text = exit.signalled
                   ? QStringLiteral("%1 被信号 %2 终止").arg(program).arg(exit.exitStatus)
                   : QStringLiteral("%1 退出码 %2").arg(program).arg(exit.exitStatus);
    return text;
}

QString freeSpaceText(const QString& dir) {
    const Result<platform::FileSystemSpace> space = platform::fileSystemSpace(dir);
    if (!space)
        return QStringLiteral("无法读取磁盘剩余空间");
    return QStringLiteral("备份目录磁盘剩余 ") + sizeText(qint64(space->availableBytes));
}

std::unexpected<Error> snapshotFailure(Error error, const QString& backupsDir) {
    error.message = QStringLiteral("数据库快照失败: ") + error.message + QStringLiteral("（") +
                    freeSpaceText(backupsDir) + QStringLiteral("）");
    return std::unexpected(std::move(error));
}

// Makes what was written so far durable: the file's data, then the directory's entry.
Result<> syncPath(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return platform::errnoFailure(errno, path, QStringLiteral("open"));
    const int rc = ::fsync(fd);
    const int e = errno;
    ::close(fd);
    if (rc != 0)
        return platform::errnoFailure(e, path, QStringLiteral("fsync"));
    return {};
}

// The compressor's call that writes a dump's text to its standard output.
platform::ProgramCall decompression(const QString& zstd, const QString& dump) {
    return {zstd, {QStringLiteral("-q"), QStringLiteral("-d"), QStringLiteral("-c"), dump}};
}

// "10.11.6-MariaDB-0+deb12u1" → 10.11.
QVersionNumber majorMinor(const QString& version) {
    const QVersionNumber v = QVersionNumber::fromString(version);
    return QVersionNumber(v.majorVersion(), v.minorVersion());
}

// Each database of the server with the size of its tables, a row each.
constexpr QLatin1StringView kDatabaseSizes(
    "SELECT s.schema_name, COALESCE(SUM(t.data_length + t.index_length), 0) "
    "FROM information_schema.schemata s LEFT JOIN information_schema.tables t "
    "ON t.table_schema = s.schema_name GROUP BY s.schema_name ORDER BY s.schema_name");

QList<DatabaseSize> userDatabasesOf(const QStringList& rows) {
    QList<DatabaseSize> found;
    for (const QString& line : rows) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() == 2 && !isServerDatabase(fields[0]))
            found.push_back({fields[0], fields[1].toLongLong()});
    }
    return found;
}

} // namespace

Result<QList<DatabaseSize>> userDatabases(const DatabaseSession& session) {
    Result<QString> rows = session.query(QString(kDatabaseSizes));
    if (!rows)
        return std::unexpected(rows.error());
    return userDatabasesOf(rows->split(QLatin1Char('\n'), Qt::SkipEmptyParts));
}

Result<TakenSnapshot> takeSnapshot(const DatabaseSession& session, Reason reason,
                                   const SnapshotSettings& settings, const DumpProgress& progress) {
    const QString& dir = settings.backupsDir;
    if (Result<> made = platform::createDirectories(dir); !made)
        return snapshotFailure(made.error(), dir);
    (void)removePartialSnapshots(dir);

    // The server's version and its databases, in one call of the client.
    Result<QString> rows = session.query(QStringLiteral("SELECT VERSION(); ") + kDatabaseSizes);
    if (!rows)
        return snapshotFailure(rows.error(), dir);
    QStringList lines = rows->split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QString version = lines.isEmpty() ? QString() : lines.takeFirst().trimmed();
    const QList<DatabaseSize> databases = userDatabasesOf(lines);
    if (databases.isEmpty())
        return TakenSnapshot{std::nullopt, QStringLiteral("数据库中没有用户数据库，无需快照"), {}};

    // The compressed dump is well below the tables' size; a quarter of it and the margin must
    // be free, or nothing is written.
    qint64 tables = 0;
    for (const DatabaseSize& d : databases)
        tables += d.bytes;
    const qint64 needed = tables / 4 + settings.freeMarginBytes;
    if (Result<platform::FileSystemSpace> space = platform::fileSystemSpace(dir);
        space && qint64(space->availableBytes) < needed)
        return failure(
            ErrorKind::Refused,
            QStringLiteral("数据库快照失败: 备份目录磁盘空间不足，需要约 %1，剩余 %2（%3）")
                .arg(sizeText(needed), sizeText(qint64(space->availableBytes)), dir),
            dir);

    SnapshotInfo info;
    info.created = settings.clock ? settings.clock() : QDateTime::currentDateTime();
    info.reason = reason;
    info.databases = databases;
    info.panelVersion = settings.panelVersion;
    info.serverVersion = version;
    info.name = newSnapshotName(dir, info.created, reason);
    info.path = dir + QLatin1Char('/') + info.name;
    const QString partial = dir + QLatin1Char('/') + kPartialPrefix + info.name;
    if (Result<> made = platform::createDirectories(partial); !made)
        return snapshotFailure(made.error(), dir);
    const QString dumpFile = partial + QLatin1Char('/') + kDumpFileName;

    QStringList dumpArgs = {QStringLiteral("--single-transaction"), QStringLiteral("--routines"),
                            QStringLiteral("--triggers"),           QStringLiteral("--events"),
                            QStringLiteral("--hex-blob"),           QStringLiteral("--databases")};
    dumpArgs += info.databaseNames();
    StreamTail tail;
    auto lastReport = std::chrono::steady_clock::now();
    qint64 dumped = 0;
    Result<platform::PipelineExit> run = platform::runPipeline(
        session.clientCall(QStringLiteral("mysqldump"), dumpArgs),
        platform::ProgramCall{settings.zstd,
                              {QStringLiteral("-q"), QStringLiteral("-3"), QStringLiteral("-T0"),
                               QStringLiteral("-o"), dumpFile}},
        [&](QByteArrayView chunk) {
            tail.add(chunk);
            dumped += chunk.size();
            const auto now = std::chrono::steady_clock::now();
            if (progress && now - lastReport >= std::chrono::milliseconds(200)) {
                lastReport = now;
                progress(dumped);
            }
            return true;
        });
    const auto discard = [&partial] { (void)platform::removePath(partial); };
    if (!run) {
        discard();
        return snapshotFailure(run.error(), dir);
    }
    // The compressor first: when it fails (a full disk), the dump ends on a broken pipe.
    if (!run->consumer || !run->consumer->exitedCleanly()) {
        discard();
        const platform::PipedExit failed = run->consumer.value_or(platform::PipedExit{});
        return snapshotFailure(
            Error{QStringLiteral("zstd: ") + toolErrors(failed, QStringLiteral("zstd")),
                  dumpFile,
                  {},
                  0,
                  ErrorKind::ToolFailed,
                  failed.exitStatus},
            dir);
    }
    if (!run->producer.exitedCleanly() || !tail.completed()) {
        discard();
        return snapshotFailure(Error{QStringLiteral("mysqldump: ") +
                                         toolErrors(run->producer, QStringLiteral("mysqldump")),
                                     settings.zstd,
                                     {},
                                     0,
                                     ErrorKind::ToolFailed,
                                     run->producer.exitStatus},
                               dir);
    }
    info.dumpBytes = run->bytes;
    info.fileBytes = QFileInfo(dumpFile).size();

    // Durable before it is named: the dump, its description, the directory; then the rename,
    // and the backups directory's entry.
    Result<> placed = syncPath(dumpFile);
    if (placed)
        placed = platform::writeTextAtomically(partial + QLatin1Char('/') + kDescriptionFileName,
                                               QString::fromUtf8(descriptionJson(info)));
    if (placed)
        placed = syncPath(partial);
    if (placed)
        placed = platform::renamePath(partial, info.path);
    if (!placed) {
        discard();
        return snapshotFailure(placed.error(), dir);
    }
    (void)syncPath(dir);

    TakenSnapshot taken{info, {}, {}};
    if (info.automatic() && settings.retain)
        taken.removed = applyRetention(settings, info.name);
    return taken;
}

QList<SnapshotInfo> applyRetention(const SnapshotSettings& settings, const QString& newest) {
    const QString& dir = settings.backupsDir;
    const Result<platform::FileSystemSpace> space = platform::fileSystemSpace(dir);
    const qint64 free = space ? qint64(space->availableBytes) : 0;
    QList<SnapshotInfo> removed;
    for (const SnapshotInfo& old :
         snapshotsBeyondRetention(listSnapshots(dir), free, settings.limits, settings.keep)) {
        if (old.name != newest && platform::removePath(old.path))
            removed.push_back(old);
    }
    return removed;
}

Result<TakenSnapshot> takeSnapshot(const RuntimeDatabase& database, Reason reason,
                                   const SnapshotSettings& settings, const DumpProgress& progress) {
    Result<std::unique_ptr<DatabaseSession>> session = DatabaseSession::open(database);
    if (!session) {
        if (session.error().kind == ErrorKind::NotFound && !database.initialised())
            return TakenSnapshot{std::nullopt, session.error().message, {}};
        return snapshotFailure(session.error(), settings.backupsDir);
    }
    Result<TakenSnapshot> taken = takeSnapshot(**session, reason, settings, progress);
    if (Result<> closed = (*session)->close(); !closed && taken)
        taken->note = QStringLiteral("注意: ") + closed.error().message;
    return taken;
}

Result<> checkSnapshot(const SnapshotInfo& snapshot, const QString& serverVersion,
                       const QString& zstd) {
    if (!platform::pathExists(snapshot.dumpPath()))
        return failure(ErrorKind::Corrupt,
                       QStringLiteral("快照缺少数据文件 ") + snapshot.dumpPath(),
                       snapshot.dumpPath());
    if (majorMinor(snapshot.serverVersion) > majorMinor(serverVersion))
        return failure(ErrorKind::Refused,
                       QStringLiteral("快照来自较新的数据库服务器 %1，当前服务器为 %2，无法恢复")
                           .arg(snapshot.serverVersion, serverVersion),
                       snapshot.path);
    StreamTail tail;
    Result<platform::PipelineExit> run = platform::runPipeline(
        decompression(zstd, snapshot.dumpPath()), std::nullopt, [&tail](QByteArrayView chunk) {
            tail.add(chunk);
            return true;
        });
    if (!run)
        return std::unexpected(run.error());
    if (!run->producer.exitedCleanly())
        return failure(ErrorKind::Corrupt,
                       QStringLiteral("快照数据无法解压，可能已损坏: ") +
                           toolErrors(run->producer, QStringLiteral("zstd")),
                       snapshot.dumpPath());
    if (!tail.completed())
        return failure(ErrorKind::Corrupt, QStringLiteral("快照数据不完整（缺少导出结束标记）"),
                       snapshot.dumpPath());
    return {};
}

Result<QStringList> loadSnapshot(const DatabaseSession& session, const SnapshotInfo& snapshot,
                                 bool dropOthers, const QString& zstd) {
    QStringList dropped = snapshot.databaseNames();
    QStringList others;
    if (dropOthers) {
        Result<QList<DatabaseSize>> current = userDatabases(session);
        if (!current)
            return std::unexpected(current.error());
        for (const DatabaseSize& d : *current)
            if (!dropped.contains(d.name))
                others.push_back(d.name);
    }
    QString statements;
    for (const QString& name : dropped + others)
        statements += QStringLiteral("DROP DATABASE IF EXISTS ") + quotedIdentifier(name) +
                      QStringLiteral(";");
    if (!statements.isEmpty())
        if (Result<QString> done = session.query(statements); !done)
            return std::unexpected(done.error());

    Result<platform::PipelineExit> run =
        platform::runPipeline(decompression(zstd, snapshot.dumpPath()),
                              session.clientCall(QStringLiteral("mysql"), {}), {});
    if (!run)
        return std::unexpected(run.error());
    if (!run->producer.exitedCleanly())
        return failure(ErrorKind::Corrupt,
                       QStringLiteral("快照数据无法解压: ") +
                           toolErrors(run->producer, QStringLiteral("zstd")),
                       snapshot.dumpPath());
    if (!run->consumer || !run->consumer->exitedCleanly()) {
        const platform::PipedExit failed = run->consumer.value_or(platform::PipedExit{});
        return toolFailure(failed.exitStatus,
                           QStringLiteral("导入失败: ") +
                               toolErrors(failed, QStringLiteral("mysql")),
                           snapshot.dumpPath());
    }
    return others;
}

} // namespace backup
