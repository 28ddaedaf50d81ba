#include "core/process_helpers.h"
#include "core/status.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTest>

#include <csignal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

using namespace testing;

namespace {

// A socket listening on the loopback port, or -1.
int listenOn(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(quint16(port));
    if (fd >= 0 && (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
                    ::listen(fd, 1) != 0)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void makeRuntimeDirs(const QString& root) {
    makeValidRoot(root);
    QDir().mkpath(root + QStringLiteral("/runtime/config"));
    QDir().mkpath(root + QStringLiteral("/runtime/mysql/data"));
}

// Makes dir unwritable for this process, also for root; false when no barrier is available.
} // namespace

class TestStatus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void allStoppedAndWritable();
    void databaseProbe();
    void databaseFallbackTakesRootLiterally();
    void exitedServerIsNotRunning();
    void pidFiles_data();
    void pidFiles();
    void errorSummary_data();
    void errorSummary();
    void rootNamedErrorShowsInSummary();
    void missingDirectoryStopsTheCheck_data();
    void missingDirectoryStopsTheCheck();
    void unwritableDirectoryIsExplained();
};

void TestStatus::allStoppedAndWritable() {
    TestSandbox box;
    makeRuntimeDirs(box.installedRoot());
    auto model = box.makeModel();
    QSignalSpy spy(model.get(), &PanelViewModel::changed);
    model->refreshStatus();
    // hint, three status fields, log, summary: one signal each.
    QCOMPARE(spy.count(), 6);
    QCOMPARE(model->permissionHint(), QString());
    QVERIFY(!model->status().isRunning(Service::Database) &&
            !model->status().isRunning(Service::Site) &&
            !model->status().isRunning(Service::PhpMyAdmin));
    QCOMPARE(model->logs(), QStringLiteral("=== 服务状态 ===\nMySQL: 已停止\nPHP Web: 已停止\n"
                                           "MySQL Web: 已停止\n目录: ") +
                                box.installedRoot() + QStringLiteral("\n"));
    QCOMPARE(model->errorSummary(), QString());
    // No write-test file is left behind.
    QVERIFY(!QFile::exists(box.installedRoot() + QStringLiteral("/runtime/.zelto-write-test")));
    QVERIFY(!QFile::exists(box.installedRoot() +
                           QStringLiteral("/runtime/mysql/data/.zelto-write-test")));
}

// Whatever process holds the database's port makes the database count as running; the
// sandbox's models watch a free port of its own in place of 3306.
void TestStatus::databaseProbe() {
    TestSandbox box;
    makeRuntimeDirs(box.installedRoot());
    auto model = box.makeModel();
    QVERIFY(!model->isMariaDBRunning());
    QCOMPARE(model->mysqlPidFromPort(), std::nullopt);

    const int listener = listenOn(box.databasePort);
    QVERIFY(listener >= 0);
    QVERIFY(model->isMariaDBRunning());
    QVERIFY(model->isMariaDBRunning()); // again, from the holder it remembers
    QCOMPARE(model->mysqlPidFromPort(), ::getpid());
    ::close(listener);
    QVERIFY(!model->isMariaDBRunning());
}

void TestStatus::databaseFallbackTakesRootLiterally() {
    TestSandbox box;
    box.noResourcePath = true;
    const QString root = box.base() + QStringLiteral("/site (old) c++");
    makeRuntimeDirs(root);
    // A sleeper started from that root's mysqld path, found by its command line.
    const QString mysqld = root + QStringLiteral("/runtime/mysql/bin/mysqld");
    writeScript(mysqld, QStringLiteral("while :; do sleep 1; done"));
    const Result<pid_t> server = spawnDetached(QStringLiteral("/bin/sh"), {mysqld}, {});
    QVERIFY(server);
    auto model = box.makeModel();
    model->setSavedRoot(root);
    QCOMPARE(model->zeltoPanelRoot(), root);
    const bool found = model->isMariaDBRunning();
    (void)sendSignal(*server, SIGKILL);
    QVERIFY(found);
    QVERIFY(waitFor([&] { return !model->isMariaDBRunning(); }, 5000));
}

void TestStatus::exitedServerIsNotRunning() {
    TestSandbox box;
    makeRuntimeDirs(box.installedRoot());
    auto model = box.makeModel();
    // A child that has ended but was not reaped yet (a zombie) still answers signal 0.
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    QVERIFY(child > 0);
    QVERIFY(waitFor([&] { return !isProcessAlive(child); }, 5000));
    QVERIFY(sendSignal(child, 0));
    writeFile(model->phpWebPidPath(), QByteArray::number(child));
    const bool running = model->isPhpWebRunning();
    ::waitpid(child, nullptr, 0);
    QVERIFY(!running);
}

void TestStatus::pidFiles_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("running");
    const QByteArray self = QByteArray::number(::getpid());
    QTest::newRow("live process with line break") << self + "\n" << true;
    QTest::newRow("live process with spaces") << "  " + self + "  " << true;
    QTest::newRow("plus sign") << "+" + self << true;
    QTest::newRow("dead process") << QByteArray("2147483000") << false;
    QTest::newRow("zero") << QByteArray("0") << false;
    QTest::newRow("negative") << QByteArray("-5") << false;
    QTest::newRow("letters") << QByteArray("abc") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("overflow") << QByteArray("99999999999") << false;
    QTest::newRow("missing") << QByteArray() << false;
}

