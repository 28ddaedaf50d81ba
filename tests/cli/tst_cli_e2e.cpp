// The command-line panel against the real stack: the assembled runtime installed into the
// sandbox's panel root, MariaDB, PHP and phpMyAdmin on the fixed ports. Whatever the test
// started is ended by its temporary directory's path.

#include "cli_sandbox.h"

#include "core/process_helpers.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QTcpSocket>
#include <QTest>

using namespace platform;

namespace {

const QStringList kServiceKeys = {"mysql", "phpWeb", "phpMyAdmin"};
const QList<int> kPorts = {3306, 8000, 900};

bool portAnswers(int port) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
    const bool connected = socket.waitForConnected(500);
    socket.abort();
    return connected;
}

// Ends whatever still runs from the sandbox (servers, adaptors), politely, then for good.
struct StackCleanup {
    QString base;
    ~StackCleanup() {
        const QString pattern = core::escapeExtendedRegex(base);
        const SystemTools tools = SystemTools::debian();
        (void)runChild(tools.pkill, {QStringLiteral("-f"), pattern});
        ChildOptions quiet;
        quiet.out = StdStream::Null;
        testing::waitFor(
            [&] {
                const Result<ChildExit> found =
                    runChild(tools.pgrep, {QStringLiteral("-f"), pattern}, quiet);
                return !found || found->exitStatus != 0;
            },
            60000);
        (void)runChild(tools.pkill, {QStringLiteral("-KILL"), QStringLiteral("-f"), pattern});
    }
};

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
        StackCleanup cleanup{box.base()};
        const QString root = box.installedRoot();

        const CliSandbox::Run before =
            box.run({QStringLiteral("status"), QStringLiteral("--json")});
        QCOMPARE(before.exitCode, 0);
        QCOMPARE(before.json().value(QStringLiteral("root")).toString(), root);
        checkServices(before.json(), false);

        const CliSandbox::Run start = box.run({QStringLiteral("start")});
        QVERIFY2(start.exitCode == 0, start.out.constData());
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
        QVERIFY2(stop.exitCode == 0, stop.out.constData());
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
        QCOMPARE(box.run({QStringLiteral("stop")}).exitCode, 0);
    }

    // A database that cannot be set up: start reports it and ends with 1, naming the service.
    void failedServiceGivesExitStatusOne() {
        CliSandbox box(true);
        QVERIFY(box.isValid());
        StackCleanup cleanup{box.base()};
        QCOMPARE(box.run({QStringLiteral("root")}).exitCode, 0); // installs the runtime
        // A file where the data directory belongs.
        const QString data = box.installedRoot() + QStringLiteral("/runtime/mysql/data");
        QVERIFY(QDir(data).removeRecursively());
        testing::writeFile(data, "not a directory");

        const CliSandbox::Run start = box.run({QStringLiteral("start"), QStringLiteral("--json")});
        QCOMPARE(start.exitCode, 1);
        const QJsonObject outcome = start.json().value(QStringLiteral("outcome")).toObject();
        QCOMPARE(outcome.value(QStringLiteral("succeeded")).toBool(true), false);
        const QJsonObject database = outcome.value(QStringLiteral("services"))
                                         .toObject()
                                         .value(QStringLiteral("mysql"))
                                         .toObject();
        QCOMPARE(database.value(QStringLiteral("succeeded")).toBool(true), false);
        QVERIFY(!database.value(QStringLiteral("cause"))
                     .toObject()
                     .value(QStringLiteral("message"))
                     .toString()
                     .isEmpty());
        box.run({QStringLiteral("stop")});
    }
};

QTEST_GUILESS_MAIN(CliEndToEndTest)
#include "tst_cli_e2e.moc"
