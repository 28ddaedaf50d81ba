// The PHP launcher, the database and web-server operations and their texts, with shell
// scripts standing in for PHP and the database programs and a recording pkill.

#include "core/database_files.h"
#include "core/php_launcher.h"
#include "core/process_helpers.h"
#include "platform/process.h"
#include "service_fakes.h"
#include "services/database.h"
#include "services/web_services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace platform;

namespace {

QString archNote(const QString& path, const QString& arch) {
    return QStringLiteral("PHP CPU 类型不匹配: ") + path + QStringLiteral("\n当前机器架构: ") +
           arch +
           QStringLiteral("\n请切换到对应架构的 runtime（Apple Silicon: arm64 / Intel: x86_64）");
}

const QByteArray kPhpMyAdminConfig =
    "<?php\n$cfg['blowfish_secret'] = 'qarmo-desk-cipher-7315';\n$i = 1;\n"
    "$cfg['Servers'][$i]['auth_type'] = 'cookie';\n$cfg['Servers'][$i]['host'] = '127.0.0.1';\n"
    "$cfg['Servers'][$i]['port'] = '3306';\n$cfg['Servers'][$i]['user'] = 'root';\n"
    "$cfg['Servers'][$i]['password'] = 'kpzw';\n$cfg['UploadDir'] = '';\n$cfg['SaveDir'] = '';";

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
    // The panel points PHP at the socket the runtime's database programs choose themselves.
    void socketPathAgreesWithTheDatabasePrograms_data() {
        QTest::addColumn<QString>("mysqlDir");
        QTest::newRow("short") << "/home/a/Zelto-panel/runtime/mysql";
        QTest::newRow("spaces and Chinese") << QStringLiteral("/home/a/我的 面板/runtime/mysql");
        QTest::newRow("too deep for a socket inside")
            << QStringLiteral("/home/a/") + QString(60, QLatin1Char('d')) +
                   QStringLiteral("/数据库/runtime/mysql");
    }
    void socketPathAgreesWithTheDatabasePrograms() {
        QFETCH(QString, mysqlDir);
        const QString common = qEnvironmentVariable("ZELTO_SOURCE_DIR") +
                               QStringLiteral("/packaging/mysql/libexec/mariadb-common.sh");
        if (!QFileInfo::exists(common))
            QSKIP("the packaging sources are not at hand (ZELTO_SOURCE_DIR)");
        platform::ChildOptions options;
        options.out = platform::StdStream::Capture;
        const Result<platform::ChildExit> r = platform::runChild(
            QStringLiteral("/bin/bash"),
            {QStringLiteral("-c"),
             QStringLiteral("ZM_BIN_DIR=\"$1/bin\"; . \"$2\" && printf '%s' \"$ZM_SOCKET\""),
             QStringLiteral("sh"), mysqlDir, common},
            options);
        QVERIFY(r);
        const QString socket = mysqlSocketPathFor(mysqlDir);
        QCOMPARE(socket, QString::fromUtf8(r->output));
        QVERIFY(QFile::encodeName(socket).size() <= 107);
    }

    void optionFileText() {
        const QString dir = QStringLiteral("/home/a b/站点 (旧)/runtime/mysql");
        QCOMPARE(services::mysqlOptionFileText(dir),
                 QStringLiteral("[client]\ndefault-character-set=utf8\nport=3306\n\n"
                                "[mysql]\ndefault-character-set=utf8\n\n"
                                "[mysqld]\nbasedir=%1/\ndatadir=%1/data/\nport=3306\n"
                                "character-set-server=utf8\ncollation-server=utf8_unicode_ci")
                     .arg(dir));
    }

    // What the database's own option-file reader makes of the paths, whatever the root holds.
    void optionFileReadsBack_data() {
        QTest::addColumn<QString>("root");
        QTest::newRow("plain") << "/home/a b/站点 (旧)";
        QTest::newRow("comment character") << "/home/u/C# sites";
        QTest::newRow("backslashes") << "/home/u/a\\b\\nc\\";
        QTest::newRow("quotes") << "/home/u/\"it's\"";
        QTest::newRow("line break with an option") << "/home/u/x\n[mysqld]\nskip-grant-tables";
        QTest::newRow("control characters") << "/home/u/\t\r\b\x01\x1b[0m";
    }