void TestStatus::pidFiles() {
    QFETCH(QByteArray, content);
    QFETCH(bool, running);
    TestSandbox box;
    makeRuntimeDirs(box.installedRoot());
    auto model = box.makeModel();
    if (!content.isNull()) {
        writeFile(model->phpWebPidPath(), content);
        writeFile(model->phpMyAdminPidPath(), content);
    }
    QCOMPARE(model->isPhpWebRunning(), running);
    QCOMPARE(model->isPhpMyAdminRunning(), running);
    model->refreshStatus();
    QCOMPARE(model->status().isRunning(Service::Site), running);
    QCOMPARE(model->status().isRunning(Service::PhpMyAdmin), running);
    QCOMPARE(model->logs().contains(QStringLiteral("PHP Web: 运行中")), running);
}

void TestStatus::errorSummary_data() {
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("summary");
    QTest::newRow("none") << "all good\nfine"
                          << "";
    QTest::newRow("case matters") << "ERROR one\nFailed two\nNOT FOUND"
                                  << "";
    QTest::newRow("each keyword")
        << "a error\nb Error\nc 错误\nd failed\ne denied\nf not found\ng 无法\nh 失败"
        << "a error\nb Error\nc 错误\nd failed\ne denied\nf not found\ng 无法\nh 失败";
    QTest::newRow("operation not permitted") << "x\nOperation not permitted here"
                                             << "Operation not permitted here";
    QTest::newRow("missing program or folder")
        << "phpMyAdmin: 未找到目录 /r/runtime/phpmyadmin\nPHP Web: 未找到可执行的 PHP"
        << "phpMyAdmin: 未找到目录 /r/runtime/phpmyadmin\nPHP Web: 未找到可执行的 PHP";
    QTest::newRow("invalid pick") << "选择的目录不是有效的 Zelto-panel 根目录"
                                  << "";
    QString ten;
    QStringList firstEight;
    for (int i = 1; i <= 10; ++i) {
        ten += QStringLiteral("line %1 failed\nok\n").arg(i);
        if (i <= 8)
            firstEight << QStringLiteral("line %1 failed").arg(i);
    }
    QTest::newRow("limit of eight") << ten << firstEight.join('\n');
    QTest::newRow("empty lines dropped") << "\n\nerror\n\n"
                                         << "error";
}

void TestStatus::errorSummary() {
    QFETCH(QString, log);
    QFETCH(QString, summary);
    QCOMPARE(core::errorSummaryOf(log), summary);
    TestSandbox box;
    auto model = box.makeModel();
    model->setLogs(log);
    model->updateErrorSummary();
    QCOMPARE(model->errorSummary(), summary);
}

void TestStatus::rootNamedErrorShowsInSummary() {
    TestSandbox box;
    box.noResourcePath = true;
    const QString picked = box.base() + QStringLiteral("/error-root");
    makeRuntimeDirs(picked);
    auto model = box.makeModel();
    model->setSavedRoot(picked);
    model->refreshStatus();
    QCOMPARE(model->errorSummary(), QStringLiteral("目录: ") + picked);
}

void TestStatus::missingDirectoryStopsTheCheck_data() {
    QTest::addColumn<QString>("missing");
    QTest::addColumn<QString>("named");
    QTest::newRow("config") << "/runtime/config"
                            << "/runtime/config";
    QTest::newRow("config and mysql") << "/runtime/config,/runtime/mysql/data"
                                      << "/runtime/config";
    QTest::newRow("data") << "/runtime/mysql/data"
                          << "/runtime/mysql/data";
}

void TestStatus::missingDirectoryStopsTheCheck() {
    QFETCH(QString, missing);
    QFETCH(QString, named);
    TestSandbox box;
    const QString root = box.installedRoot();
    makeRuntimeDirs(root);
    for (const QString& m : missing.split(','))
        QDir(root + m).removeRecursively();
    auto model = box.makeModel();
    model->refreshStatus();
    QCOMPARE(model->permissionHint(),
             QStringLiteral("权限提示: 目录不存在或不可访问 - ") + root + named);
    // The directories after the missing one are not written to.
    QVERIFY(!QFile::exists(root + QStringLiteral("/runtime/mysql/.zelto-write-test")));
    // The status and log are still published.
    QVERIFY(model->logs().startsWith(QStringLiteral("=== 服务状态 ===")));
}

void TestStatus::unwritableDirectoryIsExplained() {
    TestSandbox box;
    const QString root = box.installedRoot();
    makeRuntimeDirs(root);
    const QString mysql = root + QStringLiteral("/runtime/mysql");
    if (!makeUnwritable(mysql))
        QSKIP("no way to make a directory unwritable for this user here (chattr unavailable)");
    auto model = box.makeModel();
    model->refreshStatus();
    makeWritable(mysql);
    const QString hint = model->permissionHint();
    const QString expectedStart =
        QStringLiteral("权限提示: 无法写入 ") + mysql +
        QStringLiteral("\n请到 系统设置 -> 隐私与安全性 -> 完全磁盘访问，给 "
                       "Xcode / App 开权限。\n错误: ");
    QVERIFY2(hint.startsWith(expectedStart), qPrintable(hint));
    QVERIFY(hint.size() > expectedStart.size()); // the system's description follows
    QVERIFY(!QFile::exists(root + QStringLiteral("/runtime/config/.zelto-write-test")));
}

QTEST_GUILESS_MAIN(TestStatus)
#include "tst_status.moc"
