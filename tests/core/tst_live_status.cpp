#include "core/status.h"
#include "platform/process.h"
#include "services/service_watch.h"
#include "test_support.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cerrno>
#include <csignal>

#include <sys/inotify.h>
#include <unistd.h>

using namespace testing;

namespace {

constexpr std::chrono::milliseconds kFastBeat{50};

struct Fixture {
    Fixture() {
        makeValidRoot(box.installedRoot());
        QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/config"));
        QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/mysql/data"));
        model = box.makeModel();
    }
    ~Fixture() {
        if (server > 0)
            ::kill(server, SIGKILL);
    }
    // A stand-in site server whose pid is in the site server's pid file.
    void startSiteServer() {
        const Result<pid_t> child =
            platform::spawnDetached(QStringLiteral("/bin/sleep"), {QStringLiteral("60")}, {});
        QVERIFY(child.has_value());
        server = *child;
        writeFile(model->phpWebPidPath(), QByteArray::number(server) + '\n');
    }

    TestSandbox box;
    std::shared_ptr<PanelViewModel> model;
    pid_t server = -1;
};

} // namespace

class TestLiveStatus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void backgroundRefreshPublishesLikeRefresh();
    void killedServerTurnsFalseAndLogsStay_data();
    void killedServerTurnsFalseAndLogsStay();
    void fullRefreshSupersedesLiveProbe();
    void beatWritesNothing();
};

// The probe runs on a worker; the publications are those of refreshStatus(), in its order.
void TestLiveStatus::backgroundRefreshPublishesLikeRefresh() {
    Fixture f;
    f.startSiteServer();
    f.model->refreshStatus();
    const QString expected = f.model->logs();
    QVERIFY(f.model->status().isRunning(Service::Site));

    // Every field other than it will be, so that each assignment shows.
    f.model->setLogs(QStringLiteral("before"));
    f.model->setPermissionHint(QStringLiteral("x"));
    f.model->setServiceRunning(Service::Database, true);
    f.model->setServiceRunning(Service::Site, false);
    f.model->setServiceRunning(Service::PhpMyAdmin, true);
    QStringList seen; // what each change signal showed: hint, status, log
    connect(f.model.get(), &PanelViewModel::changed, this, [&] {
        const ServiceStatus s = f.model->status();
        seen << QStringLiteral("%1|%2%3%4|%5")
                    .arg(f.model->permissionHint())
                    .arg(int(s.isRunning(Service::Database)))
                    .arg(int(s.isRunning(Service::Site)))
                    .arg(int(s.isRunning(Service::PhpMyAdmin)))
                    .arg(f.model->logs().left(6));
    });
    f.model->refreshStatusInBackground();
    f.model->refreshStatusInBackground();
    QVERIFY(waitFor([&] { return seen.size() == 12; }));
    const QString published = QStringLiteral("|010|=== 服务");
    QCOMPARE(seen.mid(0, 6),
             (QStringList{QStringLiteral("|101|before"), QStringLiteral("|001|before"),
                          QStringLiteral("|011|before"), QStringLiteral("|010|before"), published,
                          published}));
    QCOMPARE(seen.mid(6), QStringList(6, published));
    QCOMPARE(f.model->logs(), expected);
}

// With the live status on, a server that dies shows as stopped without any press; only that
// field is published, and the user's log stays as it was.
// A server that a start brought up and that ends without a stop of the panel's is told once,
// with the last lines of its log since that start, to the first model that finds it; every
// model shows it until the next start.
void TestLiveStatus::killedServerTurnsFalseAndLogsStay_data() {
    QTest::addColumn<bool>("broughtUp");
    QTest::addColumn<bool>("stopIntended");
    QTest::addColumn<bool>("earlierBoot");
    QTest::newRow("not brought up by a start") << false << false << false;
    QTest::newRow("stopped by itself") << true << false << false;
    QTest::newRow("stopped by a stop") << true << true << false;
    QTest::newRow("brought up before the machine restarted") << true << false << true;
}

