// The database's snapshots against the real MariaDB of the assembled runtime, through the
// command-line panel in a sandbox whose path holds spaces and Chinese characters: restores and
// their safety snapshots, snapshots refused before anything is dropped, a stopped database that
// stays stopped, a panel killed in the middle of a dump, an update whose code changes the schema
// undone and restored, and a full disk for the backups. Everything the test started is ended by
// its temporary directory's path.

#include "cli_sandbox.h"

#include "core/process_helpers.h"
#include "platform/process.h"
#include "test_support.h"
#include "update_test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <csignal>

#include <sys/mount.h>

using updatetest::LocalHttpServer;
using updatetest::writeZip;

namespace {

const QList<int> kPorts = {3306, 8000, 900};

QJsonArray snapshotsOf(const CliSandbox& box) {
    return box.run({QStringLiteral("backups"), QStringLiteral("--json")})
        .json()
        .value(QStringLiteral("snapshots"))
        .toArray();
}

QString newestName(const CliSandbox& box) {
    return snapshotsOf(box).at(0).toObject().value(QStringLiteral("name")).toString();
}

} // namespace

class BackupEndToEndTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<CliSandbox> m_box;
    std::unique_ptr<testing::EndProcessesUnder> m_cleanup;

    QString root() const { return m_box->installedRoot(); }
    QString backups() const { return root() + QStringLiteral("/backups"); }

    // Rows of statements run by the runtime's client (tab-separated, one per line).
    QString sql(const QString& statements) const {
        platform::ChildOptions options;
        options.out = platform::StdStream::Capture;
        options.err = platform::StdStream::Merge;
        const Result<platform::ChildExit> run = platform::runChild(
            root() + QStringLiteral("/runtime/mysql/bin/mysql"),
            {QStringLiteral("-uroot"), QStringLiteral("-pkpzw"), QStringLiteral("-N"),
             QStringLiteral("-B"), QStringLiteral("-e"), statements},
            options);
        return run ? QString::fromUtf8(run->output).trimmed() : run.error().message;
    }

    bool start() const { return m_box->run({QStringLiteral("start")}).exitCode == 0; }
    bool stop() const { return m_box->run({QStringLiteral("stop")}).exitCode == 0; }

    // Whether a server of the sandbox's runtime (the stack's or a private one) still runs.
    bool serverOfSandboxRuns() const {
        const Result<platform::ChildExit> found = platform::runChild(
            QStringLiteral("/usr/bin/pgrep"),
            {QStringLiteral("-f"),
             core::escapeExtendedRegex(root() + QStringLiteral("/runtime/mysql"))},
            {platform::StdStream::Null, platform::StdStream::Null, std::nullopt, {}, {}});
        return found && found->exitedCleanly();
    }

