#include "backup/snapshot_store.h"
#include "core/service_table.h"
#include "test_support.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace testing;

namespace {

void quietTools(TestSandbox& box) {
    const QString bin = box.base() + QStringLiteral("/bin");
    writeScript(bin + QStringLiteral("/pkill"), QStringLiteral("exit 1"));
    box.tools = SystemTools::of(bin + QStringLiteral("/pkill"), QStringLiteral("/usr/bin/rsync"));
}

} // namespace

class TestDesktopActions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void logBlock_data();
    void logBlock();
    void copyLogs();
    void openAddresses();
    void choosePanelRoot_data();
    void choosePanelRoot();
    void openPhpMyAdminWhenRunningStartsNothing_data();
    void openPhpMyAdminWhenRunningStartsNothing();
    void openPhpMyAdminWithoutItsDirectoryStillOpens();
    void backgroundActionsPublishLikeTheirCalls_data();
    void backgroundActionsPublishLikeTheirCalls();
};

void TestDesktopActions::logBlock_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("footer");
    QTest::addColumn<QString>("expected");
    const QString t = QStringLiteral("=== 停止完成 ===");
    QTest::newRow("entries, no footer")
        << t << QStringList{"a", "", "b"} << QStringList{} << t + "\na\nb";
    QTest::newRow("with footer") << t << QStringList{"a", "", "b"} << QStringList{"x"}
                                 << t + "\na\nb\n\nx";
    QTest::newRow("only empty entries") << t << QStringList{"", ""} << QStringList{} << t;
    QTest::newRow("only empty footer") << t << QStringList{} << QStringList{"", ""} << t + "\n";
    QTest::newRow("empty title kept") << QString() << QStringList{"a"} << QStringList{} << "\na";
    QTest::newRow("spaces are not empty") << t << QStringList{"  "} << QStringList{} << t + "\n  ";
    QTest::newRow("multi-line entry")
        << t << QStringList{"l1\nl2"} << QStringList{"f1", "", "f2"} << t + "\nl1\nl2\n\nf1\nf2";
}

void TestDesktopActions::logBlock() {
    QFETCH(QString, title);
    QFETCH(QStringList, entries);
    QFETCH(QStringList, footer);
    QFETCH(QString, expected);
    QCOMPARE(PanelViewModel::buildLogBlock(title, entries, footer), expected);
}

void TestDesktopActions::copyLogs() {
    TestSandbox box;
    auto model = box.makeModel();
    model->copyLogs();
    QCOMPARE(box.desktop->clipboardClears, 1);
    QCOMPARE(box.desktop->clipboard, std::optional<QString>(QString()));
    model->setLogs(QStringLiteral("typed by the user\n第二行"));
    QSignalSpy spy(model.get(), &PanelViewModel::changed);
    model->copyLogs();
    QCOMPARE(box.desktop->clipboard,
             std::optional<QString>(QStringLiteral("typed by the user\n第二行")));
    QCOMPARE(spy.count(), 0);
}

void TestDesktopActions::openAddresses() {
    TestSandbox box;
    quietTools(box);
    makeValidRoot(box.installedRoot());
    auto model = box.makeModel();
    model->openSite();
    model->openRuntimeDirectory();
    model->openPrivacySettings();
    QCOMPARE(box.desktop->openedUrls.size(), size_t(2));
    QCOMPARE(box.desktop->openedUrls[0], QUrl(QStringLiteral("http://localhost:8000")));
    QCOMPARE(box.desktop->openedUrls[1],
             QUrl::fromLocalFile(box.installedRoot() + QStringLiteral("/runtime")));
    QCOMPARE(box.desktop->privacyOpens, 1);
    QCOMPARE(model->logs(), QString()); // none of them reports
}

void TestDesktopActions::choosePanelRoot_data() {
    QTest::addColumn<QString>("pick"); // "valid", "no-php", "cancel"
    QTest::newRow("valid") << "valid";
    QTest::newRow("lacks php") << "no-php";
    QTest::newRow("cancelled") << "cancel";
}

