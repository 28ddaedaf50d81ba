#include "core/runtime_root.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <thread>
#include <vector>

using namespace testing;

namespace {

// A shipped runtime in the sandbox's resources, with an executable program, a link and a
// site with data.
void makeShippedRuntime(const TestSandbox& box) {
    const QString rt = box.resourceDir() + QStringLiteral("/runtime");
    makeValidRoot(box.resourceDir());
    writeScript(rt + QStringLiteral("/php/PHP8.2/bin/php"), QStringLiteral("exit 0"));
    QFile::link(QStringLiteral("PHP8.2"), rt + QStringLiteral("/php/current"));
    writeFile(rt + QStringLiteral("/www/index.php"), "<?php echo 'shipped';");
    writeFile(rt + QStringLiteral("/mysql/data/shipped.txt"), "shipped data");
}

QStringList entriesOf(const QString& dir) {
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

} // namespace

class TestRuntimeRoot : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void validRoot_data();
    void validRoot();
    void freshInstallCopiesOnceKeepingModesAndLinks();
    void validInstalledRootIsLeftAlone();
    void invalidOldRuntimeIsMovedAsideAndDataCarriedOver();
    void pickIsUsedOnlyWithoutUsableInstalledOrResourceRoot();
    void resourceRootIsUsedWhenInstalledRootCannotBeMade();
    void nothingUsableGivesInstalledPath();
    void invalidShippedRuntimeIsNotInstalled();
    void concurrentResolutionInstallsOnce();
    void unreadableShippedDirectoryInstallsNothing();
    void installsIntoWritableRootBelowUnwritableParent();
    void layoutPathsFollowRoot();
};

void TestRuntimeRoot::validRoot_data() {
    QTest::addColumn<bool>("mysqld");
    QTest::addColumn<bool>("php");
    QTest::addColumn<bool>("phpmyadmin");
    QTest::addColumn<bool>("valid");
    QTest::newRow("complete") << true << true << true << true;
    QTest::newRow("no php") << true << false << true << false;
    QTest::newRow("no mysqld") << false << true << true << false;
    QTest::newRow("no phpmyadmin") << true << true << false << false;
    QTest::newRow("empty") << false << false << false << false;
}

void TestRuntimeRoot::validRoot() {
    QFETCH(bool, mysqld);
    QFETCH(bool, php);
    QFETCH(bool, phpmyadmin);
    QFETCH(bool, valid);
    QTemporaryDir dir;
    const QString r = dir.path();
    if (mysqld)
        writeFile(r + QStringLiteral("/runtime/mysql/bin/mysqld"), "x"); // a file of any kind
    if (php)
        QDir().mkpath(r + QStringLiteral("/runtime/php"));
    if (phpmyadmin)
        writeFile(r + QStringLiteral("/runtime/phpmyadmin"), "a file counts too");
    QCOMPARE(core::isValidPanelRootPath(r), valid);
}

void TestRuntimeRoot::freshInstallCopiesOnceKeepingModesAndLinks() {
    TestSandbox box;
    makeShippedRuntime(box);
    auto model = box.makeModel();
    const QString installed = box.installedRoot();
    QVERIFY(!QFileInfo::exists(installed));

    QCOMPARE(model->zeltoPanelRoot(), installed);
    const QString php = installed + QStringLiteral("/runtime/php/PHP8.2/bin/php");
    QVERIFY(QFileInfo(php).isExecutable());
    QVERIFY(QFileInfo(installed + QStringLiteral("/runtime/php/current")).isSymLink());
    QCOMPARE(QFileInfo(installed + QStringLiteral("/runtime/php/current")).symLinkTarget(),
             QFileInfo(installed + QStringLiteral("/runtime/php/PHP8.2")).absoluteFilePath());
    QCOMPARE(readFile(installed + QStringLiteral("/runtime/www/index.php")),
             QByteArray("<?php echo 'shipped';"));

    // Later reads only test: a change in the shipped runtime does not reach the installed one.
    writeFile(box.resourceDir() + QStringLiteral("/runtime/www/new.php"), "new");
    QCOMPARE(model->zeltoPanelRoot(), installed);
    QVERIFY(!QFileInfo::exists(installed + QStringLiteral("/runtime/www/new.php")));
    QCOMPARE(entriesOf(installed), QStringList{QStringLiteral("runtime")});
}

void TestRuntimeRoot::validInstalledRootIsLeftAlone() {
    TestSandbox box;
    makeShippedRuntime(box);
    makeValidRoot(box.installedRoot());
    writeFile(box.installedRoot() + QStringLiteral("/runtime/www/index.php"), "mine");
    auto model = box.makeModel();
    QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    QCOMPARE(readFile(box.installedRoot() + QStringLiteral("/runtime/www/index.php")),
             QByteArray("mine"));
    QVERIFY(!QFileInfo::exists(box.installedRoot() + QStringLiteral("/runtime/php/PHP8.2")));
}

