// The PHP launcher, the database and web-server operations and their texts, with shell
// scripts standing in for PHP and the database programs and a recording pkill.

#include "core/php_launcher.h"
#include "core/process_helpers.h"
#include "platform/process.h"
#include "service_fakes.h"
#include "services/database.h"
#include "services/web_services.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

namespace {

// A sandbox whose panel root holds the fake stack. rootName empty: the installed root;
// otherwise a directory of that name picked by the user (no runtime is shipped).
struct Fixture {
    explicit Fixture(const QString& rootName = {})
        : root(rootName.isEmpty() ? sandbox.installedRoot()
                                  : sandbox.base() + QLatin1Char('/') + rootName),
          stack(root, sandbox.base() + QStringLiteral("/records")) {
        if (!rootName.isEmpty()) {
            sandbox.noResourcePath = true;
            sandbox.preferences->setString(QStringLiteral("zeltoPanelRoot"), root);
        }
        sandbox.tools = stack.tools();
        model = sandbox.makeModel();
    }

    TestSandbox sandbox;
    const QString root;
    FakeStack stack;
    std::shared_ptr<PanelViewModel> model;
};

QString archNote(const QString& path, const QString& arch) {
    return QStringLiteral("PHP CPU 类型不匹配: ") + path + QStringLiteral("\n当前机器架构: ") +
           arch +
           QStringLiteral("\n请切换到对应架构的 runtime（Apple Silicon: arm64 / Intel: x86_64）");
}

// Ends the listed processes (only when their command line holds marker) when it goes.
struct ProcessGuard {
    QString marker;
    QList<pid_t> pids;
    ~ProcessGuard() {
        for (pid_t pid : pids)
            endProcess(pid, marker);
    }
};

} // namespace

class ServicesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void optionFileText_data();
    void optionFileText();
    void phpMyAdminConfigText();
    void escapeExtendedRegex_data();
    void escapeExtendedRegex();
    void databasePatternMatchesOwnServerOnly_data();
    void databasePatternMatchesOwnServerOnly();
    void phpServerCommandLine_data();
    void phpServerCommandLine();
    void archKeywords_data();
    void archKeywords();

    void launcherWithoutInterpreter();
    void launcherUsesFirstExecutableCandidate();
    void launcherArchitectureNotes_data();
    void launcherArchitectureNotes();
    void launcherFailureReports_data();
    void launcherFailureReports();
    void launcherKeepsServerWhenPidFileCannotBeWritten();
    void serverThatDiesAtOnceReadsStopped();

    void stopByPidFile_data();
    void stopByPidFile();
    void startPhpMyAdminWithoutDirectory();
    void startPhpMyAdminConfig_data();
    void startPhpMyAdminConfig();

    void ensureMysqlInitialized_data();
    void ensureMysqlInitialized();
    void databaseCommandLines();
    void databaseLaunchFailures();
};

// --- texts ---

void ServicesTest::optionFileText_data() {
    QTest::addColumn<QString>("mysqlDir");
    QTest::newRow("plain") << QStringLiteral("/Users/a/panel/runtime/mysql");
    QTest::newRow("spaces and Chinese") << QStringLiteral("/home/a b/站点 (旧)/runtime/mysql");
}

void ServicesTest::optionFileText() {
    QFETCH(QString, mysqlDir);
    const QByteArray expected = "[client]\n"
                                "default-character-set=utf8\n"
                                "port=3306\n"
                                "\n"
                                "[mysql]\n"
                                "default-character-set=utf8\n"
                                "\n"
                                "[mysqld]\n"
                                "basedir=" +
                                mysqlDir.toUtf8() +
                                "/\n"
                                "datadir=" +
                                mysqlDir.toUtf8() +
                                "/data/\n"
                                "port=3306\n"
                                "character-set-server=utf8\n"
                                "collation-server=utf8_unicode_ci";
    QCOMPARE(mysqlOptionFileText(mysqlDir).toUtf8(), expected);
}

void ServicesTest::phpMyAdminConfigText() {
    const QByteArray expected = "<?php\n"
                                "$cfg['blowfish_secret'] = 'qarmo-desk-cipher-7315';\n"
                                "$i = 1;\n"
                                "$cfg['Servers'][$i]['auth_type'] = 'cookie';\n"
                                "$cfg['Servers'][$i]['host'] = '127.0.0.1';\n"
                                "$cfg['Servers'][$i]['port'] = '3306';\n"
                                "$cfg['Servers'][$i]['user'] = 'root';\n"
                                "$cfg['Servers'][$i]['password'] = 'kpzw';\n"
                                "$cfg['UploadDir'] = '';\n"
                                "$cfg['SaveDir'] = '';";
    QCOMPARE(::phpMyAdminConfigText().toUtf8(), expected);
}