    void optionFileReadsBack() {
        QFETCH(QString, root);
        const QString reader = QStringLiteral("/usr/bin/my_print_defaults");
        if (!QFileInfo(reader).isExecutable())
            QSKIP("my_print_defaults (MariaDB) is not installed");
        QTemporaryDir tmp;
        const QString file = tmp.filePath(QStringLiteral("my_runtime.cnf"));
        const QString mysqlDir = root + QStringLiteral("/runtime/mysql");
        testing::writeFile(file, services::mysqlOptionFileText(mysqlDir).toUtf8());
        ChildOptions options;
        options.out = StdStream::Capture;
        const Result<ChildExit> r = runChild(
            reader, {QStringLiteral("--defaults-file=") + file, QStringLiteral("mysqld")}, options);
        QVERIFY(r && r->exitedCleanly());
        QCOMPARE(QString::fromUtf8(r->output),
                 QStringLiteral("--basedir=%1/\n--datadir=%1/data/\n--port=3306\n"
                                "--character-set-server=utf8\n--collation-server=utf8_unicode_ci\n")
                     .arg(mysqlDir));
    }

    void databasePatternMatchesOwnServerOnly_data() {
        QTest::addColumn<QString>("rootName");
        QTest::newRow("parentheses, space, plus") << "site (old) c++";
        QTest::newRow("every other special, Chinese") << "我的 a.b[1]{2}x|y^$z?*\\w";
    }

    // The pattern is handed to pkill; pgrep matches exactly as pkill does.
    void databasePatternMatchesOwnServerOnly() {
        QFETCH(QString, rootName);
        QTemporaryDir tmp;
        ProcessGuard guard{tmp.path(), {}};
        const QString mysqlDir = tmp.path() + QLatin1Char('/') + rootName + "/runtime/mysql";
        for (const QString& dir : {mysqlDir, tmp.path() + QStringLiteral("/other/runtime/mysql")})
            guard.pids << startSleeper(dir + "/bin/mysqld", {"--defaults-file=" + dir + "/my.cnf"});
        QVERIFY(guard.pids[0] > 0 && guard.pids[1] > 0);

        ChildOptions options;
        options.out = StdStream::Capture;
        const Result<ChildExit> r = runChild(
            QStringLiteral("/usr/bin/pgrep"),
            {QStringLiteral("-f"), serviceProcessPattern(Service::Database, mysqlDir)}, options);
        QVERIFY(r);
        const QStringList found = QString::fromUtf8(r->output).split('\n', Qt::SkipEmptyParts);
        QVERIFY(found.contains(QString::number(guard.pids[0])));
        QVERIFY(!found.contains(QString::number(guard.pids[1])));
    }

    void phpServerCommandLine_data() {
        QTest::addColumn<QString>("commandLine");
        QTest::addColumn<bool>("isServer");
        QTest::newRow("runtime php")
            << "/home/a b/runtime/php/PHP8.2/bin/php -S 0.0.0.0:900 -t /home/a b/runtime/phpmyadmin"
            << true;
        QTest::newRow("versioned name") << "/usr/bin/php8.2 -S localhost:8765" << true;
        QTest::newRow("options before -S") << "php -d display_errors=1 -S 0.0.0.0:8000" << true;
        QTest::newRow("script wrapper") << "/bin/sh /x/bin/php -S 0.0.0.0:8000 -t /x" << true;
        QTest::newRow("php without -S") << "/usr/bin/php /srv/artisan queue:work" << false;
        QTest::newRow("-S of another program") << "/usr/bin/python3 -m http.server -S" << false;
        QTest::newRow("php in a directory name only") << "/opt/phpstorm/bin/java -S x" << false;
        QTest::newRow("-S inside a word") << "/usr/bin/php -Sx" << false;
    }

    void phpServerCommandLine() {
        QFETCH(QString, commandLine);
        QFETCH(bool, isServer);
        QCOMPARE(services::isPhpBuiltInServerCommandLine(commandLine), isServer);
    }

    void archKeywords_data() {
        QTest::addColumn<QString>("description");
        QTest::addColumn<bool>("mismatch");
        QTest::newRow("bad cpu type") << "Bad CPU type in executable" << true;
        QTest::newRow("architecture") << "wrong ARCHITECTURE" << true;
        QTest::newRow("permission") << "Permission denied" << false;
    }

    void archKeywords() {
        QFETCH(QString, description);
        QFETCH(bool, mismatch);
        QCOMPARE(core::looksLikeArchMismatch(description), mismatch);
    }