void TestRuntimeRoot::invalidOldRuntimeIsMovedAsideAndDataCarriedOver() {
    TestSandbox box;
    box.fixedNow = QDateTime(QDate(2026, 12, 8), QTime(9, 30, 5));
    makeShippedRuntime(box);
    const QString rt = box.installedRoot() + QStringLiteral("/runtime");
    // The old runtime lost its php directory, but holds the user's database and site.
    writeScript(rt + QStringLiteral("/mysql/bin/mysqld"), QStringLiteral("exit 0"));
    QDir().mkpath(rt + QStringLiteral("/phpmyadmin"));
    writeFile(rt + QStringLiteral("/mysql/data/mysql/user.frm"), "user table");
    writeFile(rt + QStringLiteral("/www/index.php"), "<?php echo 'my site';");
    writeFile(rt + QStringLiteral("/www/Data/upload.jpg"), "photo");

    auto model = box.makeModel();
    QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    QVERIFY(core::isValidPanelRootPath(box.installedRoot()));
    // The user's data is in the new runtime.
    QCOMPARE(readFile(rt + QStringLiteral("/mysql/data/mysql/user.frm")), QByteArray("user table"));
    QCOMPARE(readFile(rt + QStringLiteral("/www/Data/upload.jpg")), QByteArray("photo"));
    QCOMPARE(readFile(rt + QStringLiteral("/www/index.php")), QByteArray("<?php echo 'my site';"));
    QVERIFY(QFileInfo(rt + QStringLiteral("/php/PHP8.2/bin/php")).isExecutable());
    // Nothing was deleted: the old runtime and the shipped copies are in the aside directory.
    const QString aside = box.installedRoot() + QStringLiteral("/runtime.invalid-20261208-093005");
    QVERIFY2(QFileInfo(aside).isDir(), qPrintable(entriesOf(box.installedRoot()).join(',')));
    QCOMPARE(readFile(aside + QStringLiteral("/mysql/data/shipped.txt")),
             QByteArray("shipped data"));
    QCOMPARE(readFile(aside + QStringLiteral("/www/index.php")),
             QByteArray("<?php echo 'shipped';"));
    QVERIFY(QFileInfo::exists(aside + QStringLiteral("/mysql/bin/mysqld")));
}

void TestRuntimeRoot::pickIsUsedOnlyWithoutUsableInstalledOrResourceRoot() {
    QTemporaryDir picked;
    makeValidRoot(picked.path());
    {
        // A shipped runtime: the pick is stored but the installed root wins.
        TestSandbox box;
        makeShippedRuntime(box);
        auto model = box.makeModel();
        model->setSavedRoot(picked.path());
        QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    }
    {
        // No runtime anywhere: the pick is the root.
        TestSandbox box;
        auto model = box.makeModel();
        model->setSavedRoot(picked.path());
        QCOMPARE(model->zeltoPanelRoot(), picked.path());
        QVERIFY(!QFileInfo::exists(box.installedRoot()));
    }
    {
        // An invalid pick is ignored.
        TestSandbox box;
        QTemporaryDir invalid;
        writeScript(invalid.path() + QStringLiteral("/runtime/mysql/bin/mysqld"),
                    QStringLiteral("exit 0"));
        QDir().mkpath(invalid.path() + QStringLiteral("/runtime/phpmyadmin"));
        auto model = box.makeModel();
        model->setSavedRoot(invalid.path());
        QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    }
}

void TestRuntimeRoot::resourceRootIsUsedWhenInstalledRootCannotBeMade() {
    TestSandbox box;
    makeShippedRuntime(box);
    // A file where the installed root's directory should go makes the installation fail.
    writeFile(box.installedRoot(), "in the way");
    auto model = box.makeModel();
    QCOMPARE(model->zeltoPanelRoot(), box.resourceDir());
    QCOMPARE(readFile(box.installedRoot()), QByteArray("in the way"));
}

void TestRuntimeRoot::nothingUsableGivesInstalledPath() {
    TestSandbox box;
    box.noResourcePath = true;
    auto model = box.makeModel();
    QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    QVERIFY(!QFileInfo::exists(box.installedRoot()));
    QCOMPARE(model->autoDetectedPanelRoot(), box.installedRoot());
    QVERIFY(!model->bundledPanelRoot().has_value());
}

void TestRuntimeRoot::invalidShippedRuntimeIsNotInstalled() {
    TestSandbox box;
    makeShippedRuntime(box);
    QDir(box.resourceDir() + QStringLiteral("/runtime/php")).removeRecursively();
    const QString rt = box.installedRoot() + QStringLiteral("/runtime");
    writeFile(rt + QStringLiteral("/www/index.php"), "mine");
    auto model = box.makeModel();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    // Repeated reads neither copy nor pile up aside directories.
    QCOMPARE(entriesOf(box.installedRoot()), QStringList{QStringLiteral("runtime")});
    QCOMPARE(readFile(rt + QStringLiteral("/www/index.php")), QByteArray("mine"));
    // Told apart from a failed copy by its kind, which is why nothing reports it.
    const Result<> installed = core::installRuntime(box.resourceDir() + QStringLiteral("/runtime"),
                                                    box.installedRoot(), QStringLiteral("x"));
    QVERIFY(!installed && installed.error().kind == ErrorKind::NotFound);
}