private Q_SLOTS:
    void initTestCase() {
        const testing::EndToEndSetup setup =
            testing::endToEndSetup(QStringLiteral("mysql/bin/mysqldump"), kPorts);
        if (!setup.skip.isEmpty())
            QSKIP(qPrintable(setup.skip));
        if (!setup.failure.isEmpty())
            QFAIL(qPrintable(setup.failure));
    }

    void init() {
        m_box = std::make_unique<CliSandbox>(true, QDir::tempPath() +
                                                       QStringLiteral("/备份 测试-XXXXXX"));
        QVERIFY(m_box->isValid());
        m_cleanup = std::make_unique<testing::EndProcessesUnder>(m_box->base());
        QVERIFY(start());
        QVERIFY(serverOfSandboxRuns());
        QCOMPARE(sql(QStringLiteral("CREATE DATABASE shop; CREATE TABLE shop.items (id INT "
                                    "PRIMARY KEY, name VARCHAR(40)) CHARACTER SET utf8mb4; "
                                    "INSERT INTO shop.items VALUES (1, '茶 🍵'), (2, 'coffee')")),
                 QString());
    }

    void cleanup() {
        (void)stop();
        m_cleanup.reset();
        m_box.reset();
    }

    // Rows written after a snapshot are gone once it is restored and back once the safety
    // snapshot is; a database created since stays unless --all.
    void restoreRoundTrip() {
        const CliSandbox::Run backup =
            m_box->run({QStringLiteral("backup"), QStringLiteral("--json")});
        QVERIFY2(backup.exitCode == 0, qPrintable(backup.outText()));
        const QString taken = newestName(*m_box);
        QVERIFY(taken.endsWith(QStringLiteral("-by-hand")));
        QCOMPARE(sql(QStringLiteral("INSERT INTO shop.items VALUES (3, 'later'); CREATE DATABASE "
                                    "newer; CREATE TABLE newer.t (a INT)")),
                 QString());

        const CliSandbox::Run restored = m_box->run({QStringLiteral("restore"), taken});
        QVERIFY2(restored.exitCode == 0, qPrintable(restored.outText()));
        QCOMPARE(sql(QStringLiteral("SELECT name FROM shop.items ORDER BY id")),
                 QStringLiteral("茶 🍵\ncoffee"));
        QVERIFY(restored.outText().contains(QStringLiteral("快照之后新建的数据库保持不变: newer")));
        QCOMPARE(sql(QStringLiteral("SHOW DATABASES LIKE 'newer'")), QStringLiteral("newer"));
        const QString safety = newestName(*m_box);
        QVERIFY(safety.endsWith(QStringLiteral("-before-restore")));
        QVERIFY(restored.outText().contains(safety));

        QCOMPARE(m_box->run({QStringLiteral("restore"), safety}).exitCode, 0);
        QCOMPARE(sql(QStringLiteral("SELECT COUNT(*) FROM shop.items")), QStringLiteral("3"));

        // With the database stopped, which it stays.
        QVERIFY(stop());
        QCOMPARE(m_box->run({QStringLiteral("restore"), taken, QStringLiteral("--all")}).exitCode,
                 0);
        QVERIFY(!serverOfSandboxRuns());
        QVERIFY(start());
        QCOMPARE(sql(QStringLiteral("SHOW DATABASES LIKE 'newer'")), QString());
        QCOMPARE(sql(QStringLiteral("SELECT COUNT(*) FROM shop.items")), QStringLiteral("2"));
    }

    // A damaged snapshot is refused before anything is dropped or another snapshot taken.
    void refusedSnapshots_data() {
        QTest::addColumn<QString>("damage");
        QTest::newRow("truncated") << "truncate";
        QTest::newRow("not compressed data") << "garbage";
        QTest::newRow("dump without its completion line") << "incomplete";
        QTest::newRow("from a newer server") << "newer";
    }
    void refusedSnapshots() {
        QFETCH(QString, damage);
        QCOMPARE(m_box->run({QStringLiteral("backup")}).exitCode, 0);
        const QString good = backups() + QLatin1Char('/') + newestName(*m_box);
        const QString bad = backups() + QStringLiteral("/damaged");
        QVERIFY(QDir().mkpath(bad));
        QVERIFY(QFile::copy(good + QStringLiteral("/snapshot.json"),
                            bad + QStringLiteral("/snapshot.json")));
        const QByteArray dump = testing::readFile(good + QStringLiteral("/dump.sql.zst"));
        QByteArray written;
        if (damage == QLatin1String("truncate")) {
            written = dump.left(dump.size() / 2);
        } else if (damage == QLatin1String("garbage")) {
            written = QByteArray(4096, 'x');
        } else if (damage == QLatin1String("newer")) {
            written = dump;
            const QString description = bad + QStringLiteral("/snapshot.json");
            QByteArray json = testing::readFile(description);
            json.replace(QRegularExpression(QStringLiteral("\"serverVersion\": *\"[^\"]*\""))
                             .match(QString::fromUtf8(json))
                             .captured()
                             .toUtf8(),
                         "\"serverVersion\": \"99.1.0-MariaDB\"");
            testing::writeFile(description, json);
            QVERIFY(json.contains("99.1.0"));
        } else {
            QProcess zstd;
            zstd.start(QStringLiteral("/usr/bin/zstd"),
                       {QStringLiteral("-q"), QStringLiteral("-c")});
            zstd.write("DROP DATABASE IF EXISTS shop;\n");
            zstd.closeWriteChannel();
            QVERIFY(zstd.waitForFinished());
            written = zstd.readAllStandardOutput();
        }
        testing::writeFile(bad + QStringLiteral("/dump.sql.zst"), written);
        const int before = int(snapshotsOf(*m_box).size());

        const CliSandbox::Run refused =
            m_box->run({QStringLiteral("restore"), QStringLiteral("damaged")});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.outText().contains(QStringLiteral("数据库未做任何更改")),
                 qPrintable(refused.outText()));
        QCOMPARE(sql(QStringLiteral("SELECT COUNT(*) FROM shop.items")), QStringLiteral("2"));
        QCOMPARE(int(snapshotsOf(*m_box).size()), before);
    }

    // A snapshot that loads wrong halfway (it passes every check): the report names the safety
    // snapshot, which puts the database back.
    void failedLoadNamesTheSafetySnapshot() {
        QCOMPARE(m_box->run({QStringLiteral("backup")}).exitCode, 0);
        const QString good = backups() + QLatin1Char('/') + newestName(*m_box);
        const QString bad = backups() + QStringLiteral("/fails-halfway");
        QVERIFY(QDir().mkpath(bad));
        QVERIFY(QFile::copy(good + QStringLiteral("/snapshot.json"),
                            bad + QStringLiteral("/snapshot.json")));
        QProcess zstd;
        zstd.start(QStringLiteral("/usr/bin/zstd"), {QStringLiteral("-q"), QStringLiteral("-c")});
        zstd.write("CREATE DATABASE shop; USE shop; CREATE TABLE items (id INT);\n"
                   "INSERT INTO missing VALUES (1);\n-- Dump completed on 2026-12-10 12:00:00\n");
        zstd.closeWriteChannel();
        QVERIFY(zstd.waitForFinished());
        testing::writeFile(bad + QStringLiteral("/dump.sql.zst"), zstd.readAllStandardOutput());

        const CliSandbox::Run failed =
            m_box->run({QStringLiteral("restore"), QStringLiteral("fails-halfway")});
        QCOMPARE(failed.exitCode, 1);
        const QString safety = newestName(*m_box);
        QVERIFY(safety.endsWith(QStringLiteral("-before-restore")));
        QVERIFY2(failed.outText().contains(QStringLiteral("zelto-panel-cli restore ") + safety),
                 qPrintable(failed.outText()));
        QCOMPARE(m_box->run({QStringLiteral("restore"), safety}).exitCode, 0);
        QCOMPARE(sql(QStringLiteral("SELECT name FROM shop.items ORDER BY id")),
                 QStringLiteral("茶 🍵\ncoffee"));
    }

    // With the database stopped the snapshot is still made, and it stays stopped; a panel
    // killed in the middle of a dump (stopped or running database) leaves no snapshot and no
    // server behind, and the next run removes what it left.
    void killedDuringDump_data() {
        QTest::addColumn<bool>("running");
        QTest::newRow("database running") << true;
        QTest::newRow("database stopped") << false;
    }
    void killedDuringDump() {
        QFETCH(bool, running);
        // About 40 MB that does not compress to nothing, so that the dump takes a while.
        QCOMPARE(
            sql(QStringLiteral(
                "USE shop; CREATE TABLE shop.big (id INT AUTO_INCREMENT PRIMARY KEY, pad TEXT); "
                "INSERT INTO shop.big (pad) SELECT REPEAT(MD5(RAND()), 30) FROM seq_1_to_40000")),
            QString());
        if (!running) {
            QVERIFY(stop());
            QCOMPARE(m_box->run({QStringLiteral("backup")}).exitCode, 0);
            QVERIFY(!serverOfSandboxRuns());
            QVERIFY(!testing::portAnswers(3306));
        }
        QProcess panel;
        panel.setProcessEnvironment(m_box->environment());
        panel.start(m_box->appDir() + QStringLiteral("/zelto-panel-cli"),
                    {QStringLiteral("backup")});
        QVERIFY(panel.waitForStarted());
        QVERIFY(testing::waitFor(
            [&] {
                return !QDir(backups())
                            .entryList({QStringLiteral(".partial-*")}, QDir::Dirs | QDir::Hidden)
                            .isEmpty();
            },
            60000));
        ::kill(pid_t(panel.processId()), SIGKILL);
        QVERIFY(panel.waitForFinished());
        const int listed = int(snapshotsOf(*m_box).size());
        QCOMPARE(listed, running ? 0 : 1);
        // The dump and a private server end with the panel.
        if (!running) {
            QVERIFY(testing::waitFor([&] { return !serverOfSandboxRuns(); }, 60000));
            QVERIFY(start());
        }
        QCOMPARE(sql(QStringLiteral("SELECT COUNT(*) FROM shop.big")), QStringLiteral("40000"));
        QCOMPARE(m_box->run({QStringLiteral("backup")}).exitCode, 0);
        QVERIFY(QDir(backups())
                    .entryList({QStringLiteral(".partial-*")}, QDir::Dirs | QDir::Hidden)
                    .isEmpty());
        QCOMPARE(int(snapshotsOf(*m_box).size()), listed + 1);
    }

    // An update whose code changes the schema on its first request, then the undo and the
    // restore of the snapshot the update took: schema and rows as before.
    void updateUndoneAndRestored() {
        LocalHttpServer server;
        server.response.body =
            writeZip(m_box->base() + QStringLiteral("/served.zip"),
                     {"index.php=<?php $db = mysqli_connect('localhost', 'root', 'kpzw', 'shop');"
                      " mysqli_query($db, 'ALTER TABLE items ADD COLUMN price INT');"
                      " mysqli_query($db, 'UPDATE items SET name = \"changed\"'); echo 'migrated';",
                      "include/lib.php=lib"});
        const CliSandbox::Run updated =
            m_box->run({QStringLiteral("update"), QStringLiteral("--from"), server.archiveUrl()});
        QVERIFY2(updated.exitCode == 0, qPrintable(updated.outText()));
        const QString before = newestName(*m_box);
        QVERIFY(before.endsWith(QStringLiteral("-before-update")));
        QVERIFY(updated.outText().contains(QStringLiteral("更新前的数据库快照: ") + before));
        QProcess curl;
        curl.start(QStringLiteral("/usr/bin/curl"),
                   {QStringLiteral("-s"), QStringLiteral("http://127.0.0.1:8000/")});
        QVERIFY(curl.waitForFinished());
        QCOMPARE(curl.readAllStandardOutput(), QByteArray("migrated"));
        QCOMPARE(sql(QStringLiteral("SELECT COUNT(*) FROM information_schema.columns WHERE "
                                    "table_schema = 'shop' AND column_name = 'price'")),
                 QStringLiteral("1"));

        const CliSandbox::Run undone = m_box->run({QStringLiteral("undo")});
        QVERIFY2(undone.exitCode == 0, qPrintable(undone.outText()));
        QVERIFY2(undone.outText().contains(QStringLiteral("zelto-panel-cli restore ") + before),
                 qPrintable(undone.outText()));
        QVERIFY(newestName(*m_box).endsWith(QStringLiteral("-before-undo")));
        QCOMPARE(m_box->run({QStringLiteral("restore"), before}).exitCode, 0);
        QCOMPARE(sql(QStringLiteral("SELECT COUNT(*) FROM information_schema.columns WHERE "
                                    "table_schema = 'shop' AND column_name = 'price'")),
                 QStringLiteral("0"));
        QCOMPARE(sql(QStringLiteral("SELECT name FROM shop.items ORDER BY id")),
                 QStringLiteral("茶 🍵\ncoffee"));
    }

    // A full file system for the backups: a clear failure, nothing removed (not even an
    // automatic snapshot the retention could take), and an update refused before it changes
    // the site.
    void fullBackupsDisk() {
        QCOMPARE(m_box->run({QStringLiteral("backup")}).exitCode, 0);
        const QString kept = newestName(*m_box);
        const QString keptDir = backups() + QLatin1Char('/') + kept;
        const QString description = keptDir + QStringLiteral("/snapshot.json");
        testing::writeFile(
            description,
            testing::readFile(description).replace("\"by-hand\"", "\"before-update\""));
        const QString mounted = m_box->base() + QStringLiteral("/small");
        QVERIFY(QDir().mkpath(mounted));
        if (::mount("tmpfs", QFile::encodeName(mounted).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("a small file system cannot be mounted here");
        const auto unmount =
            qScopeGuard([&] { ::umount2(QFile::encodeName(mounted).constData(), MNT_DETACH); });
        QCOMPARE(snapshotsOf(*m_box).at(0).toObject().value(QStringLiteral("reason")).toString(),
                 QStringLiteral("before-update"));
        QVERIFY(QProcess::execute(QStringLiteral("/bin/cp"),
                                  {QStringLiteral("-a"), keptDir, mounted}) == 0);
        QVERIFY(QDir(backups()).removeRecursively());
        QVERIFY(QFile::link(mounted, backups()));

        const CliSandbox::Run refused = m_box->run({QStringLiteral("backup")});
        QCOMPARE(refused.exitCode, 1);
        QVERIFY2(refused.outText().contains(QStringLiteral("磁盘空间不足")),
                 qPrintable(refused.outText()));
        QVERIFY(QFileInfo::exists(backups() + QLatin1Char('/') + kept +
                                  QStringLiteral("/dump.sql.zst")));

        LocalHttpServer server;
        server.response.body = writeZip(m_box->base() + QStringLiteral("/served.zip"),
                                        {"index.php=new", "include/lib.php=lib"});
        const QByteArray site =
            testing::readFile(root() + QStringLiteral("/runtime/www/index.php"));
        const CliSandbox::Run update =
            m_box->run({QStringLiteral("update"), QStringLiteral("--from"), server.archiveUrl()});
        QCOMPARE(update.exitCode, 1);
        QVERIFY2(update.outText().contains(QStringLiteral("站点未做任何更改")),
                 qPrintable(update.outText()));
        QCOMPARE(testing::readFile(root() + QStringLiteral("/runtime/www/index.php")), site);
        QCOMPARE(int(snapshotsOf(*m_box).size()), 1);
    }
};

QTEST_GUILESS_MAIN(BackupEndToEndTest)
#include "tst_backup_e2e.moc"