void TestLiveStatus::killedServerTurnsFalseAndLogsStay() {
    QFETCH(bool, broughtUp);
    QFETCH(bool, stopIntended);
    QFETCH(bool, earlierBoot);
    Fixture f;
    const QString cfg = f.model->cfgDir();
    writeFile(f.model->phpWebLogPath(), "before this start\n");
    const qint64 logOffset = QFileInfo(f.model->phpWebLogPath()).size();
    appendFile(f.model->phpWebLogPath(), "one\ntwo\nthree\nPHP Fatal error: four\n");
    writeFile(f.model->phpDebuggingMarkerPath(), "xdebug\n");
    f.startSiteServer();
    if (broughtUp)
        services::recordServiceUp(cfg, Service::Site, logOffset);
    if (earlierBoot)
        writeFile(cfg + QStringLiteral("/.up-site"), QByteArray::number(logOffset) + " 0-0-0\n");
    f.model->refreshStatus();
    QVERIFY(f.model->status().isRunning(Service::Site));
    f.model->setLogs(QStringLiteral("the user's own notes"));
    const QString summary = f.model->errorSummary();

    QSignalSpy changes(f.model.get(), &PanelViewModel::changed);
    QSignalSpy stops(f.model.get(), &PanelViewModel::serviceStoppedUnexpectedly);
    f.model->setLiveStatus(true, kFastBeat);
    QTest::qWait(5 * int(kFastBeat.count())); // several beats: nothing changed, nothing published
    QCOMPARE(changes.count(), 0);

    if (stopIntended)
        services::recordIntendedStop(cfg, Service::Site);
    ::kill(f.server, SIGKILL);
    QVERIFY(waitFor([&] { return !f.model->status().isRunning(Service::Site); }, 10000));
    QTest::qWait(3 * int(kFastBeat.count()));
    const bool unexpected = broughtUp && !stopIntended && !earlierBoot;
    QCOMPARE(stops.count(), int(unexpected));
    QCOMPARE(changes.count(), unexpected ? 2 : 1);
    QCOMPARE(f.model->logs(), QStringLiteral("the user's own notes"));
    QCOMPARE(f.model->errorSummary(), summary);
    QVERIFY(f.model->phpDebugging());
    QCOMPARE(f.model->unexpectedStop(Service::Site).has_value(), unexpected);
    QVERIFY(!f.model->unexpectedStop(Service::Database));
    if (unexpected) {
        const auto told = stops.first().first().value<UnexpectedStop>();
        QCOMPARE(told.service, Service::Site);
        QCOMPARE(told.lines, QStringList({"two", "three", "PHP Fatal error: four"}));
        QCOMPARE(*f.model->unexpectedStop(Service::Site), told);
        // Another panel shows it, and does not tell it again; the next start forgets it.
        auto other = f.box.makeModel();
        QSignalSpy otherStops(other.get(), &PanelViewModel::serviceStoppedUnexpectedly);
        other->refreshStatus();
        QCOMPARE(other->unexpectedStop(Service::Site), f.model->unexpectedStop(Service::Site));
        QCOMPARE(otherStops.count(), 0);
        f.startSiteServer();
        services::recordServiceUp(cfg, Service::Site, 0);
        other->refreshStatus();
        QVERIFY(other->status().isRunning(Service::Site));
        QVERIFY(!other->unexpectedStop(Service::Site));
    }

    f.model->setLiveStatus(false);
    QVERIFY(!f.model->isLiveStatusOn());
}

// A live probe that comes back after a full status was published is older than it: dropped.
void TestLiveStatus::fullRefreshSupersedesLiveProbe() {
    Fixture f;
    f.startSiteServer();
    f.model->refreshStatus();
    QVERIFY(f.model->status().isRunning(Service::Site));
    // The live probe finds the server running on its worker; its answer waits in the main
    // queue (the event loop does not run) while the server ends and a full refresh publishes.
    f.model->refreshLiveStatus();
    QThread::msleep(300);
    ::kill(f.server, SIGKILL);
    for (int i = 0; i < 500 && platform::isProcessAlive(f.server); ++i)
        QThread::msleep(10);
    f.model->refreshStatus();
    QVERIFY(!f.model->status().isRunning(Service::Site));
    QTest::qWait(200); // the live probe's answer, whatever it found, has come back
    QVERIFY(!f.model->status().isRunning(Service::Site));
}

// The beat learns whether the runtime can be written without writing to it (file watchers see
// nothing), and still shows a directory made unwritable behind the panel's back, in the
// words of a full refresh.
void TestLiveStatus::beatWritesNothing() {
    Fixture f;
    f.model->refreshStatus();
    const QString runtime = f.box.installedRoot() + QStringLiteral("/runtime");
    const int watcher = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watcher >= 0);
    const auto closeWatcher = qScopeGuard([watcher] { ::close(watcher); });
    for (const QString& dir :
         {runtime, runtime + QStringLiteral("/config"), runtime + QStringLiteral("/mysql"),
          runtime + QStringLiteral("/mysql/data")})
        QVERIFY(::inotify_add_watch(watcher, QFile::encodeName(dir).constData(),
                                    IN_CREATE | IN_MODIFY | IN_MOVED_TO | IN_DELETE) >= 0);
    f.model->setLiveStatus(true, kFastBeat);
    QTest::qWait(10 * int(kFastBeat.count()));
    char events[4096];
    QCOMPARE(::read(watcher, events, sizeof events), ssize_t(-1));
    QCOMPARE(errno, EAGAIN);

    const QString mysql = runtime + QStringLiteral("/mysql");
    if (!makeUnwritable(mysql))
        QSKIP("no way to make a directory unwritable for this user here (chattr unavailable)");
    const auto writable = qScopeGuard([mysql] { makeWritable(mysql); });
    QVERIFY(waitFor([&] { return !f.model->permissionHint().isEmpty(); }, 2000));
    QCOMPARE(f.model->permissionHint(), f.model->permissionCheckHint());
    f.model->setLiveStatus(false);
}

QTEST_GUILESS_MAIN(TestLiveStatus)
#include "tst_live_status.moc"