void TestRuntimeRoot::concurrentResolutionInstallsOnce() {
    TestSandbox box;
    makeShippedRuntime(box);
    for (int i = 0; i < 200; ++i)
        writeFile(box.resourceDir() + QStringLiteral("/runtime/www/f%1.php").arg(i), "x");
    auto model = box.makeModel();
    std::vector<std::thread> threads;
    std::vector<QString> roots(4);
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] { roots[i] = model->zeltoPanelRoot(); });
    for (auto& t : threads)
        t.join();
    for (const QString& r : roots)
        QCOMPARE(r, box.installedRoot());
    QCOMPARE(entriesOf(box.installedRoot()), QStringList{QStringLiteral("runtime")});
    QCOMPARE(entriesOf(box.installedRoot() + QStringLiteral("/runtime/www")).size(), 201);
}

void TestRuntimeRoot::unreadableShippedDirectoryInstallsNothing() {
    TestSandbox box;
    makeShippedRuntime(box);
    const QString locked = box.resourceDir() + QStringLiteral("/runtime/www/private");
    writeFile(locked + QStringLiteral("/secret.php"), "x");
    QVERIFY(QFile::setPermissions(locked, QFileDevice::Permissions()));
    const auto unlock = qScopeGuard([&] {
        QFile::setPermissions(locked, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    });
    auto model = box.makeModel();
    {
        FileModesApply modes;
        if (!modes.holds())
            QSKIP("cannot make a directory unreadable for this thread");
        // Neither read installs a partial copy, nor does the second move one aside.
        for (int i = 0; i < 2; ++i)
            QCOMPARE(model->zeltoPanelRoot(), box.resourceDir());
        // A copy that fails is no missing runtime: it is reported.
        const Result<> installed =
            core::installRuntime(box.resourceDir() + QStringLiteral("/runtime"),
                                 box.installedRoot(), QStringLiteral("x"));
        QVERIFY(!installed && installed.error().kind == ErrorKind::System);
    }
    QCOMPARE(entriesOf(box.installedRoot()), QStringList());
}

void TestRuntimeRoot::installsIntoWritableRootBelowUnwritableParent() {
    TestSandbox box;
    makeShippedRuntime(box);
    QVERIFY(QDir().mkpath(box.installedRoot()));
    const QFileDevice::Permissions readOnly = QFile::ReadOwner | QFile::ExeOwner;
    QVERIFY(QFile::setPermissions(box.base(), readOnly));
    const auto restore =
        qScopeGuard([&] { QFile::setPermissions(box.base(), readOnly | QFile::WriteOwner); });
    auto model = box.makeModel();
    FileModesApply modes;
    if (!modes.holds())
        QSKIP("cannot make a directory unwritable for this thread");
    QCOMPARE(model->zeltoPanelRoot(), box.installedRoot());
    QCOMPARE(readFile(box.installedRoot() + QStringLiteral("/runtime/www/index.php")),
             QByteArray("<?php echo 'shipped';"));
}

void TestRuntimeRoot::layoutPathsFollowRoot() {
    TestSandbox box;
    makeValidRoot(box.installedRoot());
    auto model = box.makeModel();
    const QString r = box.installedRoot();
    QCOMPARE(model->runtimeDir(), r + "/runtime");
    QCOMPARE(model->cfgDir(), r + "/runtime/config");
    QCOMPARE(model->phpWebPidPath(), r + "/runtime/config/php-web.pid");
    QCOMPARE(model->phpWebLogPath(), r + "/runtime/config/php-web.log");
    QCOMPARE(model->phpMyAdminPidPath(), r + "/runtime/config/phpmyadmin.pid");
    QCOMPARE(model->phpMyAdminLogPath(), r + "/runtime/config/phpmyadmin.log");
    QCOMPARE(model->mysqlDir(), r + "/runtime/mysql");
    QCOMPARE(model->mysqlDataDir(), r + "/runtime/mysql/data");
    QCOMPARE(model->mysqlCnfPath(), r + "/runtime/mysql/my_runtime.cnf");
    QCOMPARE(model->phpMyAdminDir(), r + "/runtime/phpmyadmin");
    QCOMPARE(model->phpMyAdminConfigPath(), r + "/runtime/phpmyadmin/config.inc.php");
    QCOMPARE(model->wwwDir(), r + "/runtime/www");
    QCOMPARE(model->appBundleRoot()->toLocalFile(), r);
}

QTEST_GUILESS_MAIN(TestRuntimeRoot)
#include "tst_runtime_root.moc"
