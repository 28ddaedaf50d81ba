// Start-all and stop-all with scripts standing in for PHP and the database programs and a
// recording pkill: the published texts, their order and the programs each sequence runs.

#include "core/process_helpers.h"
#include "platform/port_holder.h"
#include "platform/process.h"
#include "service_fakes.h"
#include "services/database.h"
#include "services/stop_all.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTest>

#include <algorithm>

#include <csignal>

namespace {

const QString kFooterHead = QStringLiteral("网站: http://localhost:8000\n"
                                           "phpMyAdmin: http://localhost:900\n"
                                           "MySQL: localhost:3306\n");

// Every service's result, in table order.
QList<bool> serviceResults(const OperationOutcome& outcome) {
    QList<bool> results;
    for (const ServiceOutcome& service : outcome.services)
        results.push_back(service.succeeded);
    return results;
}

} // namespace

class ServiceSequencesTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void startAndStopCycle_data() {
        QTest::addColumn<QString>("rootName");
        QTest::addColumn<QString>("escapedTail"); // "/runtime/mysql" below the root, as a pattern
        QTest::newRow("installed root") << QString() << "/Zelto-panel/runtime/mysql";
        QTest::newRow("spaces, Chinese, regex characters")
            << QStringLiteral("我的 site (old) c++ [1]")
            << "/我的 site \\(old\\) c\\+\\+ \\[1\\]/runtime/mysql";
    }

    void startAndStopCycle() {
        QFETCH(QString, rootName);
        QFETCH(QString, escapedTail);
        ServiceFixture f(rootName);
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        auto model = f.makeModel();
        const QString root = f.root;
        QCOMPARE(model->zeltoPanelRoot(), root);
        const QString cwd = QDir::currentPath();
        const QString cnf = root + QStringLiteral("/runtime/mysql/my_runtime.cnf");
        const QString dirLine = QStringLiteral("\n目录: ") + root;
        const QString done = QStringLiteral("=== 启动完成 ===");
        const QString footer = kFooterHead + QStringLiteral("PHP: ") + root +
                               QStringLiteral("/runtime/php/PHP8.2/bin/php") + dirLine;
        // The kill tool's runs. The servers' pattern takes any PHP built-in server of the
        // machine, so it may also be started for another test's servers.
        const QString databaseKill = cwd + QStringLiteral("|-f|mysqld.*") +
                                     core::escapeExtendedRegex(f.sandbox.base()) + escapedTail;
        const QString phpKill = cwd + QStringLiteral("|-f|php -S 0.0.0.0:");
        const auto killsOf = [&](const QString& kill) {
            return f.stack.calls(QStringLiteral("pkill")).count(kill);
        };
        // The stage texts of a start whose first stage reported init (the option file's report,
        // empty, comes first).
        const auto stages = [&](const QString& init) {
            const QString head = QStringLiteral("=== 启动中 ===\n");
            return QStringList{
                head + QStringLiteral("正在准备目录和服务...") + dirLine,
                head + '\n' + init + QStringLiteral("\n正在启动 MySQL...") + dirLine,
                head + '\n' + init + QStringLiteral("\n\n正在启动 PHP Web...") + dirLine,
                head + '\n' + init + QStringLiteral("\n\n\n正在启动 phpMyAdmin...") + dirLine};
        };

        // First start on an empty runtime: directories made, database initialised and started.
        {
            LogRecorder rec(model.get());
            testing::OutcomeRecorder outcomes(*model);
            model->setLogs(QStringLiteral("previous report"));
            model->startAll();
            QCOMPARE(model->logs(), QStringLiteral("previous report")); // nothing before the loop
            QVERIFY(outcomes.waitFor());
            // The outcome comes right after the final report, once.
            QCOMPARE(outcomes.last().report, rec.texts.back());
            QCOMPARE(outcomes.last().operation, Operation::StartAll);
            QVERIFY(outcomes.last().succeeded);
            QCOMPARE(serviceResults(outcomes.last()), (QList<bool>{true, true, true}));
            // "previous report", then stage 0, then a status and a stage for each step.
            QCOMPARE(rec.texts.size(), 10);
            QCOMPARE(rec.stagesAfterStatus().mid(1),
                     stages(FakeStack::installReport())
                         << done + QStringLiteral("\nInstalling system tables...\nOK\n\n") +
                                footer);
            for (int k = 2; k < rec.texts.size(); k += 2)
                QVERIFY2(isStatusText(rec.texts[k]), qPrintable(rec.texts[k]));
            QCOMPARE(model->errorSummary(), QString());

            // Nothing of the runtime ran: the kill tool was not started for it.
            QCOMPARE(killsOf(databaseKill), 0);
            QCOMPARE(
                testing::readFile(cnf),
                services::mysqlOptionFileText(root + QStringLiteral("/runtime/mysql")).toUtf8());
            const QString defaults = cwd + QStringLiteral("|--defaults-file=") + cnf;
            QCOMPARE(f.stack.calls(QStringLiteral("mysql_install_db")),
                     QStringList{defaults + QStringLiteral("|--initialize-insecure")});
            QTRY_COMPARE(f.stack.calls(QStringLiteral("mysqld")),
                         QStringList{defaults + QStringLiteral("|--daemonize")});
            // Each stand-in records itself once running, in either order.
            const auto servers = [&] {
                QStringList calls = f.stack.calls(QStringLiteral("php"));
                calls.sort();
                return calls;
            };
            QTRY_COMPARE(servers(),
                         (QStringList{root + QStringLiteral("|-S|0.0.0.0:8000|-t|") + root +
                                          QStringLiteral("/runtime/www"),
                                      root + QStringLiteral("|-S|0.0.0.0:900|-t|") + root +
                                          QStringLiteral("/runtime/phpmyadmin")}));
            QVERIFY(QFileInfo::exists(root + QStringLiteral("/runtime/phpmyadmin/config.inc.php")));
        }

        // Second start: nothing to initialise, every report empty. The PHP stand-ins hide from
        // the servers' kill pattern (so that no other test's kill reaches them): they are ended
        // here, as the kill would end real servers, and the kill tool is started for the
        // database's stand-in alone.
        for (pid_t pid : f.stack.serverPids())
            endProcess(pid, QStringLiteral("test-0.0.0.0:"));
        {
            LogRecorder rec(model.get());
            const std::optional<OperationOutcome> outcome =
                testing::runToEnd(*model, &PanelViewModel::startAll);
            QVERIFY2(outcome && outcome->succeeded, qPrintable(model->logs()));
            QCOMPARE(rec.stagesAfterStatus(), stages(QString())
                                                  << done + QStringLiteral("\n\n") + footer);
            QCOMPARE(f.stack.calls(QStringLiteral("mysql_install_db")).size(), 1);
            QTRY_COMPARE(f.stack.calls(QStringLiteral("mysqld")).size(), 2);
            QCOMPARE(killsOf(databaseKill), 1);
        }

        // Stop: both servers of the pid files end, the pid files go, the database is asked to
        // shut down and the two patterns are killed.
        QTRY_COMPARE(f.stack.serverPids().size(), 4);
        const QList<pid_t> recorded = {
            pid_t(QString::fromUtf8(testing::readFile(model->phpWebPidPath())).toInt()),
            pid_t(QString::fromUtf8(testing::readFile(model->phpMyAdminPidPath())).toInt())};
        for (pid_t pid : recorded)
            QVERIFY(processAlive(pid));
        {
            LogRecorder rec(model.get());
            const std::optional<OperationOutcome> outcome =
                testing::runToEnd(*model, &PanelViewModel::stopAll);
            QVERIFY(outcome && outcome->succeeded);
            QCOMPARE(outcome->operation, Operation::StopAll);
            QCOMPARE(outcome->report, QStringLiteral("=== 停止完成 ==="));
            QCOMPARE(model->logs(), outcome->report);
            QCOMPARE(rec.texts.size(), 4);
            QVERIFY(isStatusText(rec.texts[0]) && isStatusText(rec.texts[2]));
            QCOMPARE(rec.texts[1], QStringLiteral("=== 停止中 ===\n正在关闭服务...") + dirLine);
            QCOMPARE(model->errorSummary(), QString());
        }
        QVERIFY(!QFileInfo::exists(model->phpWebPidPath()));
        QVERIFY(!QFileInfo::exists(model->phpMyAdminPidPath()));
        for (pid_t pid : recorded)
            QTRY_VERIFY(!processAlive(pid));
        QCOMPARE(f.stack.calls(QStringLiteral("mysqladmin")),
                 QStringList{cwd + QStringLiteral("|-u|root|-pkpzw|shutdown")});
        // Stop-all kills both patterns, whatever runs.
        QCOMPARE(killsOf(databaseKill), 2);
        QVERIFY(killsOf(phpKill) >= 1);
        QVERIFY(!model->status().isRunning(Service::Site) &&
                !model->status().isRunning(Service::PhpMyAdmin));
        QVERIFY(QFileInfo::exists(cnf)); // the option file and the data stay
        QVERIFY(QFileInfo(root + QStringLiteral("/runtime/mysql/data/mysql")).isDir());
    }

    void startAllRunsEveryStepDespiteFailures() {
        ServiceFixture f;
        f.stack.installDatabase();
        const QString root = f.root;
        const QString bin = root + QStringLiteral("/runtime/mysql/bin/");
        QVERIFY(QFile::remove(bin + QStringLiteral("mysql_install_db")));
        QVERIFY(QFile::setPermissions(bin + QStringLiteral("mysqld"),
                                      QFile::ReadOwner | QFile::WriteOwner));
        f.stack.installGarbagePhp(QStringLiteral("PHP8.5"));
        QVERIFY(QDir(root + QStringLiteral("/runtime/phpmyadmin")).removeRecursively());
        auto model = f.makeModel();

        LogRecorder rec(model.get());
        const std::optional<OperationOutcome> outcome =
            testing::runToEnd(*model, &PanelViewModel::startAll);
        QVERIFY(outcome);
        // Every service failed, each for the reason its step reported.
        QVERIFY(!outcome->succeeded);
        QCOMPARE(serviceResults(*outcome), (QList<bool>{false, false, false}));
        QCOMPARE(outcome->services[0].cause->message, QStringLiteral("No such file or directory"));
        QCOMPARE(outcome->services[0].cause->path, bin + QStringLiteral("mysql_install_db"));
        QVERIFY(outcome->services[0].cause->kind == ErrorKind::NotFound);

        const QString php85 = root + QStringLiteral("/runtime/php/PHP8.5/bin/php");
        const QString archNote = QStringLiteral("PHP CPU 类型不匹配: ") + php85 +
                                 QStringLiteral("\n当前机器架构: x86_64\n请切换到对应架构的 runtime"
                                                "（Apple Silicon: arm64 / Intel: x86_64）");
        const QString dirLine = QStringLiteral("\n目录: ") + root;
        QCOMPARE(model->logs(),
                 QStringLiteral("=== 启动完成 ===\n执行失败: No such file or directory\n"
                                "Permission denied\n") +
                     archNote + QStringLiteral("\nphpMyAdmin: 未找到目录 ") + root +
                     QStringLiteral("/runtime/phpmyadmin\n\n") + kFooterHead +
                     QStringLiteral("PHP: ") + php85 + dirLine);
        QCOMPARE(outcome->report, model->logs());
        QCOMPARE(outcome->services[1].cause->message, archNote);
        // Each cause keeps the launch's own error: the interpreter's, and the missing directory.
        QCOMPARE(outcome->services[1].cause->path, php85);
        QCOMPARE(outcome->services[1].cause->code, ENOEXEC);
        QVERIFY(outcome->services[2].cause->kind == ErrorKind::NotFound);
        QCOMPARE(outcome->services[2].cause->message, QStringLiteral("phpMyAdmin: 未找到目录 ") +
                                                          root +
                                                          QStringLiteral("/runtime/phpmyadmin"));
        QCOMPARE(model->errorSummary(),
                 QStringLiteral("执行失败: No such file or directory\nPermission denied\n"
                                "phpMyAdmin: 未找到目录 ") +
                     root + QStringLiteral("/runtime/phpmyadmin"));
        // The stage texts carry the raw reports; the launcher's note was appended to the log
        // in between and replaced by the next stage.
        QVERIFY(rec.texts.contains(QStringLiteral("=== 启动中 ===\n\n执行失败: No such file or "
                                                  "directory\nPermission denied\n") +
                                   archNote + QStringLiteral("\n正在启动 phpMyAdmin...") +
                                   dirLine));
        QVERIFY(f.stack.calls(QStringLiteral("mysqld")).isEmpty());
        QVERIFY(!QFileInfo::exists(root + QStringLiteral("/runtime/phpmyadmin")));
    }

    // A database server that ends at launch is named with the lines it wrote to its own error
    // log during this launch, in the final block and in the error notice; the site still comes
    // up.
    void startAllNamesTheDatabaseThatEnded() {
        ServiceFixture f;
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        const QString mysqlDir = f.root + QStringLiteral("/runtime/mysql");
        testing::writeFile(mysqlDir + QStringLiteral("/mysqld.err"), "an earlier start's line\n");
        testing::writeScript(mysqlDir + QStringLiteral("/bin/mysqld"),
                             QStringLiteral("log=\"$(dirname \"$0\")/../mysqld.err\"\n"
                                            "for n in 1 2 3 4 5 6; do echo \"[Note] step $n\"; "
                                            "done >>\"$log\"\n"
                                            "echo '[ERROR] Aborting' >>\"$log\"\nexit 1"));
        auto model = f.makeModel();
        const std::optional<OperationOutcome> outcome =
            testing::runToEnd(*model, &PanelViewModel::startAll);
        QVERIFY(outcome);
        const QString entry =
            QStringLiteral("MySQL: 启动失败: 服务器启动后即退出，mysqld.err: [Note] step 3 | "
                           "[Note] step 4 | [Note] step 5 | [Note] step 6 | [ERROR] Aborting");
        QVERIFY2(model->logs().contains(QLatin1Char('\n') + entry + QLatin1Char('\n')),
                 qPrintable(model->logs()));
        QCOMPARE(model->errorSummary(), entry);
        QVERIFY(!outcome->serviceOutcome(Service::Database)->succeeded);
        QVERIFY(outcome->serviceOutcome(Service::Site)->succeeded);
        // Ended, not timed out: the kind of its cause says which.
        QVERIFY(outcome->serviceOutcome(Service::Database)->cause->kind == ErrorKind::ToolFailed);
    }

    // A database server of the root that a restart cannot end in time is killed before the
    // new one is launched, and the outcome says so.
    void startAllKillsADatabaseServerThatStays() {
        ServiceFixture f;
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        const QString mysqlDir = f.root + QStringLiteral("/runtime/mysql");
        const QString stubborn = f.sandbox.base() + QStringLiteral("/stubborn/mysqld");
        testing::writeScript(stubborn, QStringLiteral("trap '' TERM\nwhile :; do sleep 1; done"));
        const pid_t old =
            startSleeper(stubborn, {QStringLiteral("--defaults-file=") + mysqlDir + "/my.cnf"});
        QVERIFY(old > 0);
        const auto end = qScopeGuard([old] { ::kill(old, SIGKILL); });
        f.config.databaseReleaseMilliseconds = 300;
        auto model = f.makeModel();
        const std::optional<OperationOutcome> outcome =
            testing::runToEnd(*model, &PanelViewModel::startAll);
        QVERIFY(outcome);
        QVERIFY(!platform::isProcessAlive(old));
        QVERIFY(std::ranges::any_of(outcome->warnings, [](const Error& e) {
            return e.message.contains(QStringLiteral("未按时退出，已强制结束"));
        }));
    }

    // Steps the sequence goes past leave no trace in the report, but do in the outcome.
    void startAllKeepsWhatItWentPast() {
        ServiceFixture f;
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        const QString pkill = f.sandbox.base() + QStringLiteral("/missing/pkill");
        f.sandbox.tools.pkill = pkill;
        // A file where the data directory belongs.
        QVERIFY(QDir(f.root + QStringLiteral("/runtime/mysql/data")).removeRecursively());
        testing::writeFile(f.root + QStringLiteral("/runtime/mysql/data"), "not a directory");
        // A process that the database's kill pattern matches, so that the kill tool is wanted.
        const QString name = QStringLiteral("mysqld ") + f.root + QStringLiteral("/runtime/mysql");
        const Result<pid_t> server = platform::spawnDetached(
            QStringLiteral("/bin/bash"),
            {QStringLiteral("-c"), QStringLiteral("exec -a \"$0\" sleep 60"), name}, QString());
        QVERIFY(server);
        QVERIFY(testing::waitFor(
            [&] { return platform::processCommandLine(*server) == name + QStringLiteral(" 60"); }));
        f.config.databaseReleaseMilliseconds = 300;
        auto model = f.makeModel();
        const std::optional<OperationOutcome> outcome =
            testing::runToEnd(*model, &PanelViewModel::startAll);
        endProcess(*server, name);
        QVERIFY(outcome);
        QStringList went;
        for (const Error& error : outcome->warnings)
            went << error.call + QLatin1Char(' ') + error.path;
        // Once more if another test's PHP server was running (the servers' kill takes any).
        went.removeDuplicates();
        QCOMPARE(
            went,
            (QStringList{QStringLiteral("mkdir ") + f.root + QStringLiteral("/runtime/mysql/data"),
                         QStringLiteral("posix_spawn ") + pkill,
                         // Not ended by the missing tool: killed after its time.
                         QStringLiteral("kill ") + f.root + QStringLiteral("/runtime/mysql")}));
        QVERIFY(!model->logs().contains(pkill));
    }

    // Presses queued behind a running start-all and a refresh, and a refresh behind them:
    // every run ends and publishes, in the order of the presses, and the model goes once the
    // window lets go of it.
    void queuedPressesAllPublish() {
        ServiceFixture f;
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        auto model = f.makeModel();
        testing::OutcomeRecorder outcomes(*model);
        QList<Operation> pressed{Operation::StartAll};
        model->startAll();
        model->refreshStatusInBackground();
        for (int i = 0; i < 20; ++i) {
            const bool stop = i % 2 == 0;
            stop ? model->stopAll() : model->startAll();
            pressed << (stop ? Operation::StopAll : Operation::StartAll);
        }
        model->refreshStatusInBackground();
        QVERIFY(outcomes.waitFor(pressed.size(), 240000));
        QList<Operation> ended;
        for (const OperationOutcome& outcome : outcomes.outcomes)
            ended << outcome.operation;
        QCOMPARE(ended, pressed);
        // Four statuses for each start-all, two for each stop-all and one for each refresh,
        // each published once.
        QCOMPARE(model->statusPublications(), quint64(11 * 4 + 10 * 2 + 2));
        QCOMPARE(model->logs(), outcomes.last().report);
        QPointer<PanelViewModel> watcher(model.get());
        model.reset();
        f.model.reset();
        QVERIFY(testing::waitFor([&] { return watcher.isNull(); }));
    }

    // A PHP server that binds its port only after the readiness limit is ended, and its entry
    // says so: once start-all is done, none runs without a pid file.
    void slowServerIsEnded() {
        ServiceFixture f;
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        f.config.webReadySeconds = 1;
        qputenv("ZELTO_FAKE_PHP_BIND_DELAY", "4");
        const auto unset = qScopeGuard([] { qunsetenv("ZELTO_FAKE_PHP_BIND_DELAY"); });
        auto model = f.makeModel();
        const std::optional<OperationOutcome> outcome =
            testing::runToEnd(*model, &PanelViewModel::startAll);
        QVERIFY(outcome);
        QVERIFY(outcome->serviceOutcome(Service::Database)->succeeded);
        QList<pid_t> named;
        const QRegularExpression ended(QStringLiteral("；已结束该服务器 \\(pid (\\d+)\\)$"));
        for (const Service service : {Service::Site, Service::PhpMyAdmin}) {
            const ServiceOutcome* result = outcome->serviceOutcome(service);
            QVERIFY(!result->succeeded && result->cause->kind == ErrorKind::TimedOut);
            const QRegularExpressionMatch match = ended.match(result->cause->message);
            QVERIFY2(match.hasMatch(), qPrintable(result->cause->message));
            named << match.captured(1).toInt();
            QVERIFY(!QFile::exists(model->servicePidPath(service)));
        }
        std::sort(named.begin(), named.end());
        QList<pid_t> launched = f.stack.serverPids();
        std::sort(launched.begin(), launched.end());
        QCOMPARE(named, launched);
        for (const pid_t pid : launched)
            QVERIFY(!platform::isProcessAlive(pid));
    }

    // Stops pressed while start-all waits for a database server that never answers overtake
    // it: the start ends without waiting out its limit and says it was stopped, everything it
    // launched is ended, the stops take turns and the log ends with the last stop's report.
    void stopOvertakesStart() {
        ServiceFixture f;
        f.stack.installDatabase();
        f.stack.installPhpServer(QStringLiteral("PHP8.2"));
        f.config.databaseReadySeconds = 600;
        // The database stand-in listens nowhere when its port is a fixed one.
        qputenv("ZELTO_FAKE_PORT_3306", "3306");
        const auto restore = qScopeGuard([&] {
            qputenv("ZELTO_FAKE_PORT_3306",
                    QByteArray::number(f.config.probePort(Service::Database)));
        });
        auto model = f.makeModel();
        testing::OutcomeRecorder outcomes(*model);
        LogRecorder rec(model.get());
        model->startAll();
        // Waiting for the servers: the site's answers, the database's never does.
        QVERIFY(testing::waitFor([&] {
            return !f.stack.serverPids(QStringLiteral("mysqld-pids")).isEmpty() &&
                   platform::isTcpPortListening(f.config.probePort(Service::Site));
        }));
        model->stopAll();
        model->stopAll();
        QVERIFY(outcomes.waitFor(3, 120000));
        QCOMPARE((QList<Operation>{outcomes.outcomes[0].operation, outcomes.outcomes[1].operation,
                                   outcomes.outcomes[2].operation}),
                 (QList<Operation>{Operation::StartAll, Operation::StopAll, Operation::StopAll}));
        const OperationOutcome& start = outcomes.outcomes[0];
        QVERIFY(!start.succeeded);
        QVERIFY(start.serviceOutcome(Service::Database)->cause->kind == ErrorKind::Cancelled);
        QVERIFY2(start.report.startsWith(QStringLiteral("=== 启动已中止 ===\n")) &&
                     start.report.contains(
                         QStringLiteral("\nMySQL: 启动已中止: 收到停止请求，未等待服务器就绪\n")),
                 qPrintable(start.report));
        QVERIFY(outcomes.outcomes[1].succeeded && outcomes.outcomes[2].succeeded);
        // In order: the start's report, then each stop's opening and report.
        const auto at = [&](const QString& text, qsizetype from) {
            return rec.texts.indexOf(text, from);
        };
        const QString stopping = services::stopAllStoppingText(f.root);
        const qsizetype started = at(start.report, 0);
        const qsizetype firstStop = at(outcomes.outcomes[1].report, at(stopping, started));
        QVERIFY(started >= 0 && firstStop > started);
        QVERIFY(at(outcomes.outcomes[2].report, at(stopping, firstStop)) > firstStop);
        QCOMPARE(model->logs(), outcomes.outcomes[2].report);
        for (const pid_t pid :
             f.stack.serverPids() + f.stack.serverPids(QStringLiteral("mysqld-pids")))
            QVERIFY(testing::waitFor([pid] { return !platform::isProcessAlive(pid); }));
    }

    void stopAllReportsLaunchFailures() {
        ServiceFixture f;
        // Neither the administration program nor the kill tool can be started.
        f.sandbox.tools.pkill = f.sandbox.base() + QStringLiteral("/missing/pkill");
        testing::writeFile(f.root + QStringLiteral("/runtime/config/php-web.pid"), "abc");
        auto model = f.makeModel();
        const std::optional<OperationOutcome> outcome =
            testing::runToEnd(*model, &PanelViewModel::stopAll);
        QVERIFY(outcome);
        QVERIFY(!outcome->succeeded);
        QCOMPARE(serviceResults(*outcome), (QList<bool>{false, false, false}));
        QCOMPARE(model->logs(),
                 QStringLiteral("=== 停止完成 ===\nNo such file or directory\n"
                                "No such file or directory\nNo such file or directory"));
        QCOMPARE(testing::readFile(model->phpWebPidPath()), QByteArray("abc"));
        // Each cause is the launch's own failure, with the program it could not start.
        QCOMPARE(outcome->serviceOutcome(Service::Site)->cause->path, f.sandbox.tools.pkill);
        QVERIFY(outcome->serviceOutcome(Service::Database)->cause->kind == ErrorKind::NotFound);
    }
};

QTEST_GUILESS_MAIN(ServiceSequencesTest)
#include "tst_service_sequences.moc"
