#include "core/process_helpers.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTest>

#include <csignal>
#include <cstdio>

#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

using namespace testing;

class TestProcessHelpers : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void parsePid_data();
    void parsePid();
    void runProcessOutput_data();
    void runProcessOutput();
    void runProcessDrainsLargeOutput();
    void runProcessLaunchFailures_data();
    void runProcessLaunchFailures();
    void isRunningFollowsExitStatus_data();
    void isRunningFollowsExitStatus();
    void killByPatternSignalsMatchesOnly();
    void killByPatternReportsMissingTool();
    void readTextFile_data();
    void readTextFile();
    void makeDirAndTryWrite();
};

void TestProcessHelpers::parsePid_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("value");
    QTest::newRow("plain") << "123" << true << 123;
    QTest::newRow("plus") << "+77" << true << 77;
    QTest::newRow("minus") << "-5" << true << -5;
    QTest::newRow("zero") << "0" << true << 0;
    QTest::newRow("int max") << "2147483647" << true << 2147483647;
    QTest::newRow("int min") << "-2147483648" << true << int(-2147483648LL);
    QTest::newRow("overflow") << "2147483648" << false << 0;
    QTest::newRow("eleven digits") << "99999999999" << false << 0;
    QTest::newRow("leading zeros overflow") << "00000000002147483648" << false << 0;
    QTest::newRow("sign alone") << "+" << false << 0;
    QTest::newRow("empty") << "" << false << 0;
    QTest::newRow("letters") << "abc" << false << 0;
    QTest::newRow("trailing letter") << "12a" << false << 0;
    QTest::newRow("space inside") << "1 2" << false << 0;
    QTest::newRow("not trimmed") << " 12" << false << 0;
    QTest::newRow("arabic-indic digits") << QString::fromUtf8("١٢") << false << 0;
    QTest::newRow("double sign") << "--1" << false << 0;
}

void TestProcessHelpers::parsePid() {
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(int, value);
    const auto pid = core::parseProcessId(text);
    QCOMPARE(pid.has_value(), valid);
    if (valid)
        QCOMPARE(*pid, value);
}

void TestProcessHelpers::runProcessOutput_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("expected");
    QTest::newRow("stdout") << "echo hello"
                            << "hello\n";
    QTest::newRow("stderr only") << "echo oops >&2"
                                 << "oops\n";
    QTest::newRow("interleaved") << "echo a; echo b >&2; echo c"
                                 << "a\nb\nc\n";
    QTest::newRow("failure exit ignored") << "echo failing; exit 3"
                                          << "failing\n";
    QTest::newRow("silent failure") << "exit 1"
                                    << "";
    QTest::newRow("invalid utf-8") << "printf 'ok\\377\\376'"
                                   << "";
    QTest::newRow("chinese") << "printf '初始化完成'" << QString::fromUtf8("初始化完成");
}

void TestProcessHelpers::runProcessOutput() {
    QFETCH(QString, body);
    QFETCH(QString, expected);
    TestSandbox box;
    const QString prog = box.base() + QStringLiteral("/prog");
    writeScript(prog, body);
    QCOMPARE(box.makeModel()->runProcess(prog, {}), expected);
}

void TestProcessHelpers::runProcessDrainsLargeOutput() {
    TestSandbox box;
    const QString prog = box.base() + QStringLiteral("/big");
    // 6 MB on stdout and stderr together, far beyond a pipe's buffer.
    writeScript(prog, QStringLiteral("head -c 3000000 /dev/zero | tr '\\0' a\n"
                                     "head -c 3000000 /dev/zero | tr '\\0' b >&2"));
    const QString out = box.makeModel()->runProcess(prog, {});
    QCOMPARE(out.size(), 6000000);
    QCOMPARE(out.count(QLatin1Char('a')), 3000000);
}

void TestProcessHelpers::runProcessLaunchFailures_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expected");
    QTest::newRow("missing") << "missing" << QString::fromLocal8Bit(strerror(ENOENT));
    QTest::newRow("not executable") << "noexec" << QString::fromLocal8Bit(strerror(EACCES));
    QTest::newRow("foreign binary") << "garbage" << QString::fromLocal8Bit(strerror(ENOEXEC));
}

void TestProcessHelpers::runProcessLaunchFailures() {
    QFETCH(QString, kind);
    QFETCH(QString, expected);
    TestSandbox box;
    const QString prog = box.base() + QStringLiteral("/prog");
    if (kind == QLatin1String("noexec")) {
        // Without any execute bit even root may not run it.
        writeFile(prog, "#!/bin/sh\necho hi\n");
    } else if (kind == QLatin1String("garbage")) {
        writeFile(prog, QByteArray("\x7f"
                                   "ELF\x02\x01\x01garbage-not-a-program",
                                   24));
        QFile::setPermissions(prog, QFile::ReadOwner | QFile::ExeOwner | QFile::WriteOwner);
    }
    QCOMPARE(box.makeModel()->runProcess(prog, {}), QStringLiteral("执行失败: ") + expected);
}

