// Start-all, stop-all and opening phpMyAdmin with the assembled runtime: the real MariaDB, PHP
// and phpMyAdmin in a temporary panel root, over the real ports 3306, 8000 and 900, with the
// real pkill. Everything the test starts is ended by pid or by its temporary root's path.

#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/port_holder.h"
#include "platform/process.h"
#include "platform/process_table.h"
#include "service_fakes.h"
#include "services/database.h"
#include "services/web_services.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpSocket>
#include <QTest>

#include <algorithm>

using namespace platform;

namespace {

using testing::ForeignListener;
using testing::portAnswers;

const QList<int> kPorts = {3306, 8000, 900};
constexpr int kStartLimitMs = 180000;

// True when every port answers (answering) or none does (!answering).
bool allPorts(const QList<int>& ports, bool answering) {
    return std::all_of(ports.begin(), ports.end(),
                       [&](int port) { return portAnswers(port) == answering; });
}

QByteArray httpGet(int port, const QByteArray& path) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket.waitForConnected(5000))
        return {};
    socket.write("GET " + path + " HTTP/1.0\r\nHost: localhost:" + QByteArray::number(port) +
                 "\r\n\r\n");
    QByteArray response;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        response += socket.readAll();
    return response + socket.readAll();
}

// Whether phpMyAdmin on 900 signs root in with password (its login form, then the page with a
// sign-out link), through curl with a cookie jar in dir.
bool phpMyAdminSignsIn(const QString& dir, const QString& password) {
    const QString jar = dir + QStringLiteral("/cookies-") + password;
    const QString curl = QStringLiteral("/usr/bin/curl");
    const QStringList common = {QStringLiteral("-sS"),
                                QStringLiteral("--max-time"),
                                QStringLiteral("30"),
                                QStringLiteral("-c"),
                                jar,
                                QStringLiteral("-b"),
                                jar};
    ChildOptions options;
    options.out = StdStream::Capture;
    options.timeout = std::chrono::seconds(60);
    const Result<ChildExit> form =
        runChild(curl, common + QStringList{QStringLiteral("http://127.0.0.1:900/")}, options);
    if (!form)
        return false;
    const QRegularExpression tokenField(QStringLiteral(R"re(name="token" value="([^"]*)")re"));
    const QString token = tokenField.match(QString::fromUtf8(form->output)).captured(1);
    const Result<ChildExit> page = runChild(
        curl,
        common + QStringList{QStringLiteral("-L"), QStringLiteral("--data-urlencode"),
                             QStringLiteral("token=") + token, QStringLiteral("--data-urlencode"),
                             QStringLiteral("pma_username=root"),
                             QStringLiteral("--data-urlencode"),
                             QStringLiteral("pma_password=") + password,
                             QStringLiteral("--data-urlencode"), QStringLiteral("server=1"),
                             QStringLiteral("http://127.0.0.1:900/index.php?route=/")},
        options);
    return page && page->output.contains("route=/logout");
}

// What the database answers to root with the panel's password over TCP.
QString databaseAnswer() {
    ChildOptions options;
    options.out = StdStream::Capture;
    options.err = StdStream::Merge;
    options.timeout = std::chrono::seconds(30);
    const QStringList args =
        QStringLiteral("--no-defaults --protocol=TCP -h127.0.0.1 -P3306 -uroot -pkpzw -N -e")
            .split(QLatin1Char(' '))
        << QStringLiteral("SELECT CONCAT('answer:', 6*7)");
    const Result<ChildExit> r = runChild(QStringLiteral("/usr/bin/mariadb"), args, options);
    return r ? QString::fromUtf8(r->output).trimmed() : QString();
}

QString footer(const QString& root) {
    return QStringLiteral("网站: http://localhost:8000\nphpMyAdmin: http://localhost:900\n"
                          "MySQL: localhost:3306\nPHP: ") +
           root + QStringLiteral("/runtime/php/PHP" ZELTO_PHP_VERSION "/bin/php\n目录: ") + root;
}

QString statusReport(bool m, bool w, bool a, const QString& root) {
    const auto s = [](bool running) {
        return running ? QStringLiteral("运行中") : QStringLiteral("已停止");
    };
    return QStringLiteral("=== 服务状态 ===\nMySQL: ") + s(m) + QStringLiteral("\nPHP Web: ") +
           s(w) + QStringLiteral("\nMySQL Web: ") + s(a) + QStringLiteral("\n目录: ") + root +
           QLatin1Char('\n');
}

bool allAre(const ServiceStatus& s, bool running) {
    return s.isRunning(Service::Database) == running && s.isRunning(Service::Site) == running &&
           s.isRunning(Service::PhpMyAdmin) == running;
}

// Runs an operation to its end; its outcome, which must have come in time.
std::optional<OperationOutcome> runToEnd(PanelViewModel& model,
                                         void (PanelViewModel::*operation)()) {
    return testing::runToEnd(model, operation, kStartLimitMs);
}

QByteArray fileText(const QString& path) {
    return testing::readFile(path).trimmed();
}

// A runtime copied into the sandbox's installed root (nothing shipped, so a missing part
// stays missing).
QString installRuntimeCopy(TestSandbox& box, const QString& runtime) {
    box.noResourcePath = true;
    const QString root = box.installedRoot();
    QDir().mkpath(root);
    if (!copyTree(runtime, root + QStringLiteral("/runtime")))
        return {};
    return root;
}

// The entries of a final block whose title is title: its lines up to the empty line.
QStringList blockEntries(const QString& block, const QString& title) {
    if (!block.startsWith(title + QLatin1Char('\n')))
        return {QStringLiteral("<not a block: ") + block + QLatin1Char('>')};
    const QString body = block.mid(title.size() + 1);
    return body.left(body.indexOf(QStringLiteral("\n\n")))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// "<label>: 启动失败: 端口 <port> 已被 zelto_port_list (pid <pid>, 用户 <user>, 命令: ...) 占用"
bool namesListener(const QString& entry, const QString& head, int port, pid_t pid) {
    return entry.startsWith(
               head +
               QStringLiteral("端口 %1 已被 zelto_port_list (pid %2, 用户 ").arg(port).arg(pid)) &&
           entry.contains(QStringLiteral(", 命令: ") + QStringLiteral(ZELTO_PORT_LISTENER)) &&
           entry.endsWith(QStringLiteral(") 占用"));
}

QString pidFileText(const QString& path) {
    return QString::fromUtf8(testing::readFile(path)).trimmed();
}

} // namespace

class ServicesEndToEndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const testing::EndToEndSetup setup =
            testing::endToEndSetup(QStringLiteral("mysql/bin/mysqld"), kPorts);
        if (!setup.skip.isEmpty())
            QSKIP(qPrintable(setup.skip));
        if (!setup.failure.isEmpty())
            QFAIL(qPrintable(setup.failure));
        m_runtime = setup.runtime;
    }

    // Start-all twice, stop-all, then opening phpMyAdmin.
    void startRestartStop_data() {
        QTest::addColumn<QString>("rootName"); // empty: the installed root, from the resources
        QTest::newRow("installed root") << QString();
        QTest::newRow("spaces, Chinese, regex characters")
            << QStringLiteral("我的 站点 (old) c++ [1]");
    }

    void startRestartStop() {
        QFETCH(QString, rootName);
        TestSandbox box;
        box.machineDatabasePort = true; // the real server on the real port
        const testing::EndProcessesUnder cleanup(box.base());
        const QString root =
            rootName.isEmpty() ? box.installedRoot() : box.base() + QLatin1Char('/') + rootName;
        // The installed root comes from the resources; another is the user's choice.
        const QString parent = rootName.isEmpty() ? box.resourceDir() : root;
        QVERIFY(QDir().mkpath(parent));
        QVERIFY(copyTree(m_runtime, parent + QStringLiteral("/runtime")));
        if (!rootName.isEmpty()) {
            box.noResourcePath = true;
            box.preferences->setString(QStringLiteral("zeltoPanelRoot"), root);
        }
        // A database server of another root: the pattern kills must leave it alone.
        const QString otherMysql = box.base() + QStringLiteral("/other/runtime/mysql");
        const pid_t otherServer = startSleeper(
            otherMysql + QStringLiteral("/bin/mysqld"),
            {QStringLiteral("--defaults-file=") + otherMysql + QStringLiteral("/my_runtime.cnf")});
        QVERIFY(processAlive(otherServer));
        const auto endOther = qScopeGuard([&] { endProcess(otherServer, otherMysql); });

        auto model = box.makeModel();
        model->refreshStatus(); // as the window does when first shown: installs the runtime
        QCOMPARE(model->zeltoPanelRoot(), root);
        QVERIFY(allAre(model->status(), false));

        // First start on an empty data directory.
        {
            LogRecorder rec(model.get());
            const std::optional<OperationOutcome> outcome =
                runToEnd(*model, &PanelViewModel::startAll);
            QVERIFY(outcome);
            QVERIFY2(outcome->succeeded, qPrintable(outcome->report));
            QCOMPARE(outcome->report, model->logs());
            const QStringList stages = rec.stagesAfterStatus();
            QCOMPARE(stages.size(), 5);
            // Stage 1 holds the option-file report (empty) and the initialiser's output.
            const QString head = QStringLiteral("=== 启动中 ===\n\n");
            const QString tail = QStringLiteral("\n正在启动 MySQL...\n目录: ") + root;
            QVERIFY2(stages[1].startsWith(head) && stages[1].endsWith(tail), qPrintable(stages[1]));
            const QString init =
                stages[1].mid(head.size(), stages[1].size() - head.size() - tail.size()).trimmed();
            QCOMPARE(model->logs(), QStringLiteral("=== 启动完成 ===\n") +
                                        (init.isEmpty() ? QString() : init + QLatin1Char('\n')) +
                                        QLatin1Char('\n') + footer(root));
        }
        QVERIFY(QFileInfo(root + QStringLiteral("/runtime/mysql/data/mysql")).isDir());
        QVERIFY(testing::waitFor([] { return allPorts(kPorts, true); }, 60000));
        model->refreshStatus();
        QVERIFY(allAre(model->status(), true));
        QCOMPARE(databaseAnswer(), QStringLiteral("answer:42"));
        // The site reaches the database through mysqli and PDO, as localhost (the socket) and
        // over both loopback addresses.
        const QByteArray site = httpGet(8000, "/");
        for (const char* way :
             {"localhost", "pdo-localhost", "ipv4", "pdo-ipv4", "ipv6", "pdo-ipv6"})
            QVERIFY2(site.contains(QByteArray("id=\"db-") + way + "\" class=\"ok\""),
                     (way + QByteArray(": ") + site).constData());
        const QByteArray login = httpGet(900, "/");
        QVERIFY2(login.contains("input_username") && login.contains("input_password"),
                 login.left(2000).constData());
        QVERIFY(phpMyAdminSignsIn(box.base(), QStringLiteral("kpzw")));
        QVERIFY(!phpMyAdminSignsIn(box.base(), QStringLiteral("wrong")));
        QCOMPARE(testing::readFile(root + QStringLiteral("/runtime/phpmyadmin/config.inc.php")),
                 services::phpMyAdminConfigText().toUtf8());

        // A second start restarts everything: nothing to initialise, every report empty.
        const QByteArray oldWeb = fileText(model->phpWebPidPath());
        const QByteArray oldAdmin = fileText(model->phpMyAdminPidPath());
        const std::optional<pid_t> oldDatabase = model->mysqlPidFromPort();
        QVERIFY(oldDatabase.has_value());
        model->setLogs(QStringLiteral("restarting"));
        const std::optional<OperationOutcome> restart = runToEnd(*model, &PanelViewModel::startAll);
        QVERIFY(restart && restart->succeeded);
        QCOMPARE(model->logs(), QStringLiteral("=== 启动完成 ===\n\n") + footer(root));
        QVERIFY(model->status().isRunning(Service::Site) &&
                model->status().isRunning(Service::PhpMyAdmin));
        QVERIFY(fileText(model->phpWebPidPath()) != oldWeb);
        QVERIFY(fileText(model->phpMyAdminPidPath()) != oldAdmin);
        QVERIFY(testing::waitFor(
            [&] {
                const std::optional<pid_t> now = model->mysqlPidFromPort();
                return now && *now != *oldDatabase && allPorts(kPorts, true);
            },
            60000));
        QCOMPARE(databaseAnswer(), QStringLiteral("answer:42"));

        // A PHP built-in server on all interfaces that the panel did not start.
        const QString foreignPhp = box.base() + QStringLiteral("/foreign/bin/php");
        QVERIFY(QDir().mkpath(box.base() + QStringLiteral("/foreign/bin")));
        QVERIFY(QFile::link(QStringLiteral("/usr/bin/php" ZELTO_PHP_VERSION), foreignPhp));
        const Result<pid_t> foreign =
            spawnDetached(foreignPhp,
                          {QStringLiteral("-S"), QStringLiteral("0.0.0.0:8765"),
                           QStringLiteral("-t"), box.base() + QStringLiteral("/foreign")},
                          box.base());
        QVERIFY(foreign);
        QVERIFY(testing::waitFor([] { return portAnswers(8765); }, 30000));

        // Stop: nothing answers any more, the pid files are gone, the other root's server lives.
        {
            LogRecorder rec(model.get());
            const std::optional<OperationOutcome> outcome =
                runToEnd(*model, &PanelViewModel::stopAll);
            QVERIFY(outcome && outcome->succeeded);
            QCOMPARE(model->logs(), QStringLiteral("=== 停止完成 ==="));
            QCOMPARE(rec.texts.size(), 4);
            QCOMPARE(rec.texts[1],
                     QStringLiteral("=== 停止中 ===\n正在关闭服务...\n目录: ") + root);
            QVERIFY(allAre(model->status(), false));
        }
        QVERIFY(!QFileInfo::exists(model->phpWebPidPath()));
        QVERIFY(!QFileInfo::exists(model->phpMyAdminPidPath()));
        QVERIFY(testing::waitFor([] { return allPorts(kPorts + QList<int>{8765}, false); }, 30000));
        QVERIFY(testing::waitFor([&] { return !processAlive(*foreign); }, 10000));
        QVERIFY(processAlive(otherServer));
        model->refreshStatus();
        QCOMPARE(model->logs(), statusReport(false, false, false, root));

        // Opening phpMyAdmin while it is stopped starts it.
        model->openPhpMyAdmin();
        const QUrl address(QStringLiteral("http://localhost:900"));
        QCOMPARE(box.desktop->openedUrls, std::vector<QUrl>{address});
        QCOMPARE(model->logs(), statusReport(false, false, true, root));
        QVERIFY(testing::waitFor([] { return portAnswers(900); }, 30000));
        QVERIFY(httpGet(900, "/").contains("input_username"));
        const QByteArray pid = fileText(model->phpMyAdminPidPath());
        QVERIFY(!pid.isEmpty());
        // Already running: nothing more is started.
        model->setLogs(QStringLiteral("untouched"));
        model->openPhpMyAdmin();
        QCOMPARE(box.desktop->openedUrls, (std::vector<QUrl>{address, address}));
        QCOMPARE(model->logs(), QStringLiteral("untouched"));
        QCOMPARE(fileText(model->phpMyAdminPidPath()), pid);
        // Stopped through its pid file: the real server is recognised and ends.
        QCOMPARE(model->stopPhpMyAdmin(), QString());
        QVERIFY(testing::waitFor([] { return !portAnswers(900); }, 30000));
        QVERIFY(!QFileInfo::exists(model->phpMyAdminPidPath()));
    }

    void openPhpMyAdminWithoutItsDirectory() {
        TestSandbox box;
        box.machineDatabasePort = true; // the real server on the real port
        const testing::EndProcessesUnder cleanup(box.base());
        box.noResourcePath = true;
        const QString root = box.installedRoot();
        QVERIFY(QDir().mkpath(root));
        QVERIFY(copyTree(m_runtime, root + QStringLiteral("/runtime")));
        const QString dir = root + QStringLiteral("/runtime/phpmyadmin");
        QVERIFY(removePath(dir));
        auto model = box.makeModel();

        QCOMPARE(model->startPhpMyAdmin(), QStringLiteral("phpMyAdmin: 未找到目录 ") + dir);
        model->openPhpMyAdmin();
        QCOMPARE(box.desktop->openedUrls,
                 std::vector<QUrl>{QUrl(QStringLiteral("http://localhost:900"))});
        // The reason follows the status, and the error notice shows it.
        const QString missing = QStringLiteral("phpMyAdmin: 未找到目录 ") + dir;
        QCOMPARE(model->logs(), statusReport(false, false, false, root) + missing + '\n');
        QCOMPARE(model->errorSummary(), missing);
        QVERIFY(!QFileInfo::exists(dir));
        QVERIFY(!QFileInfo::exists(model->phpMyAdminPidPath()));
        QTest::qWait(500);
        QVERIFY(!portAnswers(900));
    }

    // A site and phpMyAdmin that cannot come up: the final report names each cause, the red
    // notice shows it, the database still comes up, and nothing of the cause is harmed.
    void failuresAreNamed_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("other programs hold 8000 and 900") << "listeners";
        QTest::newRow("php ends at launch") << "broken php";
        QTest::newRow("no phpMyAdmin") << "no phpmyadmin";
    }

    void failuresAreNamed() {
        QFETCH(QString, fault);
        TestSandbox box;
        box.machineDatabasePort = true; // the real server on the real port
        const testing::EndProcessesUnder cleanup(box.base());
        const QString root = installRuntimeCopy(box, m_runtime);
        QVERIFY(!root.isEmpty());
        std::optional<ForeignListener> web, admin;
        if (fault == QLatin1String("listeners")) {
            web.emplace(8000);
            admin.emplace(900);
            QVERIFY(testing::waitFor([] { return portAnswers(8000) && portAnswers(900); }));
        } else if (fault == QLatin1String("broken php")) {
            const QString php =
                root + QStringLiteral("/runtime/php/PHP" ZELTO_PHP_VERSION "/bin/php");
            QVERIFY(removePath(php));
            testing::writeScript(php, QStringLiteral("echo 'PHP Fatal error: this interpreter "
                                                     "cannot start' >&2\nexit 255"));
        } else {
            QVERIFY(removePath(root + QStringLiteral("/runtime/phpmyadmin")));
        }
        auto model = box.makeModel();
        const std::optional<OperationOutcome> started = runToEnd(*model, &PanelViewModel::startAll);
        QVERIFY(started);
        const QString report = model->logs();
        QVERIFY2(report.endsWith(QStringLiteral("\n\n") + footer(root)), qPrintable(report));
        // The first start initialises the database; the initialiser's own report is not
        // looked at here.
        QStringList entries = blockEntries(report, QStringLiteral("=== 启动完成 ==="));
        entries.removeIf(
            [](const QString& e) { return e.startsWith(QStringLiteral("mysql_install_db: ")); });
        qInfo().noquote() << "final report:" << report;
        QStringList expectedSummary;
        if (fault == QLatin1String("listeners")) {
            QCOMPARE(entries.size(), 2);
            QVERIFY2(
                namesListener(entries[0], QStringLiteral("PHP Web: 启动失败: "), 8000, web->pid),
                qPrintable(entries[0]));
            QVERIFY2(namesListener(entries[1], QStringLiteral("phpMyAdmin: 启动失败: "), 900,
                                   admin->pid),
                     qPrintable(entries[1]));
            expectedSummary = entries;
        } else if (fault == QLatin1String("broken php")) {
            const QString tail = QStringLiteral("服务器启动后即退出，%1: PHP Fatal error: this "
                                                "interpreter cannot start");
            QCOMPARE(entries, (QStringList{QStringLiteral("PHP Web: 启动失败: ") +
                                               tail.arg(QStringLiteral("php-web.log")),
                                           QStringLiteral("phpMyAdmin: 启动失败: ") +
                                               tail.arg(QStringLiteral("phpmyadmin.log"))}));
            expectedSummary = entries;
        } else {
            QCOMPARE(entries, QStringList{QStringLiteral("phpMyAdmin: 未找到目录 ") + root +
                                          QStringLiteral("/runtime/phpmyadmin")});
            expectedSummary = entries;
        }
        QCOMPARE(model->errorSummary(), expectedSummary.join(QLatin1Char('\n')));
        // Only what came up has a pid file, and the status says the same.
        const bool siteUp = fault == QLatin1String("no phpmyadmin");
        QCOMPARE(QFileInfo::exists(model->phpWebPidPath()), siteUp);
        QVERIFY(!QFileInfo::exists(model->phpMyAdminPidPath()));
        QVERIFY(!started->succeeded);
        QVERIFY(started->serviceOutcome(Service::Database)->succeeded);
        QCOMPARE(started->serviceOutcome(Service::Site)->succeeded, siteUp);
        QVERIFY(!started->serviceOutcome(Service::PhpMyAdmin)->succeeded);
        model->refreshStatus();
        QVERIFY(model->status().isRunning(Service::Database));
        QCOMPARE(model->status().isRunning(Service::Site), siteUp);
        QVERIFY(!model->status().isRunning(Service::PhpMyAdmin));
        QCOMPARE(databaseAnswer(), QStringLiteral("answer:42"));

        // Stop-all names a listener that stays, and harms none; another program on a port is
        // no failure of the panel's own servers, and it is not waited for.
        QElapsedTimer stopping;
        stopping.start();
        const std::optional<OperationOutcome> ended = runToEnd(*model, &PanelViewModel::stopAll);
        QVERIFY(ended);
        qInfo().noquote() << "stop report:" << model->logs() << "in" << stopping.elapsed() << "ms";
        QVERIFY(ended->succeeded);
        const QStringList stopped = blockEntries(model->logs() + QStringLiteral("\n\n"),
                                                 QStringLiteral("=== 停止完成 ==="));
        if (fault == QLatin1String("listeners")) {
            QCOMPARE(stopped.size(), 2);
            const QString foreign = QStringLiteral("端口 %1 被 zelto_port_list (pid %2, ");
            const QString notOurs = QStringLiteral(" 占用（不是本面板启动的程序）");
            QVERIFY2(stopped[0].startsWith(foreign.arg(8000).arg(web->pid)) &&
                         stopped[0].endsWith(notOurs),
                     qPrintable(stopped[0]));
            QVERIFY2(stopped[1].startsWith(foreign.arg(900).arg(admin->pid)) &&
                         stopped[1].endsWith(notOurs),
                     qPrintable(stopped[1]));
            QCOMPARE(model->errorSummary(), QString());
            QVERIFY(processAlive(web->pid) && processAlive(admin->pid));
        } else {
            QCOMPARE(model->logs(), QStringLiteral("=== 停止完成 ==="));
        }
        QVERIFY(testing::waitFor([] { return !portAnswers(3306); }));
    }

    // Two panels pressing start-all at once, in one process and in two: one stack runs, both
    // report it started, and both see it running.
    void startTogether_data() {
        QTest::addColumn<bool>("processes");
        QTest::newRow("two models") << false;
        QTest::newRow("two processes") << true;
    }

    void startTogether() {
        QFETCH(bool, processes);
        TestSandbox box;
        box.machineDatabasePort = true; // the real server on the real port
        const testing::EndProcessesUnder cleanup(box.base());
        const QString root = installRuntimeCopy(box, m_runtime);
        QVERIFY(!root.isEmpty());
        // A first start initialises the database, so that both runs below are restarts.
        auto first = box.makeModel();
        auto second = box.makeModel();
        QVERIFY(runToEnd(*first, &PanelViewModel::startAll));
        first->setLogs(QString());

        QStringList reports;
        if (processes) {
            QProcess a, b;
            for (QProcess* p : {&a, &b})
                p->start(QStringLiteral(ZELTO_START_ALL_DRIVER), {root});
            for (QProcess* p : {&a, &b}) {
                QVERIFY(p->waitForFinished(kStartLimitMs));
                QCOMPARE(p->exitCode(), 0);
                // Only the report: whatever the run's helper programs printed comes before it.
                const QString out = QString::fromUtf8(p->readAllStandardOutput()).trimmed();
                reports << out.mid(out.indexOf(QStringLiteral("=== 启动完成 ===")));
            }
        } else {
            testing::OutcomeRecorder one(*first), two(*second);
            first->startAll();
            second->startAll();
            QVERIFY(one.waitFor(1, kStartLimitMs) && two.waitFor(1, kStartLimitMs));
            QVERIFY(one.last().succeeded && two.last().succeeded);
            reports << first->logs() << second->logs();
        }
        for (const QString& report : reports)
            QCOMPARE(report, QStringLiteral("=== 启动完成 ===\n\n") + footer(root));
        for (auto* model : {first.get(), second.get()}) {
            model->refreshStatus();
            QVERIFY(allAre(model->status(), true));
        }
        // One server per port, and it is the one the pid file names: the listener is that
        // server or one of its workers, and so is every PHP server of the root.
        std::vector<pid_t> leaders;
        for (const auto& [port, pidPath] : {std::pair{8000, first->phpWebPidPath()},
                                            std::pair{900, first->phpMyAdminPidPath()}}) {
            const std::optional<platform::PortHolder> holder =
                platform::tcpPortHolder(quint16(port));
            QVERIFY(holder);
            leaders.push_back(pidFileText(pidPath).toInt());
            QCOMPARE(::getpgid(holder->pid), leaders.back());
        }
        const QString servers =
            QStringLiteral(" -S 0\\.0\\.0\\.0:(8000|900) -t ") + core::escapeExtendedRegex(root);
        for (const pid_t pid : platform::pidsMatching(servers))
            QVERIFY(std::ranges::count(leaders, ::getpgid(pid)) == 1);
        // The second run ended the first one's database server and waited for it before it
        // launched its own: one server, not a second one retrying the data directory's locks.
        const QString databaseServers =
            core::escapeExtendedRegex(root + QStringLiteral("/runtime/mysql/bin/mysqld "));
        QTRY_COMPARE_WITH_TIMEOUT(platform::pidsMatching(databaseServers).size(), size_t(1), 5000);
        QCOMPARE(databaseAnswer(), QStringLiteral("answer:42"));
        QVERIFY(runToEnd(*first, &PanelViewModel::stopAll));
        QCOMPARE(first->logs(), QStringLiteral("=== 停止完成 ==="));
    }

private:
    QString m_runtime;
};

QTEST_GUILESS_MAIN(ServicesEndToEndTest)
#include "tst_services_e2e.moc"
