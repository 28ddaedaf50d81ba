// The command-line panel against the real stack: the assembled runtime installed into the
// sandbox's panel root, MariaDB, PHP and phpMyAdmin on the fixed ports. Whatever the test
// started is ended by its temporary directory's path, a listener of its own by its pid.

#include "cli_sandbox.h"

#include "platform/platform.h"
#include "platform/process.h"
#include "test_support.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QUrl>

#include <optional>

#include <csignal>

using namespace platform;

namespace {

using testing::portAnswers;

const QStringList kServiceKeys = {"mysql", "phpWeb", "phpMyAdmin"};
const QList<int> kPorts = {3306, 8000, 900};

// Checks the three services of a status object: all running with their ports and live
// process ids, or all stopped without ids.
void checkServices(const QJsonObject& status, bool running) {
    const QJsonObject services = status.value(QStringLiteral("services")).toObject();
    for (qsizetype i = 0; i < kServiceKeys.size(); ++i) {
        const QJsonObject service = services.value(kServiceKeys[i]).toObject();
        QVERIFY2(service.value(QStringLiteral("running")).toBool(!running) == running,
                 qPrintable(kServiceKeys[i]));
        QCOMPARE(service.value(QStringLiteral("port")).toInt(), kPorts[i]);
        const QJsonValue pid = service.value(QStringLiteral("pid"));
        if (running) {
            QVERIFY2(pid.toInt() > 0 && isProcessAlive(pid.toInt()), qPrintable(kServiceKeys[i]));
        } else {
            QVERIFY(pid.isNull());
        }
    }
}

} // namespace

class CliEndToEndTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        const QString runtime = qEnvironmentVariable("ZELTO_RUNTIME_DIR");
        if (runtime.isEmpty() || !QFileInfo::exists(runtime + QStringLiteral("/mysql/bin/mysqld")))
            QSKIP("no assembled runtime (build the zelto_runtime target)");
        for (int port : kPorts) {
            if (portAnswers(port))
                QFAIL(qPrintable(QStringLiteral("port %1 is already taken").arg(port)));
        }
    }

    // status, start, status, stop, status: the state and the exit codes as a script sees them.
    void startStatusStop() {
        CliSandbox box(true);
        QVERIFY(box.isValid());
        const testing::EndProcessesUnder cleanup(box.base());
        const QString root = box.installedRoot();

        const CliSandbox::Run before =
            box.run({QStringLiteral("status"), QStringLiteral("--json")});
        QCOMPARE(before.exitCode, 0);
        QCOMPARE(before.json().value(QStringLiteral("root")).toString(), root);
        checkServices(before.json(), false);

        const CliSandbox::Run start = box.run({QStringLiteral("start")});
        QVERIFY2(start.exitCode == 0, (start.out + start.err).constData());
        QVERIFY2(start.outText().startsWith(QStringLiteral("=== 启动完成 ===\n")),
                 start.out.constData());
        QVERIFY(start.outText().contains(QStringLiteral("目录: ") + root));

        const CliSandbox::Run after = box.run({QStringLiteral("status"), QStringLiteral("--json")});
        QCOMPARE(after.exitCode, 0);
        checkServices(after.json(), true);
        const QString webPid = QString::fromUtf8(
            testing::readFile(root + QStringLiteral("/runtime/config/php-web.pid")).trimmed());
        QCOMPARE(after.json()
                     .value(QStringLiteral("services"))
                     .toObject()
                     .value(QStringLiteral("phpWeb"))
                     .toObject()
                     .value(QStringLiteral("pid"))
                     .toInt(),
                 webPid.toInt());
        QVERIFY(testing::waitFor([] { return portAnswers(8000) && portAnswers(900); }, 60000));

        const CliSandbox::Run stop = box.run({QStringLiteral("stop"), QStringLiteral("--json")});
        QVERIFY2(stop.exitCode == 0, (stop.out + stop.err).constData());
        const QJsonObject stopped = stop.json();
        QVERIFY(stopped.value(QStringLiteral("report"))
                    .toString()
                    .startsWith(QStringLiteral("=== 停止完成 ===")));
        QCOMPARE(stopped.value(QStringLiteral("outcome"))
                     .toObject()
                     .value(QStringLiteral("succeeded"))
                     .toBool(),
                 true);
        checkServices(stopped, false);
        const CliSandbox::Run last = box.run({QStringLiteral("status"), QStringLiteral("--json")});
        checkServices(last.json(), false);

        // Opening phpMyAdmin starts it first; without a desktop the address is printed.
        const CliSandbox::Run open = box.run(
            {QStringLiteral("open"), QStringLiteral("phpmyadmin"), QStringLiteral("--json")});
        QCOMPARE(open.exitCode, 0);
        QCOMPARE(open.json().value(QStringLiteral("address")).toString(),
                 QStringLiteral("http://localhost:900"));
        QCOMPARE(open.json()
                     .value(QStringLiteral("services"))
                     .toObject()
                     .value(QStringLiteral("phpMyAdmin"))
                     .toObject()
                     .value(QStringLiteral("running"))
                     .toBool(),
                 true);
        const CliSandbox::Run ended = box.run({QStringLiteral("stop")});
        QVERIFY2(ended.exitCode == 0, (ended.out + ended.err).constData());
    }

    // A service that does not come up: start ends with 1, its outcome names the service that
    // failed, and the report gives the cause.
    void failedServiceGivesExitStatusOne_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("service");
        QTest::newRow("database cannot be set up") << "data directory is a file"
                                                   << "mysql";
        QTest::newRow("site port held by another program") << "listener on 8000"
                                                           << "phpWeb";
    }

    void failedServiceGivesExitStatusOne() {
        QFETCH(QString, fault);
        QFETCH(QString, service);
        CliSandbox box(true);
        QVERIFY(box.isValid());
        const testing::EndProcessesUnder cleanup(box.base());
        QCOMPARE(box.run({QStringLiteral("root")}).exitCode, 0); // installs the runtime
        std::optional<testing::ForeignListener> listener;
        QString cause;
        if (fault == QLatin1String("listener on 8000")) {
            listener.emplace(8000);
            QVERIFY(testing::waitFor([] { return portAnswers(8000); }));
            cause = QStringLiteral("端口 8000 已被 zelto_port_list (pid %1, ").arg(listener->pid);
        } else {
            const QString data = box.installedRoot() + QStringLiteral("/runtime/mysql/data");
            QVERIFY(QDir(data).removeRecursively());
            testing::writeFile(data, "not a directory");
        }

        const CliSandbox::Run start = box.run({QStringLiteral("start"), QStringLiteral("--json")});
        QCOMPARE(start.exitCode, 1);
        const QJsonObject json = start.json();
        QCOMPARE(json.value(QStringLiteral("ok")).toBool(true), false);
        const QJsonObject outcome = json.value(QStringLiteral("outcome")).toObject();
        QCOMPARE(outcome.value(QStringLiteral("succeeded")).toBool(true), false);
        const QJsonObject services = outcome.value(QStringLiteral("services")).toObject();
        const auto succeeded = [&](const QString& key) {
            return services.value(key).toObject().value(QStringLiteral("succeeded")).toBool();
        };
        QVERIFY(!succeeded(service));
        if (service != QLatin1String("mysql"))
            QVERIFY(succeeded(QStringLiteral("mysql")));
        const QString message = services.value(service)
                                    .toObject()
                                    .value(QStringLiteral("cause"))
                                    .toObject()
                                    .value(QStringLiteral("message"))
                                    .toString();
        QVERIFY2(!message.isEmpty() && message.contains(cause), qPrintable(message));
        QVERIFY2(json.value(QStringLiteral("report")).toString().contains(message),
                 start.out.constData());
        box.run({QStringLiteral("stop")});
        if (listener)
            QVERIFY(processAlive(listener->pid)); // a program the panel did not start is left alone
    }

    // The step debugger: off, the running site server has no Xdebug; switched on, it is
    // restarted with it, and a request with the trigger opens a session with a listener on
    // 9003 whose first packet names the script; switched off again, Xdebug is gone.
    void stepDebuggingSwitch() {
        CliSandbox box(true);
        QVERIFY(box.isValid());
        const testing::EndProcessesUnder cleanup(box.base());
        QTcpServer editor;
        QVERIFY2(editor.listen(QHostAddress::LocalHost, 9003), "port 9003 is taken");
        const CliSandbox::Run start = box.run({QStringLiteral("start")});
        QVERIFY2(start.exitCode == 0, start.out.constData());
        const QString www = box.installedRoot() + QStringLiteral("/runtime/www");
        testing::writeFile(www + QStringLiteral("/probe.php"),
                           "<?php echo extension_loaded('xdebug') ? 'xdebug' : 'none';");
        const auto loaded = [&] {
            QProcess curl;
            curl.start(QStringLiteral("/usr/bin/curl"),
                       {QStringLiteral("-s"), QStringLiteral("http://127.0.0.1:8000/probe.php")});
            curl.waitForFinished(60000);
            return QString::fromUtf8(curl.readAllStandardOutput());
        };
        QCOMPARE(loaded(), QStringLiteral("none"));
        const auto debugging = [&](const CliSandbox::Run& run) {
            return run.json().value(QStringLiteral("phpDebugging")).toObject().value("on").toBool();
        };

        const CliSandbox::Run on =
            box.run({QStringLiteral("debug"), QStringLiteral("on"), QStringLiteral("--json")});
        QVERIFY2(on.exitCode == 0, on.out.constData());
        QVERIFY(debugging(on));
        QVERIFY2(on.json()
                     .value(QStringLiteral("report"))
                     .toString()
                     .startsWith(QStringLiteral("=== PHP 调试已开启 ===")),
                 on.out.constData());
        QVERIFY(debugging(box.run({QStringLiteral("status"), QStringLiteral("--json")})));
        QCOMPARE(loaded(), QStringLiteral("xdebug"));

        QProcess request;
        request.start(QStringLiteral("/usr/bin/curl"),
                      {QStringLiteral("-s"), QStringLiteral("--max-time"), QStringLiteral("60"),
                       QStringLiteral("http://127.0.0.1:8000/probe.php?XDEBUG_TRIGGER=1")});
        QVERIFY(editor.waitForNewConnection(30000));
        QTcpSocket* session = editor.nextPendingConnection();
        QByteArray packet;
        // DBGp: the length in digits, a NUL, the XML, a NUL.
        QVERIFY(testing::waitFor(
            [&] {
                session->waitForReadyRead(100);
                packet += session->readAll();
                return packet.count('\0') >= 2;
            },
            30000));
        QVERIFY2(packet.contains("<init ") &&
                     packet.contains(
                         QUrl::fromLocalFile(www + QStringLiteral("/probe.php")).toEncoded()),
                 packet.constData());
        // The request goes on once the editor lets go of it.
        session->write(QByteArray("detach -i 1") + '\0');
        session->waitForBytesWritten(5000);
        session->disconnectFromHost();
        QVERIFY(request.waitForFinished(60000));
        QCOMPARE(request.readAllStandardOutput(), QByteArray("xdebug"));

        const CliSandbox::Run off = box.run({QStringLiteral("debug"), QStringLiteral("off")});
        QVERIFY2(off.exitCode == 0, off.out.constData());
        QCOMPARE(loaded(), QStringLiteral("none"));
        QVERIFY(!debugging(box.run({QStringLiteral("status"), QStringLiteral("--json")})));

        // A restart that fails leaves the switch as the server last ran.
        QVERIFY(QDir().rename(www, www + QStringLiteral("-away")));
        const CliSandbox::Run failed =
            box.run({QStringLiteral("debug"), QStringLiteral("on"), QStringLiteral("--json")});
        QVERIFY2(failed.exitCode != 0 && !debugging(failed), failed.out.constData());
        QVERIFY(!debugging(box.run({QStringLiteral("status"), QStringLiteral("--json")})));
        QVERIFY(QDir().rename(www + QStringLiteral("-away"), www));
        QCOMPARE(box.run({QStringLiteral("stop")}).exitCode, 0);
    }

    // The database killed with the panel in the desktop session: one notice through the
    // desktop's notification service with the last lines of its log, the time in status
    // --json until the next start; a stop through the command line is no crash.
    void crashIsToldOnce() {
        CliSandbox box(true);
        QVERIFY(box.isValid());
        const testing::EndProcessesUnder cleanup(box.base());
        QVERIFY(QFile::copy(QStringLiteral(ZELTO_PANEL_PATH),
                            box.appDir() + QStringLiteral("/zelto-panel")));
        // A session bus of the test's own, and the desktop's side of it.
        QProcess bus;
        bus.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address=1")});
        if (!bus.waitForStarted(10000))
            QSKIP("dbus-daemon is not installed");
        QVERIFY(testing::waitFor([&] { return bus.canReadLine(); }, 10000));
        QProcessEnvironment env = box.environment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                   QString::fromUtf8(bus.readLine().trimmed()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        const QString record = box.base() + QStringLiteral("/desktop.log");
        QProcess desktop, panel;
        for (QProcess* p : {&desktop, &panel})
            p->setProcessEnvironment(env);
        desktop.start(QStringLiteral(ZELTO_DESKTOP_BUS_STANDIN), {record});
        const auto notices = [&] {
            QStringList lines;
            for (const QByteArray& line : testing::readFile(record).split('\n')) {
                if (line.startsWith("notify "))
                    lines.push_back(QString::fromUtf8(line.mid(7)));
            }
            return lines;
        };
        QVERIFY(
            testing::waitFor([&] { return testing::readFile(record).startsWith("ready"); }, 10000));
        const CliSandbox::Run start = box.run({QStringLiteral("start")});
        QVERIFY2(start.exitCode == 0, start.out.constData());
        panel.start(box.appDir() + QStringLiteral("/zelto-panel"), {QStringLiteral("--tray")});
        QVERIFY(panel.waitForStarted(10000));
        QTest::qWait(3000); // the panel is up and watching
        QCOMPARE(notices(), QStringList());

        const auto mysql = [&] {
            return box.run({QStringLiteral("status"), QStringLiteral("--json")})
                .json()
                .value(QStringLiteral("services"))
                .toObject()
                .value(QStringLiteral("mysql"))
                .toObject();
        };
        const int pid = mysql().value(QStringLiteral("pid")).toInt();
        QVERIFY(pid > 0);
        QElapsedTimer told;
        told.start();
        ::kill(pid, SIGKILL);
        QVERIFY(testing::waitFor([&] { return !notices().isEmpty(); }, 10000));
        qInfo("the crash was told after %lld ms (goal: 2000 ms)", told.elapsed());
        const QJsonObject crashed = mysql().value(QStringLiteral("stoppedUnexpectedly")).toObject();
        QVERIFY(!crashed.value(QStringLiteral("at")).toString().isEmpty());
        QStringList lines;
        for (const QJsonValue& line : crashed.value(QStringLiteral("lines")).toArray())
            lines.push_back(line.toString());
        QVERIFY(!lines.isEmpty() && lines.size() <= 3);
        QCOMPARE(notices(), QStringList(QStringLiteral("MySQL stopped unexpectedly\t") +
                                        lines.join(QStringLiteral("\\n"))));

        // Started again, the stop is forgotten; stopped through the command line, none is told.
        QCOMPARE(box.run({QStringLiteral("start")}).exitCode, 0);
        QVERIFY(mysql().value(QStringLiteral("stoppedUnexpectedly")).isNull());
        QCOMPARE(box.run({QStringLiteral("stop")}).exitCode, 0);
        QTest::qWait(3000);
        QCOMPARE(notices().size(), 1);
        QVERIFY(mysql().value(QStringLiteral("stoppedUnexpectedly")).isNull());
        for (QProcess* p : {&panel, &desktop, &bus}) {
            p->terminate();
            QVERIFY(p->waitForFinished(10000) || (p->kill(), p->waitForFinished(5000)));
        }
    }
};

QTEST_GUILESS_MAIN(CliEndToEndTest)
#include "tst_cli_e2e.moc"