void TestProcessHelpers::isRunningFollowsExitStatus_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<bool>("expected");
    // Like pgrep, the probes print what they found.
    QTest::newRow("exit 0") << "echo 4242\nexit 0" << true;
    QTest::newRow("exit 1") << "echo 4242\nexit 1" << false;
    QTest::newRow("killed") << "kill -9 $$" << false;
    QTest::newRow("missing program") << QString() << false;
}

void TestProcessHelpers::isRunningFollowsExitStatus() {
    QFETCH(QString, body);
    QFETCH(bool, expected);
    TestSandbox box;
    const QString prog = box.base() + QStringLiteral("/prog");
    if (!body.isNull())
        writeScript(prog, body);
    const auto model = box.makeModel();
    // The panel's own standard output, caught in a file while the probe runs.
    QTemporaryFile caught;
    QVERIFY(caught.open());
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(caught.handle(), STDOUT_FILENO);
    const bool running = model->isRunning({prog, QStringLiteral("arg")});
    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    QCOMPARE(running, expected);
    // Nothing the probe printed reached the panel's output (the terminal it was started from).
    QCOMPARE(caught.readAll(), QByteArray());
}

void TestProcessHelpers::killByPatternSignalsMatchesOnly() {
    TestSandbox box;
    // Two sleepers whose command lines are unique to this sandbox.
    const QString a = box.base() + QStringLiteral("/target-a/sleeper");
    const QString b = box.base() + QStringLiteral("/target-b/sleeper");
    // The shell stays (no exec), so its command line keeps naming the script.
    writeScript(a, QStringLiteral("while :; do sleep 1; done"));
    writeScript(b, QStringLiteral("while :; do sleep 1; done"));
    const Result<pid_t> pa = spawnDetached(QStringLiteral("/bin/sh"), {a}, {});
    const Result<pid_t> pb = spawnDetached(QStringLiteral("/bin/sh"), {b}, {});
    QVERIFY(pa && pb);
    auto model = box.makeModel();
    QCOMPARE(model->killByPattern(QRegularExpression::escape(box.base()) + "/target-a/"),
             QString());
    QVERIFY(waitFor([&] { return !sendSignal(*pa, 0); }, 5000));
    QVERIFY(sendSignal(*pb, 0));
    QCOMPARE(model->killByPattern(QStringLiteral("no-such-process-%1").arg(::getpid())), QString());
    (void)sendSignal(*pb, SIGKILL);
}

void TestProcessHelpers::killByPatternReportsMissingTool() {
    TestSandbox box;
    box.tools.pkill = box.base() + QStringLiteral("/none/pkill");
    QCOMPARE(box.makeModel()->killByPattern(QStringLiteral("x")),
             QString::fromLocal8Bit(strerror(ENOENT)));
}

void TestProcessHelpers::readTextFile_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("hasValue");
    QTest::addColumn<QString>("expected");
    QTest::newRow("text kept as is") << "text" << true << " 42 \n";
    QTest::newRow("empty file") << "empty" << true << "";
    QTest::newRow("missing") << "missing" << false << "";
    QTest::newRow("directory") << "dir" << false << "";
    QTest::newRow("not utf-8") << "latin1" << false << "";
    QTest::newRow("byte order mark kept") << "bom" << true << QStringLiteral("\uFEFF42");
}

void TestProcessHelpers::readTextFile() {
    QFETCH(QString, kind);
    QFETCH(bool, hasValue);
    QFETCH(QString, expected);
    TestSandbox box;
    const QString path = box.base() + QStringLiteral("/file");
    if (kind == QLatin1String("text"))
        writeFile(path, " 42 \n");
    else if (kind == QLatin1String("empty"))
        writeFile(path, "");
    else if (kind == QLatin1String("dir"))
        QDir().mkpath(path);
    else if (kind == QLatin1String("latin1"))
        writeFile(path, "caf\xe9");
    else if (kind == QLatin1String("bom"))
        writeFile(path, "\xef\xbb\xbf"
                        "42");
    const auto text = box.makeModel()->readTextFile(path);
    QCOMPARE(text.has_value(), hasValue);
    if (hasValue)
        QCOMPARE(*text, expected);
}

void TestProcessHelpers::makeDirAndTryWrite() {
    TestSandbox box;
    auto model = box.makeModel();
    const QString deep = box.base() + QStringLiteral("/a/b/c");
    QCOMPARE(model->makeDir(deep), QString());
    QCOMPARE(model->makeDir(deep), QString()); // already there
    writeFile(box.base() + QStringLiteral("/plain"), "file");
    QVERIFY(!model->makeDir(box.base() + QStringLiteral("/plain/sub")).isEmpty());

    const QString target = deep + QStringLiteral("/x.txt");
    QCOMPARE(model->tryWrite(target, QStringLiteral("第一版")), QString());
    QCOMPARE(model->tryWrite(target, QStringLiteral("v2")), QString());
    QCOMPARE(readFile(target), QByteArray("v2"));
    QVERIFY(!model->tryWrite(box.base() + QStringLiteral("/missing/x.txt"), QStringLiteral("x"))
                 .isEmpty());
    // No temporary file is left beside the target.
    QCOMPARE(QDir(deep).entryList(QDir::Files | QDir::Hidden),
             QStringList{QStringLiteral("x.txt")});
}

QTEST_GUILESS_MAIN(TestProcessHelpers)
#include "tst_process_helpers.moc"