    void phpVersionOrder_data() {
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QStringList>("order");
        const QStringList preferred = {"PHP8.5", "PHP8.2", "PHP7.3"};
        QTest::newRow("nothing else") << QStringList{} << preferred;
        QTest::newRow("others between, by number")
            << QStringList{"PHP7.4", "PHP8.3", "PHP8.4", "PHP8.10", "PHP8.2"}
            << QStringList{"PHP8.10", "PHP8.5", "PHP8.4", "PHP8.3", "PHP8.2", "PHP7.4", "PHP7.3"};
        QTest::newRow("newer and older than all")
            << QStringList{"PHP5.6", "PHP9.0"}
            << QStringList{"PHP9.0", "PHP8.5", "PHP8.2", "PHP7.3", "PHP5.6"};
        QTest::newRow("other names ignored")
            << QStringList{"current", "php8.4", "PHP8.4.1", "PHP8", "PHP8.4-old", "PHP 8.4"}
            << preferred;
    }

    void phpVersionOrder() {
        QFETCH(QStringList, found);
        QFETCH(QStringList, order);
        QCOMPARE(core::phpVersionOrder(PanelViewModel::phpCandidates, found), order);
    }

    // Which interpreter a runtime's PHP directories lead to: executable ones only, newest
    // first, the displayed one being the one that is used.
    void launcherPicksShippedVersion_data() {
        QTest::addColumn<QStringList>("working");
        QTest::addColumn<QStringList>("notExecutable");
        QTest::addColumn<QString>("used");
        QTest::newRow("only the distribution's")
            << QStringList{"PHP8.4"} << QStringList{} << "PHP8.4";
        QTest::newRow("between preferred ones")
            << QStringList{"PHP8.3", "PHP8.2"} << QStringList{"PHP8.5"} << "PHP8.3";
        QTest::newRow("older than every preferred one")
            << QStringList{"PHP7.0"} << QStringList{"PHP8.5"} << "PHP7.0";
    }

    void launcherPicksShippedVersion() {
        QFETCH(QStringList, working);
        QFETCH(QStringList, notExecutable);
        QFETCH(QString, used);
        ServiceFixture f;
        for (const QString& v : notExecutable)
            testing::writeFile(f.stack.phpPath(v), "#!/bin/sh\nexit 0\n");
        for (const QString& v : working)
            f.stack.installPhpServer(v);
        const QString php = f.stack.phpPath(used);
        QCOMPARE(f.model->phpBinCandidates().value(0), php);
        QCOMPARE(f.model->phpBinDisplay(), php);
        QCOMPARE(f.model->startPhpWeb(), QString());
        QTRY_COMPARE(f.stack.serverPids().size(), 1);
        // The stand-in renames itself to its path and arguments.
        QTRY_VERIFY(
            testing::readFile(QStringLiteral("/proc/%1/cmdline").arg(f.stack.serverPids().front()))
                .startsWith(php.toUtf8() + " -S "));
    }

    void launcherUsesFirstExecutableCandidate() {
        ServiceFixture f;
        testing::writeFile(f.stack.phpPath(QStringLiteral("PHP8.5")), "#!/bin/sh\nexit 0\n");
        f.stack.installPhpServer(QStringLiteral("PHP7.3"));
        const QString php73 = f.stack.phpPath(QStringLiteral("PHP7.3"));
        QCOMPARE(f.model->phpBinCandidates(), QStringList{php73});
        QCOMPARE(f.model->phpBinDisplay(), php73);

        testing::writeFile(f.model->phpWebLogPath(), "earlier output\n");
        QCOMPARE(f.model->startPhpWeb(), QString());
        const QString www = f.root + QStringLiteral("/runtime/www");
        QTRY_COMPARE(f.stack.calls(QStringLiteral("php")),
                     QStringList{f.root + QStringLiteral("|-S|0.0.0.0:8000|-t|") + www});
        QTRY_COMPARE(f.stack.serverPids().size(), 1);
        QCOMPARE(testing::readFile(f.root + QStringLiteral("/runtime/config/php-web.pid")),
                 QByteArray::number(f.stack.serverPids().front()));
        QVERIFY(f.model->isPhpWebRunning());
        QTRY_COMPARE(testing::readFile(f.root + QStringLiteral("/runtime/config/php-web.log")),
                     "earlier output\nphp -S 0.0.0.0:8000 -t " + www.toUtf8() + '\n');
    }

    void launcherArchitectureNotes_data() {
        QTest::addColumn<QStringList>("garbage");
        QTest::addColumn<QString>("arch");
        QTest::addColumn<QStringList>("working");
        QTest::addColumn<QString>("reportFrom"); // the version whose note is the report, or ""
        QTest::newRow("first foreign, second runs")
            << QStringList{"PHP8.5"} << "x86_64" << QStringList{"PHP8.2"} << "";
        QTest::newRow("all foreign")
            << QStringList{"PHP8.5", "PHP8.2", "PHP7.3"} << "x86_64" << QStringList{} << "PHP7.3";
        QTest::newRow("unknown machine")
            << QStringList{"PHP7.3"} << "未知" << QStringList{} << "PHP7.3";
    }

