#include "backup/snapshot_store.h"

#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

namespace backup {

namespace {

struct ReasonNames {
    Reason reason;
    const char* key;
    const char* text;
};

constexpr std::array<ReasonNames, 4> kReasons = {{
    {Reason::BeforeUpdate, "before-update", "更新前"},
    {Reason::BeforeUndo, "before-undo", "撤销前"},
    {Reason::BeforeRestore, "before-restore", "恢复前"},
    {Reason::ByHand, "by-hand", "手动"},
}};

const ReasonNames& namesOf(Reason reason) {
    return *std::find_if(kReasons.begin(), kReasons.end(),
                         [reason](const ReasonNames& n) { return n.reason == reason; });
}

} // namespace

QString reasonKey(Reason reason) {
    return QString::fromLatin1(namesOf(reason).key);
}

std::optional<Reason> reasonFromKey(const QString& key) {
    for (const ReasonNames& n : kReasons)
        if (key == QLatin1String(n.key))
            return n.reason;
    return std::nullopt;
}

QString reasonText(Reason reason) {
    return QString::fromUtf8(namesOf(reason).text);
}

QString SnapshotInfo::dumpPath() const {
    return path + QLatin1Char('/') + kDumpFileName;
}

QStringList SnapshotInfo::databaseNames() const {
    QStringList names;
    for (const DatabaseSize& d : databases)
        names.push_back(d.name);
    return names;
}

QString backupsDirFor(const QString& panelRoot) {
    return panelRoot + QStringLiteral("/backups");
}

QString newSnapshotName(const QString& dir, const QDateTime& created, Reason reason) {
    const QString base = created.toString(QStringLiteral("yyyyMMdd-HHmmss-")) + reasonKey(reason);
    QString name = base;
    for (int n = 2; platform::entryExists(dir + QLatin1Char('/') + name); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

QByteArray descriptionJson(const SnapshotInfo& info) {
    QJsonArray databases;
    for (const DatabaseSize& d : info.databases)
        databases.push_back(QJsonObject{{QStringLiteral("name"), d.name},
                                        {QStringLiteral("bytes"), double(d.bytes)}});
    const QJsonObject object{
        {QStringLiteral("created"),
         info.created.toOffsetFromUtc(info.created.offsetFromUtc()).toString(Qt::ISODateWithMs)},
        {QStringLiteral("reason"), reasonKey(info.reason)},
        {QStringLiteral("databases"), databases},
        {QStringLiteral("panelVersion"), info.panelVersion},
        {QStringLiteral("serverVersion"), info.serverVersion},
        {QStringLiteral("dumpBytes"), double(info.dumpBytes)},
        {QStringLiteral("fileBytes"), double(info.fileBytes)},
        {QStringLiteral("dump"), kDumpFileName},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

Result<SnapshotInfo> readSnapshot(const QString& dir) {
    const QString descriptionPath = dir + QLatin1Char('/') + kDescriptionFileName;
    QFile file(descriptionPath);
    if (!file.open(QIODevice::ReadOnly))
        return failure(ErrorKind::Corrupt, QStringLiteral("缺少快照说明文件"), descriptionPath);
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.read(1 << 20), &parseError);
    const QJsonObject object = document.object();
    const std::optional<Reason> reason =
        reasonFromKey(object.value(QStringLiteral("reason")).toString());
    SnapshotInfo info;
    info.path = dir;
    info.name = QFileInfo(dir).fileName();
    info.created = QDateTime::fromString(object.value(QStringLiteral("created")).toString(),
                                         Qt::ISODateWithMs);
    if (parseError.error != QJsonParseError::NoError || !reason || !info.created.isValid())
        return failure(ErrorKind::Corrupt, QStringLiteral("快照说明文件无法读取"), descriptionPath);
    info.reason = *reason;
    for (const auto& v : object.value(QStringLiteral("databases")).toArray()) {
        const QJsonObject d = v.toObject();
        info.databases.push_back({d.value(QStringLiteral("name")).toString(),
                                  qint64(d.value(QStringLiteral("bytes")).toDouble())});
    }
    info.panelVersion = object.value(QStringLiteral("panelVersion")).toString();
    info.serverVersion = object.value(QStringLiteral("serverVersion")).toString();
    info.dumpBytes = qint64(object.value(QStringLiteral("dumpBytes")).toDouble());
    info.fileBytes = QFileInfo(info.dumpPath()).size();
    return info;
}

QList<SnapshotInfo> listSnapshots(const QString& dir) {
    QList<SnapshotInfo> found;
    const QStringList names = QDir(dir).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (name.startsWith(QLatin1Char('.')))
            continue;
        Result<SnapshotInfo> info = readSnapshot(dir + QLatin1Char('/') + name);
        if (info && platform::pathExists(info->dumpPath()))
            found.push_back(std::move(*info));
    }
    std::sort(found.begin(), found.end(), [](const SnapshotInfo& a, const SnapshotInfo& b) {
        return a.created != b.created ? a.created > b.created : a.name > b.name;
    });
    return found;
}

Result<SnapshotInfo> findSnapshot(const QString& dir, const QString& name) {
    const QList<SnapshotInfo> all = listSnapshots(dir);
    if (name == QLatin1String("latest")) {
        if (all.isEmpty())
            return failure(ErrorKind::NotFound, QStringLiteral("没有数据库快照"), dir);
        return all.front();
    }
    for (const SnapshotInfo& s : all)
        if (s.name == name)
            return s;
    const QString path = dir + QLatin1Char('/') + name;
    if (!name.contains(QLatin1Char('/')) && platform::isDirectory(path)) {
        // There, but not whole: the check before a restore says what is wrong with it.
        Result<SnapshotInfo> info = readSnapshot(path);
        if (!info)
            return std::unexpected(info.error());
        return info;
    }
    return failure(ErrorKind::NotFound, QStringLiteral("未找到数据库快照 ") + name, path);
}

QStringList removePartialSnapshots(const QString& dir) {
    QStringList removed;
    const QStringList names =
        QDir(dir).entryList({kPartialPrefix + QLatin1Char('*')},
                            QDir::Dirs | QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        const QString path = dir + QLatin1Char('/') + name;
        if (platform::removePath(path))
            removed.push_back(path);
    }
    return removed;
}

QList<SnapshotInfo> snapshotsBeyondRetention(const QList<SnapshotInfo>& newestFirst,
                                             qint64 freeBytes, const RetentionLimits& limits,
                                             const QStringList& keep) {
    QList<SnapshotInfo> automatic;
    for (const SnapshotInfo& s : newestFirst)
        if (s.automatic())
            automatic.push_back(s);
    QList<SnapshotInfo> removed;
    const qint64 room = std::min(limits.maxBytes,
                                 qint64(double(std::max<qint64>(freeBytes, 0)) * limits.freeShare));
    qint64 total = 0;
    for (const SnapshotInfo& s : automatic)
        total += s.fileBytes;
    // From the oldest on, never the newest.
    for (qsizetype i = automatic.size() - 1; i >= 1; --i) {
        if (i < limits.count && total <= room)
            break;
        if (keep.contains(automatic[i].name))
            continue;
        removed.push_back(automatic[i]);
        total -= automatic[i].fileBytes;
    }
    return removed;
}

QString sizeText(qint64 bytes) {
    if (bytes < qint64(1024) * 1024)
        return QString::number(double(bytes) / 1024.0, 'f', 1) + QStringLiteral(" KB");
    if (bytes < qint64(1024) * 1024 * 1024)
        return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
    return QString::number(double(bytes) / (1024.0 * 1024.0 * 1024.0), 'f', 2) +
           QStringLiteral(" GB");
}

} // namespace backup
