// The PHP servers of the assembled runtime with their worker processes, in a temporary panel
// root over the real ports 8000 and 900: the extensions they load, requests that pass each
// other, edits served at once, and stops and status after a worker or the main process was
// killed. Everything the test starts is ended by pid or by its temporary root's path.

#include "core/log_follower.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/process_table.h"
#include "service_fakes.h"
#include "services/web_services.h"
#include "test_support.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTcpSocket>
#include <QTest>

#include <csignal>
#include <thread>

using namespace platform;

namespace {

using testing::portAnswers;

// What the runtime promises an application, as the sample site names them.
const QStringList kExtensions = {"mysqli",    "pdo_mysql", "mbstring", "curl",         "gd",
                                 "intl",      "zip",       "dom",      "simplexml",    "xmlreader",
                                 "xmlwriter", "bcmath",    "imagick",  "zend_opcache", "exif",
                                 "fileinfo",  "sodium"};

// Sends a request and returns the socket without waiting for the answer.
std::unique_ptr<QTcpSocket> sendRequest(int port, const QByteArray& path) {
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    if (!socket->waitForConnected(5000))
        return nullptr;
    socket->write("GET " + path + " HTTP/1.0\r\nHost: localhost\r\n\r\n");
    socket->waitForBytesWritten(5000);
    return socket;
}

// The rest of the answer on socket, until the server closes it.
QByteArray readAnswer(QTcpSocket& socket) {
    QByteArray answer;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(30000))
        answer += socket.readAll();
    return answer + socket.readAll();
}

QByteArray httpGet(int port, const QByteArray& path) {
    const std::unique_ptr<QTcpSocket> socket = sendRequest(port, path);
    return socket ? readAnswer(*socket) : QByteArray();
}

QByteArray body(const QByteArray& answer) {
    return answer.mid(answer.indexOf("\r\n\r\n") + 4);
}

// The processes serving beside the main one.
int expectedWorkers() {
    return phpServerWorkerCount(std::thread::hardware_concurrency());
}

// How many processes of the server that leader started serve, once that is count (they are
// forked while the first already answers), or after a few seconds.
size_t servingOnce(pid_t leader, size_t count) {
    const ProcessTable table;
    testing::waitFor(
        [&] { return services::phpServerProcesses(table, leader).serving.size() == count; }, 10000);
    return services::phpServerProcesses(table, leader).serving.size();
}

} // namespace

class PhpServerEndToEndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const testing::EndToEndSetup setup =
            testing::endToEndSetup(QStringLiteral("mysql/bin/mysqld"), {8000, 900});
        if (!setup.skip.isEmpty())
            QSKIP(qPrintable(setup.skip));
        if (!setup.failure.isEmpty())
            QFAIL(qPrintable(setup.failure));
        m_runtime = setup.runtime;
    }

    void init() {
        m_box = std::make_unique<TestSandbox>();
        m_cleanup = std::make_unique<testing::EndProcessesUnder>(m_box->base());
        m_box->noResourcePath = true;
        m_root = m_box->installedRoot();
        QVERIFY(QDir().mkpath(m_root));
        QVERIFY(copyTree(m_runtime, m_root + QStringLiteral("/runtime")));
        m_model = m_box->makeModel();
    }

    void cleanup() {
        m_model.reset();
        m_cleanup.reset(); // ends what is left, by the sandbox's path
        m_box.reset();
    }

    // The site server's extensions, two requests at once, and an edit served at once.
    void siteServer() {
        QCOMPARE(m_model->startPhpWeb(), QString());
        const pid_t leader = core::readPidFile(m_model->phpWebPidPath()).value_or(0);
        QVERIFY(leader > 0);
        QCOMPARE(servingOnce(leader, expectedWorkers() + 1), size_t(expectedWorkers() + 1));

        const QByteArray page = httpGet(8000, "/");
        for (const QString& extension : kExtensions)
            QVERIFY2(page.contains("data-extension=\"" + extension.toUtf8() + "\""),
                     qPrintable(extension));
        QVERIFY(!page.contains("data-extension=\"xdebug\""));
        QVERIFY(!page.contains("id=\"extensions-missing\""));
        QVERIFY2(page.contains("id=\"opcache\" data-state=\"on\""), page.constData());
        QVERIFY(page.contains("opcache.revalidate_freq = 0"));

        // A slow request does not hold up the next one: that one is answered first.
        const QString www = m_root + QStringLiteral("/runtime/www/");
        testing::writeFile(www + QStringLiteral("slow.php"), "<?php sleep(3); echo 'slept';");
        const std::unique_ptr<QTcpSocket> slow = sendRequest(8000, "/slow.php");
        QVERIFY(slow);
        QTest::qWait(200); // the slow one is taken first
        QVERIFY(body(httpGet(8000, "/")).contains("id=\"php-version\""));
        QVERIFY(!slow->waitForReadyRead(0));
        QCOMPARE(body(readAnswer(*slow)), QByteArray("slept"));

        // A script cached by OPcache (old enough to be cached) and then edited is served
        // changed on the very next request, by whichever process takes it.
        const QString script = www + QStringLiteral("edited.php");
        testing::writeFile(script, "<?php echo 'first';");
        QFile file(script);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                                 QFileDevice::FileModificationTime));
        file.close();
        for (int i = 0; i < 2 * (expectedWorkers() + 1); ++i)
            QCOMPARE(body(httpGet(8000, "/edited.php")), QByteArray("first"));
        testing::writeFile(script, "<?php echo 'second';");
        for (int i = 0; i < 2 * (expectedWorkers() + 1); ++i)
            QCOMPARE(body(httpGet(8000, "/edited.php")), QByteArray("second"));
    }

    // What a page does wrong reaches the logs window's model, marked, within a second of the
    // request: PHP's own errors from the running site server, and the answer's status.
    void errorsReachTheLogView_data() {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("logged");
        QTest::addColumn<int>("severity");
        QTest::newRow("warning") << QByteArray("<?php echo $undefined;")
                                 << "PHP Warning:" << int(logs::Severity::Warning);
        QTest::newRow("notice") << QByteArray("<?php trigger_error('n', E_USER_NOTICE);")
                                << "PHP Notice:" << int(logs::Severity::Warning);
        QTest::newRow("deprecated") << QByteArray("<?php trigger_error('d', E_USER_DEPRECATED);")
                                    << "PHP Deprecated:" << int(logs::Severity::Warning);
        QTest::newRow("fatal") << QByteArray("<?php no_such_function();")
                               << "PHP Fatal error:" << int(logs::Severity::Error);
        QTest::newRow("uncaught") << QByteArray("<?php throw new RuntimeException('boom');")
                                  << "Uncaught RuntimeException: boom"
                                  << int(logs::Severity::Error);
        QTest::newRow("parse") << QByteArray("<?php if (")
                               << "PHP Parse error:" << int(logs::Severity::Error);
        QTest::newRow("status 500") << QByteArray("<?php http_response_code(503);")
                                    << "[503]:" << int(logs::Severity::Error);
    }

    void errorsReachTheLogView() {
        QFETCH(QByteArray, script);
        QFETCH(QString, logged);
        QFETCH(int, severity);
        QCOMPARE(m_model->startPhpWeb(), QString());
        logs::LogFollower follower(m_model->platform().dispatcher,
                                   [this] { return m_model->serviceLogPath(Service::Site); });
        follower.start();
        QVERIFY(testing::waitFor([&] { return follower.rowCount() > 0; }, 10000));
        const QString name =
            QStringLiteral("page-%1.php").arg(QTest::currentDataTag()).replace(u' ', u'-');
        const QString path = m_root + QStringLiteral("/runtime/www/") + name;
        testing::writeFile(path, script);
        (void)httpGet(8000, "/" + name.toUtf8());
        const auto found = [&]() -> const logs::LogLine* {
            for (const logs::LogLine& line : follower.lines())
                if (line.text.contains(logged) && line.text.contains(name))
                    return &line;
            return nullptr;
        };
        QVERIFY2(testing::waitFor([&] { return found() != nullptr; }, 1000),
                 qPrintable(
                     QString::fromUtf8(testing::readFile(m_model->serviceLogPath(Service::Site)))));
        QCOMPARE(int(found()->severity), severity);
        // PHP names the script and its line; the status line names none.
        if (!logged.startsWith(u'['))
            QVERIFY2(found()->location.startsWith(path + u':'), qPrintable(found()->location));
    }

    // A stop leaves no process of the server and its port free, whatever was killed before;
    // the status shows a killed worker or main process.
    void stop_data() {
        QTest::addColumn<bool>("admin");
        QTest::addColumn<QString>("killed"); // "", "worker" or "leader" (kill -9)
        QTest::addColumn<bool>("stopAll");   // else the pid-file stop
        QTest::newRow("site, whole") << false << "" << false;
        QTest::newRow("site, a worker killed") << false << "worker" << false;
        QTest::newRow("site, main process killed") << false << "leader" << false;
        QTest::newRow("site, main process killed, stop-all") << false << "leader" << true;
        QTest::newRow("phpMyAdmin, a worker killed") << true << "worker" << false;
    }

    void stop() {
        QFETCH(bool, admin);
        QFETCH(QString, killed);
        QFETCH(bool, stopAll);
        const Service service = admin ? Service::PhpMyAdmin : Service::Site;
        const int port = servicePort(service);
        QCOMPARE(admin ? m_model->startPhpMyAdmin() : m_model->startPhpWeb(), QString());
        const pid_t leader = core::readPidFile(m_model->servicePidPath(service)).value_or(0);
        QVERIFY(leader > 0);
        const ProcessTable table;
        QCOMPARE(servingOnce(leader, expectedWorkers() + 1), size_t(expectedWorkers() + 1));
        const std::vector<pid_t> all = services::phpServerProcesses(table, leader).serving;
        const int served = int(all.size()) - 1;

        QString note;
        const QString label = serviceLabel(service);
        if (killed == QLatin1String("worker")) {
            QVERIFY(::kill(all.back(), SIGKILL) == 0);
            note = label +
                   QStringLiteral(": 1 个工作进程已退出，其余 %1 个进程仍在服务（重新启动可恢复）")
                       .arg(served);
        } else if (killed == QLatin1String("leader")) {
            QVERIFY(::kill(leader, SIGKILL) == 0);
            note = label + QStringLiteral(
                               ": 主进程 (pid %1) 已退出，%2 个工作进程仍在服务（停止会结束它们）")
                               .arg(leader)
                               .arg(served);
        }
        const size_t left = all.size() - (killed.isEmpty() ? 0 : 1);
        const size_t serving = servingOnce(leader, left);
        if (killed == QLatin1String("leader") && serving == 0) {
            // Newer PHP (Debian 13's 8.4) ends the workers with their main process: the
            // server is gone as a whole, and the status says it is stopped, without a note.
            QVERIFY(testing::waitFor([port] { return !portAnswers(port); }, 10000));
            m_model->refreshStatus();
            QVERIFY(!m_model->status().isRunning(service));
            QVERIFY(!m_model->logs().contains(QStringLiteral("仍在服务")));
            if (stopAll)
                QVERIFY(testing::runToEnd(*m_model, &PanelViewModel::stopAll, 120000));
            else
                QCOMPARE(admin ? m_model->stopPhpMyAdmin() : m_model->stopPhpWeb(), QString());
            QVERIFY(!QFileInfo::exists(m_model->servicePidPath(service)));
            return;
        }
        QCOMPARE(serving, left);
        // A worker that PHP has already reaped leaves nothing to see (seen once on a loaded
        // machine): then there is nothing to say either.
        if (killed == QLatin1String("worker") &&
            !QFileInfo::exists(QStringLiteral("/proc/%1").arg(all.back())))
            note.clear();
        // Still serving, and said so.
        QVERIFY(portAnswers(port));
        m_model->refreshStatus();
        QVERIFY(m_model->status().isRunning(service));
        QCOMPARE(m_model->logs().contains(QStringLiteral("仍在服务")), !note.isEmpty());
        if (!note.isEmpty())
            QVERIFY2(m_model->logs().endsWith(note + QLatin1Char('\n')),
                     qPrintable(m_model->logs()));

        if (stopAll) {
            QVERIFY(testing::runToEnd(*m_model, &PanelViewModel::stopAll, 120000));
        } else {
            QCOMPARE(admin ? m_model->stopPhpMyAdmin() : m_model->stopPhpWeb(), QString());
        }
        // Nothing is left, at once: the stop waited for every process.
        for (const pid_t pid : all)
            QVERIFY2(!isProcessAlive(pid), qPrintable(QString::number(pid)));
        QVERIFY(services::phpServerProcesses(table, leader).serving.empty());
        QVERIFY(!portAnswers(port));
        QVERIFY(!QFileInfo::exists(m_model->servicePidPath(service)));
        m_model->refreshStatus();
        QVERIFY(!m_model->status().isRunning(service));
        QVERIFY(!m_model->logs().contains(QStringLiteral("仍在服务")));
    }

private:
    QString m_runtime;
    QString m_root;
    std::unique_ptr<TestSandbox> m_box;
    std::unique_ptr<testing::EndProcessesUnder> m_cleanup;
    std::shared_ptr<PanelViewModel> m_model;
};

QTEST_GUILESS_MAIN(PhpServerEndToEndTest)
#include "tst_php_server_e2e.moc"