    void launcherArchitectureNotes() {
        QFETCH(QStringList, garbage);
        QFETCH(QStringList, working);
        QFETCH(QString, arch);
        QFETCH(QString, reportFrom);
        ServiceFixture f;
        f.sandbox.architecture = arch;
        for (const QString& v : garbage)
            f.stack.installGarbagePhp(v);
        for (const QString& v : working)
            f.stack.installPhpServer(v);
        auto model = f.makeModel();
        model->setLogs(QStringLiteral("before"));

        QCOMPARE(model->startPhpWeb(),
                 reportFrom.isEmpty() ? QString() : archNote(f.stack.phpPath(reportFrom), arch));
        // The notes arrive through the main queue, after the launcher has returned.
        QString expectedLog = QStringLiteral("before");
        for (const QString& v : garbage)
            expectedLog += '\n' + archNote(f.stack.phpPath(v), arch) + '\n';
        QTRY_COMPARE(model->logs(), expectedLog);
        QTRY_COMPARE(f.stack.calls(QStringLiteral("php")).size(), working.size());
    }

    void launcherFailureReports_data() {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<bool>("started");
        QTest::addColumn<QString>("report"); // exact, or only a prefix when it ends with ": "
        QTest::newRow("no executable interpreter")
            << "notExecutable" << false << "PHP Web: 未找到可执行的 PHP";
        QTest::newRow("interpreter of the interpreter missing")
            << "badShebang" << false << "PHP Web: No such file or directory";
        QTest::newRow("config directory blocked by a file")
            << "configIsFile" << false << "PHP Web: ";
        QTest::newRow("log file is a directory")
            << "logIsDir" << false << "PHP Web: Is a directory";
        // The server came up and runs on (stop-all's kill ends it); the record is what failed.
        QTest::newRow("pid file cannot be written") << "pidIsDir" << true << "PHP Web: 启动失败: ";
    }

    void launcherFailureReports() {
        QFETCH(QString, setup);
        QFETCH(QString, report);
        QFETCH(bool, started);
        ServiceFixture f;
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        const QString php = f.stack.phpPath(QStringLiteral("PHP8.2"));
        const QString cfg = f.root + QStringLiteral("/runtime/config");
        if (setup == QLatin1String("notExecutable"))
            QVERIFY(QFile::setPermissions(php, QFile::ReadOwner | QFile::WriteOwner));
        else if (setup == QLatin1String("badShebang"))
            testing::writeFile(php, "#!/nonexistent/sh\n");
        else if (setup == QLatin1String("configIsFile"))
            testing::writeFile(cfg, "not a directory");
        else
            QVERIFY(QDir().mkpath(
                cfg + (setup == QLatin1String("logIsDir") ? "/php-web.log" : "/php-web.pid")));
        if (setup == QLatin1String("notExecutable")) {
            QVERIFY(f.model->phpBinCandidates().isEmpty());
            QCOMPARE(f.model->phpBinDisplay(),
                     f.root + QStringLiteral("/runtime/php/PHP8.5/bin/php"));
        }

        const QString actual = f.model->startPhpWeb();
        if (report.endsWith(QStringLiteral(": ")))
            QVERIFY2(actual.startsWith(report) && actual.size() > report.size(),
                     qPrintable(actual));
        else
            QCOMPARE(actual, report);
        QVERIFY(!QFileInfo(cfg + QStringLiteral("/php-web.pid")).isFile());
        if (started) {
            QTRY_COMPARE(f.stack.serverPids().size(), 1);
            QVERIFY(processAlive(f.stack.serverPids().front()));
        } else {
            QVERIFY(f.stack.calls(QStringLiteral("php")).isEmpty());
            QVERIFY(!f.model->isPhpWebRunning());
        }
        if (setup == QLatin1String("notExecutable")) {
            QVERIFY(!QFileInfo::exists(cfg));
            // Start-all's launch says what is missing by its kind.
            const Result<LaunchedServer> launched = f.model->launchWebServer(Service::Site);
            QVERIFY(!launched && launched.error().kind == ErrorKind::NotFound);
            QCOMPARE(launched.error().message, report);
        }
    }

