// The snapshots' files without a database: which automatic snapshots the retention removes,
// what the listing shows, and the streaming of a child's output into another.

#include "backup/snapshot_store.h"
#include "platform/pipeline.h"
#include "test_support.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

using namespace backup;

namespace {

// "a:u:3" is an automatic snapshot a of 3 MiB, "b:h:1" one taken by hand; newest first.
QList<SnapshotInfo> snapshots(const QStringList& specs) {
    QList<SnapshotInfo> list;
    QDateTime at = QDateTime(QDate(2026, 12, 10), QTime(12, 0));
    for (const QString& spec : specs) {
        const QStringList f = spec.split(QLatin1Char(':'));
        SnapshotInfo s;
        s.name = f[0];
        s.reason = f[1] == QLatin1String("h") ? Reason::ByHand : Reason::BeforeUpdate;
        s.fileBytes = f[2].toLongLong() << 20;
        s.created = at;
        at = at.addSecs(-60);
        list.push_back(s);
    }
    return list;
}

} // namespace

class SnapshotStoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void retention_data() {
        QTest::addColumn<QStringList>("newestFirst");
        QTest::addColumn<int>("count");
        QTest::addColumn<qint64>("maxMiB");
        QTest::addColumn<qint64>("freeMiB");
        QTest::addColumn<QStringList>("removed");
        QTest::addColumn<QStringList>("keep");
        const QStringList four{"d:u:1", "c:u:1", "b:u:1", "a:u:1"};
        QTest::newRow("within every limit")
            << four << 10 << qint64(100) << qint64(1000) << QStringList{} << QStringList{};
        QTest::newRow("beyond the count, oldest first")
            << four << 2 << qint64(100) << qint64(1000) << QStringList{"a", "b"} << QStringList{};
        QTest::newRow("beyond the size")
            << four << 10 << qint64(2) << qint64(1000) << QStringList{"a", "b"} << QStringList{};
        QTest::newRow("a fifth of the free space is smaller")
            << four << 10 << qint64(100) << qint64(15) << QStringList{"a"} << QStringList{};
        QTest::newRow("by hand never, and not counted")
            << QStringList{"d:u:1", "c:h:50", "b:u:1", "a:h:50"} << 1 << qint64(100) << qint64(1000)
            << QStringList{"b"} << QStringList{};
        QTest::newRow("the newest stays whatever it takes")
            << QStringList{"b:u:40", "a:u:1"} << 10 << qint64(5) << qint64(1000) << QStringList{"a"}
            << QStringList{};
        QTest::newRow("one being put back stays, a newer goes")
            << four << 2 << qint64(100) << qint64(1000) << QStringList{"b"} << QStringList{"a"};
    }
    void retention() {
        QFETCH(QStringList, newestFirst);
        QFETCH(int, count);
        QFETCH(qint64, maxMiB);
        QFETCH(qint64, freeMiB);
        QFETCH(QStringList, removed);
        QFETCH(QStringList, keep);
        QStringList names;
        for (const SnapshotInfo& s :
             snapshotsBeyondRetention(snapshots(newestFirst), freeMiB << 20,
                                      RetentionLimits{count, maxMiB << 20, 0.2}, keep))
            names.push_back(s.name);
        QCOMPARE(names, removed);
    }

    // Complete snapshots only, newest first, read back as written; a name taken gets a number.
    void listing() {
        QTemporaryDir dir;
        const QDateTime at(QDate(2026, 12, 10), QTime(17, 30, 12));
        QStringList made;
        for (int i = 0; i < 2; ++i) {
            SnapshotInfo s;
            s.created = at.addSecs(i * 5);
            s.reason = i == 0 ? Reason::ByHand : Reason::BeforeRestore;
            s.databases = {{QStringLiteral("商店 shop"), 1234}};
            s.serverVersion = QStringLiteral("10.11.6-MariaDB");
            s.name = newSnapshotName(dir.path(), s.created, s.reason);
            testing::writeFile(dir.path() + QLatin1Char('/') + s.name +
                                   QStringLiteral("/snapshot.json"),
                               descriptionJson(s));
            testing::writeFile(
                dir.path() + QLatin1Char('/') + s.name + QStringLiteral("/dump.sql.zst"), "x");
            made.push_front(s.name);
        }
        QCOMPARE(newSnapshotName(dir.path(), at, Reason::ByHand),
                 QStringLiteral("20261210-173012-by-hand-2"));
        testing::writeFile(dir.path() + QStringLiteral("/.partial-x/dump.sql.zst"), "half");
        testing::writeFile(dir.path() + QStringLiteral("/no-description/dump.sql.zst"), "x");
        const QList<SnapshotInfo> listed = listSnapshots(dir.path());
        QCOMPARE(listed.size(), 2);
        QCOMPARE(listed[0].name, made[0]);
        QCOMPARE(listed[0].reason, Reason::BeforeRestore);
        QCOMPARE(listed[1].databaseNames(), QStringList{QStringLiteral("商店 shop")});
        QCOMPARE(listed[1].created, at);
        QCOMPARE(findSnapshot(dir.path(), QStringLiteral("latest"))->name, made[0]);
        QCOMPARE(removePartialSnapshots(dir.path()).size(), 1);
        QVERIFY(!QFileInfo::exists(dir.path() + QStringLiteral("/.partial-x")));
    }

    // A consumer that stops reading early cuts the producer off instead of holding the
    // panel, whether the panel watches the stream or the consumer reads it directly; what
    // passed through the panel is counted and the consumer's own error kept.
    void pipelineConsumerEndsEarly_data() {
        QTest::addColumn<bool>("watched");
        QTest::newRow("through the panel") << true;
        QTest::newRow("directly") << false;
    }

    void pipelineConsumerEndsEarly() {
        QFETCH(bool, watched);
        qint64 seen = 0;
        const Result<platform::PipelineExit> run = platform::runPipeline(
            {QStringLiteral("/usr/bin/yes"), {}},
            platform::ProgramCall{
                QStringLiteral("/bin/sh"),
                {QStringLiteral("-c"),
                 QStringLiteral("head -c 100 >/dev/null; echo gone >&2; exit 3")}},
            watched ? std::function<bool(QByteArrayView)>([&seen](QByteArrayView chunk) {
                seen += chunk.size();
                return true;
            })
                    : std::function<bool(QByteArrayView)>());
        QVERIFY(run);
        QVERIFY(run->producer.signalled); // SIGPIPE
        QCOMPARE(run->consumer->exitStatus, 3);
        QCOMPARE(run->consumer->errors, QByteArray("gone\n"));
        QCOMPARE(run->bytes, seen);
        QVERIFY(watched ? seen >= 100 : seen == 0);
    }
};

QTEST_GUILESS_MAIN(SnapshotStoreTest)
#include "tst_snapshot_store.moc"