void ServicesTest::escapeExtendedRegex_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");
    QTest::newRow("plain") << "/srv/panel/runtime/mysql"
                           << "/srv/panel/runtime/mysql";
    QTest::newRow("every special") << ".[]()*+?{}|^$\\"
                                   << "\\.\\[\\]\\(\\)\\*\\+\\?\\{\\}\\|\\^\\$\\\\";
    QTest::newRow("parentheses") << "/home/a/site (old)"
                                 << "/home/a/site \\(old\\)";
    QTest::newRow("plus") << "/srv/c++"
                          << "/srv/c\\+\\+";
    QTest::newRow("Chinese kept") << "/站点-1/x"
                                  << "/站点-1/x";
}

void ServicesTest::escapeExtendedRegex() {
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(::escapeExtendedRegex(text), escaped);
}

void ServicesTest::databasePatternMatchesOwnServerOnly_data() {
    QTest::addColumn<QString>("rootName");
    QTest::newRow("parentheses and space") << "site (old)";
    QTest::newRow("plus signs") << "c++";
    QTest::newRow("brackets, braces, dot") << "a.b[1]{2}";
    QTest::newRow("bar, caret, dollar") << "x|y^$z";
    QTest::newRow("star, question, backslash") << "q?*\\w";
    QTest::newRow("Chinese and spaces") << "我的 站点";
}