    // A server that ends at once is named with what it wrote during this launch, and leaves
    // no pid file.
    void serverThatDiesAtOnceIsNamed() {
        ServiceFixture f;
        testing::writeScript(f.stack.phpPath(QStringLiteral("PHP8.2")),
                             QStringLiteral("echo 'Failed to listen on 0.0.0.0:8000'\nexit 3"));
        testing::writeFile(f.model->phpWebLogPath(), "an earlier launch's line\n");
        QCOMPARE(f.model->startPhpWeb(),
                 QStringLiteral("PHP Web: 启动失败: 服务器启动后即退出，php-web.log: Failed to "
                                "listen on 0.0.0.0:8000"));
        QVERIFY(!QFileInfo::exists(f.model->phpWebPidPath()));
        QVERIFY(!f.model->isPhpWebRunning());
    }

    void stopByPidFile_data() {
        QTest::addColumn<QString>("process"); // "php", "other" or "none"
        QTest::addColumn<bool>("admin");      // phpMyAdmin's pid file instead of the site's
        QTest::addColumn<QString>("content"); // %1 stands for the pid of the process started
        QTest::addColumn<bool>("removed");
        QTest::addColumn<bool>("signalled");
        QTest::newRow("pid and line break") << "php" << false << "%1\n" << true << true;
        QTest::newRow("phpMyAdmin, plus sign and spaces") << "php" << true << "  +%1 \n"
                                                          << true << true;
        QTest::newRow("letters") << "php" << true << "abc" << false << false;
        QTest::newRow("zero") << "php" << false << "0" << false << false;
        QTest::newRow("negative") << "php" << false << "-5" << false << false;
        QTest::newRow("stale pid of another program") << "other" << false << "%1" << true << false;
        QTest::newRow("process gone") << "none" << false << "99999" << true << false;
    }

    void stopByPidFile() {
        QFETCH(QString, content);
        QFETCH(QString, process);
        QFETCH(bool, admin);
        QFETCH(bool, removed);
        QFETCH(bool, signalled);
        ServiceFixture f;
        ProcessGuard guard{f.sandbox.base(), {-1}};
        if (process == QLatin1String("php")) {
            f.stack.installPhpServer(QStringLiteral("PHP8.2"));
            guard.pids[0] =
                spawnDetached(f.stack.phpPath(QStringLiteral("PHP8.2")),
                              {QStringLiteral("-S"), QStringLiteral("0.0.0.0:8000")}, QString())
                    .value_or(-1);
        } else if (process == QLatin1String("other")) {
            guard.pids[0] = startSleeper(f.sandbox.base() + QStringLiteral("/other/worker"), {});
        }
        const pid_t pid = guard.pids[0];
        QCOMPARE(processAlive(pid), process != QLatin1String("none"));

        const QString pidPath = admin ? f.model->phpMyAdminPidPath() : f.model->phpWebPidPath();
        const QByteArray text =
            (content.contains(QStringLiteral("%1")) ? content.arg(pid) : content).toUtf8();
        testing::writeFile(pidPath, text);
        QCOMPARE(admin ? f.model->stopPhpMyAdmin() : f.model->stopPhpWeb(), QString());
        QCOMPARE(testing::readFile(pidPath), removed ? QByteArray() : text);
        QCOMPARE(QFileInfo::exists(pidPath), !removed);
        if (signalled) {
            QTRY_VERIFY(!processAlive(pid));
        } else if (pid > 0) {
            QTest::qWait(300);
            QVERIFY(processAlive(pid));
        }
    }

    void startPhpMyAdminConfig_data() {
        QTest::addColumn<bool>("existing");
        QTest::newRow("missing: written") << false;
        QTest::newRow("present: kept") << true;
    }

    void startPhpMyAdminConfig() {
        QFETCH(bool, existing);
        ServiceFixture f;
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        const QString config = f.root + QStringLiteral("/runtime/phpmyadmin/config.inc.php");
        const QByteArray mine = "<?php\n$cfg['Servers'][1]['host'] = 'db.local';\n";
        if (existing)
            testing::writeFile(config, mine);

        QCOMPARE(f.model->startPhpMyAdmin(), QString());
        QCOMPARE(testing::readFile(config), existing ? mine : kPhpMyAdminConfig);
        QTRY_COMPARE(f.stack.calls(QStringLiteral("php")),
                     QStringList{f.root + QStringLiteral("|-S|0.0.0.0:900|-t|") + f.root +
                                 QStringLiteral("/runtime/phpmyadmin")});
        QVERIFY(f.model->isPhpMyAdminRunning());
        QCOMPARE(f.model->stopPhpMyAdmin(), QString());
        QVERIFY(!QFileInfo::exists(f.model->phpMyAdminPidPath()));
    }
};

QTEST_GUILESS_MAIN(ServicesTest)
#include "tst_services.moc"