void TestDesktopActions::choosePanelRoot() {
    QFETCH(QString, pick);
    TestSandbox box;
    quietTools(box);
    box.noResourcePath = true;
    const QString chosen = box.base() + QStringLiteral("/my panel 根");
    makeValidRoot(chosen);
    QDir().mkpath(chosen + QStringLiteral("/runtime/config"));
    QDir().mkpath(chosen + QStringLiteral("/runtime/mysql/data"));
    if (pick == QLatin1String("no-php"))
        QDir(chosen + QStringLiteral("/runtime/php")).removeRecursively();
    backup::SnapshotInfo kept;
    kept.created = QDateTime(QDate(2026, 12, 10), QTime(9, 0));
    kept.name = QStringLiteral("20261210-090000-by-hand");
    testing::writeFile(chosen + QStringLiteral("/backups/") + kept.name +
                           QStringLiteral("/snapshot.json"),
                       backup::descriptionJson(kept));
    testing::writeFile(
        chosen + QStringLiteral("/backups/") + kept.name + QStringLiteral("/dump.sql.zst"), "x");
    box.desktop->chooserAnswers.push_back(pick == QLatin1String("cancel") ? std::nullopt
                                                                          : std::optional(chosen));
    auto model = box.makeModel();
    model->setSavedRoot(QStringLiteral("/old/pick"));
    model->setLogs(QStringLiteral("before"));
    model->setPermissionHint(QStringLiteral("sentinel"));

    model->choosePanelRoot();
    QCOMPARE(box.desktop->chooserPrompts, QStringList{QStringLiteral("选择")});
    QCOMPARE(box.desktop->chooserMessages, QStringList{QStringLiteral("请选择 Zelto-panel 目录")});
    if (pick == QLatin1String("valid")) {
        QCOMPARE(model->savedRoot(), chosen);
        QCOMPARE(model->logs(), QStringLiteral("已设置目录: ") + chosen);
        QCOMPARE(model->permissionHint(), QString()); // the status was refreshed under the pick
        QCOMPARE(model->zeltoPanelRoot(), chosen);
        // The snapshots listed are the new root's.
        QVERIFY(testing::waitFor([&] { return model->snapshotNames() == QStringList{kept.name}; }));
    } else if (pick == QLatin1String("no-php")) {
        QCOMPARE(model->savedRoot(), QStringLiteral("/old/pick"));
        QCOMPARE(model->logs(), QStringLiteral("选择的目录不是有效的 Zelto-panel 根目录"));
        QCOMPARE(model->permissionHint(), QStringLiteral("sentinel")); // not refreshed
        QCOMPARE(model->errorSummary(), QString());
    } else {
        QCOMPARE(model->savedRoot(), QStringLiteral("/old/pick"));
        QCOMPARE(model->logs(), QStringLiteral("before"));
        QCOMPARE(model->permissionHint(), QStringLiteral("sentinel"));
    }
}

void TestDesktopActions::openPhpMyAdminWhenRunningStartsNothing_data() {
    QTest::addColumn<bool>("background");
    QTest::newRow("on the calling thread") << false;
    QTest::newRow("on a worker") << true;
}

void TestDesktopActions::openPhpMyAdminWhenRunningStartsNothing() {
    QFETCH(bool, background);
    TestSandbox box;
    quietTools(box);
    box.noResourcePath = true;
    makeValidRoot(box.installedRoot());
    auto model = box.makeModel();
    // This test process stands in for a live phpMyAdmin server.
    writeFile(model->phpMyAdminPidPath(), QByteArray::number(::getpid()));
    model->setLogs(QStringLiteral("untouched"));
    QSignalSpy spy(model.get(), &PanelViewModel::changed);
    if (background) {
        model->openPhpMyAdminInBackground();
        QVERIFY(waitFor([&] { return !box.desktop->openedUrls.empty(); }));
    } else {
        model->openPhpMyAdmin();
    }
    QCOMPARE(spy.count(), 0);
    QCOMPARE(model->logs(), QStringLiteral("untouched"));
    QVERIFY(!QFile::exists(model->phpMyAdminConfigPath()));
    QCOMPARE(box.desktop->openedUrls.size(), size_t(1));
    QCOMPARE(box.desktop->openedUrls[0], QUrl(QStringLiteral("http://localhost:900")));
}