// The pattern is handed to pkill; pgrep matches exactly as pkill does.
void ServicesTest::databasePatternMatchesOwnServerOnly() {
    QFETCH(QString, rootName);
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    const QString mysqlDir =
        tmp.path() + QLatin1Char('/') + rootName + QStringLiteral("/runtime/mysql");
    const QString otherDir = tmp.path() + QStringLiteral("/other/runtime/mysql");
    ProcessGuard guard{tmp.path(), {}};
    const pid_t own = startSleeper(
        mysqlDir + QStringLiteral("/bin/mysqld"),
        {QStringLiteral("--defaults-file=") + mysqlDir + QStringLiteral("/my_runtime.cnf")});
    guard.pids << own;
    const pid_t other = startSleeper(
        otherDir + QStringLiteral("/bin/mysqld"),
        {QStringLiteral("--defaults-file=") + otherDir + QStringLiteral("/my_runtime.cnf")});
    guard.pids << other;
    QVERIFY(own > 0 && other > 0);

    ChildOptions options;
    options.out = StdStream::Capture;
    const ChildResult r = runChild(SystemTools::debian().pgrep,
                                   {QStringLiteral("-f"), mysqlProcessPattern(mysqlDir)}, options);
    QVERIFY(r.launched());
    const QStringList found =
        QString::fromUtf8(r.output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(found.contains(QString::number(own)), qPrintable(mysqlProcessPattern(mysqlDir)));
    QVERIFY(!found.contains(QString::number(other)));
}

void ServicesTest::phpServerCommandLine_data() {
    QTest::addColumn<QString>("commandLine");
    QTest::addColumn<bool>("isServer");
    QTest::newRow("runtime php")
        << "/srv/p/runtime/php/PHP8.2/bin/php -S 0.0.0.0:8000 -t /srv/p/runtime/www" << true;
    QTest::newRow("root with spaces")
        << "/home/a b/runtime/php/PHP8.2/bin/php -S 0.0.0.0:900 -t /home/a b/runtime/phpmyadmin"
        << true;
    QTest::newRow("versioned name") << "/usr/bin/php8.2 -S localhost:8765" << true;
    QTest::newRow("options before -S") << "php -d display_errors=1 -S 0.0.0.0:8000" << true;
    QTest::newRow("script wrapper") << "/bin/sh /x/bin/php -S 0.0.0.0:8000 -t /x" << true;
    QTest::newRow("php without -S") << "/usr/bin/php /srv/artisan queue:work" << false;
    QTest::newRow("-S of another program") << "/usr/bin/python3 -m http.server -S" << false;
    QTest::newRow("php in a directory name only") << "/opt/phpstorm/bin/java -S x" << false;
    QTest::newRow("-S inside a word") << "/usr/bin/php -Sx" << false;
    QTest::newRow("sleep") << "sleep 30" << false;
    QTest::newRow("empty") << "" << false;
}

void ServicesTest::phpServerCommandLine() {
    QFETCH(QString, commandLine);
    QFETCH(bool, isServer);
    QCOMPARE(isPhpBuiltInServerCommandLine(commandLine), isServer);
}

void ServicesTest::archKeywords_data() {
    QTest::addColumn<QString>("description");
    QTest::addColumn<bool>("mismatch");
    QTest::newRow("exec format") << "Error Domain=POSIX Code=8 \"Exec format error\"" << true;
    QTest::newRow("bad cpu type") << "Bad CPU type in executable" << true;
    QTest::newRow("architecture") << "wrong ARCHITECTURE" << true;
    QTest::newRow("arch inside a path") << "No such file {execve(/home/research/php)}" << true;
    QTest::newRow("missing file") << "Error Domain=POSIX Code=2 \"No such file or directory\""
                                  << false;
    QTest::newRow("permission") << "Permission denied" << false;
}

void ServicesTest::archKeywords() {
    QFETCH(QString, description);
    QFETCH(bool, mismatch);
    QCOMPARE(looksLikeArchMismatch(description), mismatch);
}

// --- the launcher ---

void ServicesTest::launcherWithoutInterpreter() {
    Fixture f;
    // A file that is not executable is no candidate.
    testing::writeFile(f.stack.phpPath(QStringLiteral("PHP8.2")), "#!/bin/sh\n");
    QVERIFY(f.model->phpBinCandidates().isEmpty());
    QCOMPARE(f.model->phpBinDisplay(), f.root + QStringLiteral("/runtime/php/PHP8.5/bin/php"));

    QCOMPARE(f.model->startPhpWeb(), QStringLiteral("PHP Web: 未找到可执行的 PHP"));
    QVERIFY(!QFileInfo::exists(f.root + QStringLiteral("/runtime/config")));
}

void ServicesTest::launcherUsesFirstExecutableCandidate() {
    Fixture f;
    testing::writeFile(f.stack.phpPath(QStringLiteral("PHP8.5")), "#!/bin/sh\nexit 0\n");
    f.stack.installPhpServer(QStringLiteral("PHP7.3"));
    const QString php73 = f.stack.phpPath(QStringLiteral("PHP7.3"));
    QCOMPARE(f.model->phpBinCandidates(), QStringList{php73});
    QCOMPARE(f.model->phpBinDisplay(), php73);

    const QString log = f.root + QStringLiteral("/runtime/config/php-web.log");
    testing::writeFile(log, "earlier output\n");
    QCOMPARE(f.model->startPhpWeb(), QString());

    const QString www = f.root + QStringLiteral("/runtime/www");
    QTRY_COMPARE(f.stack.calls(QStringLiteral("php")),
                 QStringList{f.root + QStringLiteral("|-S|0.0.0.0:8000|-t|") + www});
    QTRY_COMPARE(f.stack.serverPids().size(), 1);
    const QList<pid_t> pids = f.stack.serverPids();
    QCOMPARE(testing::readFile(f.root + QStringLiteral("/runtime/config/php-web.pid")),
             QByteArray::number(pids.front()));
    QVERIFY(f.model->isPhpWebRunning());
    QTRY_COMPARE(testing::readFile(log),
                 QByteArray("earlier output\nphp -S 0.0.0.0:8000 -t ") + www.toUtf8() + '\n');
}

void ServicesTest::launcherArchitectureNotes_data() {
    QTest::addColumn<QStringList>("garbage");
    QTest::addColumn<QStringList>("working");
    QTest::addColumn<QString>("arch");
    QTest::addColumn<QString>("reportFrom"); // the version whose note is the report, or ""
    QTest::newRow("first foreign, second runs")
        << QStringList{"PHP8.5"} << QStringList{"PHP8.2"} << "x86_64"
        << "";
    QTest::newRow("all foreign") << QStringList{"PHP8.5", "PHP8.2", "PHP7.3"} << QStringList{}
                                 << "x86_64"
                                 << "PHP7.3";
    QTest::newRow("on arm64") << QStringList{"PHP8.2"} << QStringList{} << "arm64"
                              << "PHP8.2";
    QTest::newRow("unknown machine") << QStringList{"PHP7.3"} << QStringList{} << "未知"
                                     << "PHP7.3";
}

void ServicesTest::launcherArchitectureNotes() {
    QFETCH(QStringList, garbage);
    QFETCH(QStringList, working);
    QFETCH(QString, arch);
    QFETCH(QString, reportFrom);
    TestSandbox sandbox;
    sandbox.architecture = arch;
    FakeStack stack(sandbox.installedRoot(), sandbox.base() + QStringLiteral("/records"));
    sandbox.tools = stack.tools();
    for (const QString& v : garbage)
        stack.installGarbagePhp(v);
    for (const QString& v : working)
        stack.installPhpServer(v);
    auto model = sandbox.makeModel();
    model->setLogs(QStringLiteral("before"));

    const QString report = model->startPhpWeb();
    const QString expectedReport =
        reportFrom.isEmpty() ? QString() : archNote(stack.phpPath(reportFrom), arch);
    QCOMPARE(report, expectedReport);

    // The notes arrive through the main queue, after the launcher has returned.
    QString expectedLog = QStringLiteral("before");
    for (const QString& v : garbage)
        expectedLog += QLatin1Char('\n') + archNote(stack.phpPath(v), arch) + QLatin1Char('\n');
    QTRY_VERIFY2(model->logs() == expectedLog,
                 qPrintable(model->logs() + QStringLiteral("\n---- expected:\n") + expectedLog));
    QTRY_COMPARE(stack.calls(QStringLiteral("php")).size(), working.size());
}

void ServicesTest::launcherFailureReports_data() {
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("report"); // exact, or only a prefix when it ends with ": "
    QTest::newRow("interpreter of the interpreter missing") << "badShebang"
                                                            << "PHP Web: No such file or directory";
    QTest::newRow("config directory blocked by a file") << "configIsFile"
                                                        << "PHP Web: ";
    QTest::newRow("log file is a directory") << "logIsDir"
                                             << "PHP Web: Is a directory";
}

void ServicesTest::launcherFailureReports() {
    QFETCH(QString, setup);
    QFETCH(QString, report);
    Fixture f;
    f.stack.installPhpServer(QStringLiteral("PHP8.2"));
    const QString cfg = f.root + QStringLiteral("/runtime/config");
    if (setup == QLatin1String("badShebang"))
        testing::writeFile(f.stack.phpPath(QStringLiteral("PHP8.2")), "#!/nonexistent/sh\n");
    else if (setup == QLatin1String("configIsFile"))
        testing::writeFile(cfg, "not a directory");
    else
        QVERIFY(QDir().mkpath(cfg + QStringLiteral("/php-web.log")));

    const QString actual = f.model->startPhpWeb();
    if (report.endsWith(QStringLiteral(": "))) {
        QVERIFY2(actual.startsWith(report) && actual.size() > report.size(), qPrintable(actual));
    } else {
        QCOMPARE(actual, report);
    }
    QVERIFY(!QFileInfo::exists(cfg + QStringLiteral("/php-web.pid")));
    QVERIFY(f.stack.calls(QStringLiteral("php")).isEmpty());
    QVERIFY(!f.model->isPhpWebRunning());
}

void ServicesTest::launcherKeepsServerWhenPidFileCannotBeWritten() {
    Fixture f;
    f.stack.installPhpServer(QStringLiteral("PHP8.2"));
    testing::writeFile(f.sandbox.base() + QStringLiteral("/blocker"), "file");
    const QString pidPath = f.sandbox.base() + QStringLiteral("/blocker/php-web.pid");
    const QString report =
        f.model->launchPhpServer(QStringLiteral("8000"), f.root + QStringLiteral("/runtime/www"),
                                 pidPath, f.model->phpWebLogPath(), QStringLiteral("PHP Web"));
    QVERIFY2(report.startsWith(QStringLiteral("PHP Web: ")) && report.size() > 9,
             qPrintable(report));
    QTRY_COMPARE(f.stack.serverPids().size(), 1);
    QVERIFY(processAlive(f.stack.serverPids().front())); // not stopped; stop-all's kill ends it
}

void ServicesTest::serverThatDiesAtOnceReadsStopped() {
    Fixture f;
    f.stack.installPhpThatExits(QStringLiteral("PHP8.2"));
    QCOMPARE(f.model->startPhpWeb(), QString());
    QVERIFY(parseProcessId(QString::fromUtf8(testing::readFile(f.model->phpWebPidPath()))));
    // No zombie stays behind: the dead server stops counting as running once it is reaped.
    QTRY_VERIFY_WITH_TIMEOUT(!f.model->isPhpWebRunning(), 20000);
    QTRY_VERIFY(testing::readFile(f.model->phpWebLogPath()).contains("Failed to listen"));
}

// --- stopping by pid file ---

void ServicesTest::stopByPidFile_data() {
    QTest::addColumn<QString>("content"); // %1 stands for the pid of the process started
    QTest::addColumn<QString>("process"); // "php", "other" or "none"
    QTest::addColumn<bool>("admin");      // phpMyAdmin's pid file instead of the site's
    QTest::addColumn<bool>("removed");
    QTest::addColumn<bool>("signalled");
    QTest::newRow("pid and line break") << "%1\n"
                                        << "php" << false << true << true;
    QTest::newRow("phpMyAdmin, plus sign and spaces") << "  +%1 \n"
                                                      << "php" << true << true << true;
    QTest::newRow("letters") << "abc"
                             << "php" << false << false << false;
    QTest::newRow("sign alone") << "+"
                                << "php" << false << false << false;
    QTest::newRow("empty") << ""
                           << "php" << true << false << false;
    QTest::newRow("zero") << "0"
                          << "php" << false << false << false;
    QTest::newRow("negative") << "-5"
                              << "php" << false << false << false;
    QTest::newRow("beyond 32 bits") << "99999999999"
                                    << "php" << false << false << false;
    QTest::newRow("stale pid of another program") << "%1"
                                                  << "other" << false << true << false;
    QTest::newRow("process gone") << "99999"
                                  << "none" << false << true << false;
}

void ServicesTest::stopByPidFile() {
    QFETCH(QString, content);
    QFETCH(QString, process);
    QFETCH(bool, admin);
    QFETCH(bool, removed);
    QFETCH(bool, signalled);
    Fixture f;
    ProcessGuard guard{f.sandbox.base(), {}};
    pid_t pid = -1;
    if (process == QLatin1String("php")) {
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        pid = spawnDetached(f.stack.phpPath(QStringLiteral("PHP8.2")),
                            {QStringLiteral("-S"), QStringLiteral("0.0.0.0:8000"),
                             QStringLiteral("-t"), f.root + QStringLiteral("/runtime/www")},
                            QString(), -1)
                  .pid;
    } else if (process == QLatin1String("other")) {
        pid = startSleeper(f.sandbox.base() + QStringLiteral("/other/worker"), {});
    }
    guard.pids << pid;
    if (process != QLatin1String("none"))
        QVERIFY(processAlive(pid));

    const QString pidPath = admin ? f.model->phpMyAdminPidPath() : f.model->phpWebPidPath();
    const QString text = content.contains(QStringLiteral("%1")) ? content.arg(pid) : content;
    testing::writeFile(pidPath, text.toUtf8());
    QCOMPARE(admin ? f.model->stopPhpMyAdmin() : f.model->stopPhpWeb(), QString());

    QCOMPARE(QFileInfo::exists(pidPath), !removed);
    if (!removed)
        QCOMPARE(testing::readFile(pidPath), text.toUtf8());
    if (signalled) {
        QTRY_VERIFY(!processAlive(pid));
    } else if (pid > 0) {
        QTest::qWait(300);
        QVERIFY(processAlive(pid));
    }
}

// --- phpMyAdmin ---

void ServicesTest::startPhpMyAdminWithoutDirectory() {
    Fixture f;
    f.stack.installPhpServer(QStringLiteral("PHP8.2"));
    const QString dir = f.root + QStringLiteral("/runtime/phpmyadmin");
    QVERIFY(QDir(dir).removeRecursively());
    QCOMPARE(f.model->startPhpMyAdmin(), QStringLiteral("phpMyAdmin: 未找到目录 ") + dir);
    QVERIFY(!QFileInfo::exists(dir));
    QVERIFY(!QFileInfo::exists(f.root + QStringLiteral("/runtime/config")));
    QVERIFY(f.stack.calls(QStringLiteral("php")).isEmpty());
}

void ServicesTest::startPhpMyAdminConfig_data() {
    QTest::addColumn<bool>("existing");
    QTest::newRow("missing: written") << false;
    QTest::newRow("present: kept") << true;
}

void ServicesTest::startPhpMyAdminConfig() {
    QFETCH(bool, existing);
    Fixture f;
    f.stack.installPhpServer(QStringLiteral("PHP8.2"));
    const QString config = f.root + QStringLiteral("/runtime/phpmyadmin/config.inc.php");
    const QByteArray mine = "<?php\n$cfg['Servers'][1]['host'] = 'db.local';\n";
    if (existing)
        testing::writeFile(config, mine);

    QCOMPARE(f.model->startPhpMyAdmin(), QString());
    QCOMPARE(testing::readFile(config), existing ? mine : ::phpMyAdminConfigText().toUtf8());
    QTRY_COMPARE(f.stack.calls(QStringLiteral("php")),
                 QStringList{f.root + QStringLiteral("|-S|0.0.0.0:900|-t|") + f.root +
                             QStringLiteral("/runtime/phpmyadmin")});
    QVERIFY(f.model->isPhpMyAdminRunning());
    QCOMPARE(f.model->stopPhpMyAdmin(), QString());
    QVERIFY(!QFileInfo::exists(f.model->phpMyAdminPidPath()));
}

// --- the database ---

void ServicesTest::ensureMysqlInitialized_data() {
    QTest::addColumn<QString>("rootName");
    QTest::addColumn<QString>("state"); // "initialised", "empty" or "noProgram"
    QTest::newRow("already initialised") << ""
                                         << "initialised";
    QTest::newRow("empty data directory") << ""
                                          << "empty";
    QTest::newRow("spaces and Chinese in the root") << "我的 panel (1)"
                                                    << "empty";
    QTest::newRow("initialiser missing") << ""
                                         << "noProgram";
}

void ServicesTest::ensureMysqlInitialized() {
    QFETCH(QString, rootName);
    QFETCH(QString, state);
    Fixture f(rootName);
    QCOMPARE(f.model->zeltoPanelRoot(), f.root);
    f.stack.installDatabase();
    const QString data = f.root + QStringLiteral("/runtime/mysql/data");
    QVERIFY(QDir().mkpath(data));
    if (state == QLatin1String("initialised"))
        QVERIFY(QDir().mkpath(data + QStringLiteral("/mysql")));
    if (state == QLatin1String("noProgram"))
        QVERIFY(QFile::remove(f.root + QStringLiteral("/runtime/mysql/bin/mysql_install_db")));

    const QString cnf = f.model->mysqlCnfPath();
    const QString report = f.model->ensureMysqlInitialized(cnf);
    const QStringList calls = f.stack.calls(QStringLiteral("mysql_install_db"));
    if (state == QLatin1String("initialised")) {
        QCOMPARE(report, QString());
        QVERIFY(calls.isEmpty());
    } else if (state == QLatin1String("empty")) {
        QCOMPARE(report, FakeStack::installReport());
        QCOMPARE(calls, QStringList{QDir::currentPath() + QStringLiteral("|--defaults-file=") +
                                    cnf + QStringLiteral("|--initialize-insecure")});
        QCOMPARE(f.model->ensureMysqlInitialized(cnf), QString()); // once only
        QCOMPARE(f.stack.calls(QStringLiteral("mysql_install_db")).size(), 1);
    } else {
        QCOMPARE(report, QStringLiteral("执行失败: No such file or directory"));
    }
}

void ServicesTest::databaseCommandLines() {
    Fixture f(QStringLiteral("站点 c++"));
    f.stack.installDatabase();
    const QString cnf = f.model->mysqlCnfPath();
    QCOMPARE(f.model->startMysql(cnf), QString());
    QCOMPARE(f.model->stopMysql(), QString());
    const QString cwd = QDir::currentPath();
    QTRY_COMPARE(f.stack.calls(QStringLiteral("mysqld")),
                 QStringList{cwd + QStringLiteral("|--defaults-file=") + cnf +
                             QStringLiteral("|--daemonize")});
    QCOMPARE(f.stack.calls(QStringLiteral("mysqladmin")),
             QStringList{cwd + QStringLiteral("|-u|root|-pkpzw|shutdown")});
}

void ServicesTest::databaseLaunchFailures() {
    Fixture f;
    f.stack.installDatabase();
    const QString bin = f.root + QStringLiteral("/runtime/mysql/bin/");
    QVERIFY(QFile::setPermissions(bin + QStringLiteral("mysqld"),
                                  QFile::ReadOwner | QFile::WriteOwner));
    QVERIFY(QFile::remove(bin + QStringLiteral("mysqladmin")));
    QCOMPARE(f.model->startMysql(f.model->mysqlCnfPath()), QStringLiteral("Permission denied"));
    QCOMPARE(f.model->stopMysql(), QStringLiteral("No such file or directory"));
}

QTEST_GUILESS_MAIN(ServicesTest)
#include "tst_services.moc"