void TestDesktopActions::openPhpMyAdminWithoutItsDirectoryStillOpens() {
    TestSandbox box;
    quietTools(box);
    box.noResourcePath = true;
    makeValidRoot(box.installedRoot());
    QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/config"));
    QDir().mkpath(box.installedRoot() + QStringLiteral("/runtime/mysql/data"));
    QDir(box.installedRoot() + QStringLiteral("/runtime/phpmyadmin")).removeRecursively();
    auto model = box.makeModel();
    model->openPhpMyAdmin();
    // The start's message is dropped: the log is the refreshed status.
    QVERIFY(model->logs().startsWith(QStringLiteral("=== 服务状态 ===")));
    QVERIFY(model->logs().contains(QStringLiteral("MySQL Web: 已停止")));
    QVERIFY(!QFile::exists(model->phpMyAdminPidPath()));
    QCOMPARE(box.desktop->openedUrls.size(), size_t(1));
    QCOMPARE(box.desktop->openedUrls[0], QUrl(QStringLiteral("http://localhost:900")));
}

void TestDesktopActions::backgroundActionsPublishLikeTheirCalls_data() {
    QTest::addColumn<QString>("action");
    QTest::newRow("open phpMyAdmin that cannot start") << "phpmyadmin";
    QTest::newRow("choose a valid root") << "root";
}

// The window's ways of the two actions publish what the calls do, in the same order, with the
// start and the probe on a worker.
void TestDesktopActions::backgroundActionsPublishLikeTheirCalls() {
    QFETCH(QString, action);
    QStringList seen[2];
    for (const bool background : {false, true}) {
        TestSandbox box;
        quietTools(box);
        box.noResourcePath = true;
        const QString chosen = box.base() + QStringLiteral("/chosen");
        for (const QString& root : {box.installedRoot(), chosen}) {
            makeValidRoot(root);
            QDir().mkpath(root + QStringLiteral("/runtime/config"));
            QDir().mkpath(root + QStringLiteral("/runtime/mysql/data"));
        }
        QDir(box.installedRoot() + QStringLiteral("/runtime/phpmyadmin")).removeRecursively();
        box.desktop->chooserAnswers.push_back(chosen);
        auto model = box.makeModel();
        model->setLogs(QStringLiteral("before"));
        model->setPermissionHint(QStringLiteral("x"));
        QStringList& log = seen[background];
        connect(model.get(), &PanelViewModel::changed, this, [&] {
            const ServiceStatus s = model->status();
            log << QStringLiteral("%1|%2%3%4|%5|%6")
                       .arg(model->permissionHint())
                       .arg(int(s.isRunning(Service::Database)))
                       .arg(int(s.isRunning(Service::Site)))
                       .arg(int(s.isRunning(Service::PhpMyAdmin)))
                       .arg(model->logs(), model->errorSummary())
                       .replace(box.base(), QStringLiteral("<base>"));
        });
        if (action == QLatin1String("phpmyadmin")) {
            if (background)
                model->openPhpMyAdminInBackground();
            else
                model->openPhpMyAdmin();
            QVERIFY(waitFor([&] { return !box.desktop->openedUrls.empty(); }));
        } else {
            if (background)
                model->choosePanelRootInBackground();
            else
                model->choosePanelRoot();
            QVERIFY(waitFor([&] { return model->logs().startsWith(QStringLiteral("已设置")); }));
            QCOMPARE(model->zeltoPanelRoot(), chosen);
        }
        QTest::qWait(50); // nothing more follows
        disconnect(model.get(), nullptr, this, nullptr);
    }
    QVERIFY(seen[0].size() >= 5);
    QCOMPARE(seen[1], seen[0]);
}

QTEST_GUILESS_MAIN(TestDesktopActions)
#include "tst_desktop_actions.moc"
