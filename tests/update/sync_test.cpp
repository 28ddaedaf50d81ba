#include "tst_update.h"

#include "update/sync.h"
#include "update/sync_output.h"
#include "update_test_support.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace update;

using namespace updatetest;

void UpdateTest::classifier_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hardFailure");

    QTest::newRow("blank") << " \n\t\n" << false;
    QTest::newRow("time-out text")
        << "timeout: /usr/bin/rsync 超过 300 秒，已强制结束\n解压日志:\npartial" << true;
    QTest::newRow("time-out in capitals") << "TIMEOUT: whatever" << true;
    QTest::newRow("time-out later with the Chinese word")
        << "note\nTimeout: /usr/bin/rsync 超过 3 秒" << true;
    QTest::newRow("time-out word alone later") << "note: timeout: soon" << false;
    QTest::newRow("exit 23") << "exit(23): some files were not transferred" << true;
    QTest::newRow("exit 24 is vanished files")
        << "exit(24): file has vanished: failed to stat x" << false;
    QTest::newRow("exit 0") << "exit(0): error: odd" << false;
    QTest::newRow("exit -1") << "exit(-1): x" << true;
    QTest::newRow("surrounding blanks are trimmed") << "  \nexit(23): x\n" << true;
    QTest::newRow("letters in the status: words decide") << "exit(abc): failed" << true;
    QTest::newRow("letters in the status, no words") << "exit(abc): fine" << false;
    QTest::newRow("status too large to read") << "exit(99999999999999999999): fine" << false;
    QTest::newRow("rsync error in capitals") << "RSYNC ERROR in x" << true;
    QTest::newRow("error colon") << "x\nError: y" << true;
    QTest::newRow("failed") << "Failed to set times" << true;
    QTest::newRow("cannot with a space") << "cannot delete non-empty directory: Data" << true;
    QTest::newRow("cannot without a space") << "cannotbe" << false;
    QTest::newRow("launch failure without a word") << "执行失败: No such file or directory" << true;
    QTest::newRow("ordinary listing") << "sending incremental file list\n./\nindex.php" << false;
}

void UpdateTest::classifier() {
    QFETCH(QString, text);
    QFETCH(bool, hardFailure);
    QCOMPARE(rsyncOutputIndicatesHardFailure(text), hardFailure);
}

void UpdateTest::runnerTexts_data() {
    QTest::addColumn<QString>("script"); // empty: no program at all
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("expected");

    QTest::newRow("success with output") << "printf 'hello\\n'" << true << "hello\n";
    QTest::newRow("failure with output") << "printf 'bad\\n'; exit 3" << true << "exit(3): bad\n";
    QTest::newRow("standard error is merged")
        << "echo out; echo err >&2; exit 2" << true << "exit(2): out\nerr\n";
    // A failure stays one without output.
    QTest::newRow("failure without output") << "exit 3" << true << "exit(3): ";
    QTest::newRow("failure with blank output")
        << "printf '  \\n'; exit 3" << true << "exit(3):   \n";
    QTest::newRow("invalid UTF-8 reads as nothing")
        << "printf '\\377\\376'; exit 5" << true << "exit(5): ";
    QTest::newRow("missing program") << "" << true << "执行失败: No such file or directory";
    QTest::newRow("not executable") << "exit 0" << false << "执行失败: Permission denied";
    // Output larger than any pipe buffer is drained while the tool runs.
    QTest::newRow("large output") << "head -c 3000000 /dev/zero | tr '\\0' a" << true
                                  << QString(3000000, u'a');
}

void UpdateTest::runnerTexts() {
    QFETCH(QString, script);
    QFETCH(bool, executable);
    QFETCH(QString, expected);
    auto sandbox = makeUpdateSandbox();
    const QString tool = sandbox->base() + QStringLiteral("/fake/tool");
    if (!script.isEmpty()) {
        testing::writeScript(tool, script);
        if (!executable)
            QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner);
    }
    auto model = sandbox->makeModel();
    QCOMPARE(model->runProcessWithTimeout(tool, {QStringLiteral("-a")}, 30), expected);
}

void UpdateTest::runnerKillsAChildThatIgnoresTerm() {
    auto sandbox = makeUpdateSandbox();
    const QString tool = sandbox->base() + QStringLiteral("/fake/stubborn");
    const QString marks = sandbox->base() + QStringLiteral("/marks");
    // What it says after the request to end is not part of the report.
    testing::writeScript(tool,
                         QStringLiteral("echo $$ > '%1'; trap '' PIPE\n"
                                        "trap 'echo TERM >> \"%1\"; echo received SIGTERM' TERM\n"
                                        "echo started; while :; do sleep 0.05; done")
                             .arg(marks));
    PanelConfig config;
    config.killGraceMilliseconds = 400;

    QCOMPARE(sandbox->makeModel(config)->runProcessWithTimeout(tool, {}, 0.5),
             "timeout: " + tool + " 超过 0 秒，已强制结束\n解压日志:\nstarted\n");
    // It was asked to end, ignored that, and is gone: it never ends by itself.
    const QList<QByteArray> lines = testing::readFile(marks).split('\n');
    QCOMPARE(lines.value(1), QByteArray("TERM"));
    QVERIFY(lines[0].toInt() > 0 && ::kill(lines[0].toInt(), 0) != 0);
}

// A child that ends just as its time runs out has not overrun it. The stand-in clock makes
// that moment exact: at the first look at the deadline it lets the child end, waits until it
// has (without reaping it), and only then says that the time is up.
void UpdateTest::runnerTakesAChildEndedAtItsDeadlineAsEnded() {
    QTemporaryDir tmp;
    const QByteArray go = QFile::encodeName(tmp.path() + QStringLiteral("/go"));
    const QString pidFile = tmp.path() + QStringLiteral("/pid");
    QCOMPARE(::mkfifo(go.constData(), 0600), 0);
    const QString tool = tmp.path() + QStringLiteral("/tool");
    testing::writeScript(tool, QStringLiteral("printf %s $$ > '%1'; read word < '%2'; echo ended")
                                   .arg(pidFile, QFile::decodeName(go)));

    platform::ChildOptions options;
    options.out = platform::StdStream::Capture;
    options.timeout = std::chrono::seconds(10);
    int looks = 0;
    std::chrono::steady_clock::time_point start;
    options.clock = [&] {
        if (++looks == 1)
            return start = std::chrono::steady_clock::now();
        if (looks == 2) {
            // The child waits for a word before it ends: it is still running now. Opening the
            // pipe waits for the child to open its end.
            const int fd = ::open(go.constData(), O_WRONLY | O_CLOEXEC);
            if (fd >= 0) {
                [[maybe_unused]] const ssize_t n = ::write(fd, "end\n", 4);
                ::close(fd);
            }
            siginfo_t info{};
            ::waitid(P_PID, static_cast<id_t>(testing::readFile(pidFile).toInt()), &info,
                     WEXITED | WNOWAIT);
        }
        return start + *options.timeout + std::chrono::seconds(1);
    };
    const Result<platform::ChildExit> ran = platform::runChild(tool, {}, options);
    QVERIFY(ran);
    QVERIFY(looks >= 2);
    QVERIFY(!ran->timedOut);
    QVERIFY(ran->exitedCleanly());
    QCOMPARE(ran->output, QByteArray("ended\n"));
}

void UpdateTest::syncPasses_data() {
    QTest::addColumn<QString>("rsync"); // a fake rsync's script; empty: the real one
    QTest::addColumn<QStringList>("package");
    QTest::addColumn<QStringList>("site"); // empty: no site directory yet
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("error"); // $RSYNC: the rsync's path
    QTest::addColumn<QString>("steps"); // the progress reports as "done/total"
    // A failure's rsync exit status (kind ToolFailed); -1: it ran out of time (TimedOut).
    QTest::addColumn<int>("status");

    // A package with Data over an existing site is the pipeline's successful run.
    QTest::newRow("lower-case data fills Data too")
        << "" << QStringList{"index.php=new", "data/x.txt=pkg-x", "data/y.txt=pkg-y"}
        << QStringList{"Data/x.txt=site-x", "data/old.txt=old"}
        << QStringList{"Data/",        "Data/x.txt=site-x", "Data/y.txt=pkg-y",
                       "data/",        "data/x.txt=pkg-x",  "data/y.txt=pkg-y",
                       "index.php=new"}
        << ""
        << "0/2 1/2 2/2" << 0;
    QTest::newRow("no site yet, no package data")
        << "" << QStringList{"index.php=new"} << QStringList{}
        << QStringList{"Data/", "index.php=new"} << ""
        << "0/1 1/1" << 0;
    QTest::newRow("Data as a plain file does not replace the site's data")
        << "" << QStringList{"index.php=new", "Data=plain"}
        << QStringList{"Data/keep.txt=keep", "gone.php=x"}
        << QStringList{"Data/", "Data/keep.txt=keep", "index.php=new"} << ""
        << "0/1 1/1" << 0;
    QTest::newRow("Data as a link does not replace the site's data")
        << "" << QStringList{"index.php=new", "shared/", "shared/s.txt=pkg-s", "Data->shared"}
        << QStringList{"Data/keep.txt=keep"}
        << QStringList{"Data/",   "Data/keep.txt=keep", "Data/s.txt=pkg-s", "index.php=new",
                       "shared/", "shared/s.txt=pkg-s"}
        << ""
        << "0/2 1/2 2/2" << 0;
    const QStringList package{"index.php=new", "Data/a=1"};
    QTest::newRow("pass 1 fails")
        << "echo 'rsync error: some files could not be transferred (code 23)'; exit 23" << package
        << QStringList{} << QStringList{"Data/"}
        << "同步失败(主文件): exit(23): rsync error: some files could not be transferred (code 23)"
        << "0/2" << 23;
    QTest::newRow("pass 2 fails")
        << "case \"$2\" in --ignore-existing) echo 'failed: x' >&2; exit 1;; esac" << package
        << QStringList{} << QStringList{"Data/"} << "同步失败(Data): exit(1): failed: x"
        << "0/2 1/2" << 1;
    QTest::newRow("vanished files are no failure")
        << "echo 'file has vanished: x'; exit 24" << package << QStringList{}
        << QStringList{"Data/"} << ""
        << "0/2 1/2 2/2" << 0;
    QTest::newRow("time limit")
        << "echo partial; exec sleep 30" << package << QStringList{} << QStringList{"Data/"}
        << "同步失败(主文件): timeout: $RSYNC 超过 2 秒，已强制结束\n解压日志:\npartial"
        << "0/2" << -1;
}

void UpdateTest::syncPasses() {
    QFETCH(QString, rsync);
    QFETCH(QStringList, package);
    QFETCH(QStringList, site);
    QFETCH(QStringList, expected);
    QFETCH(QString, error);
    QFETCH(QString, steps);
    QFETCH(int, status);
    auto sandbox = makeUpdateSandbox(rsync);
    const QString source = sandbox->base() + QStringLiteral("/pkg");
    const QString target = sandbox->base() + QStringLiteral("/site/www");
    makeTree(source, package);
    if (!site.isEmpty())
        makeTree(target, site);
    PanelConfig config;
    config.syncTimeoutSeconds = 2;
    config.killGraceMilliseconds = 200;

    QStringList seen;
    const Result<> synced = sandbox->makeModel(config)->syncDirectoryContents(
        source, target, PackageData::DataOrLowercase, [&](int done, int total, const QString&) {
            seen.push_back(QStringLiteral("%1/%2").arg(done).arg(total));
        });
    QCOMPARE(
        synced ? QString() : synced.error().message,
        error.replace(QStringLiteral("$RSYNC"), sandbox->base() + QStringLiteral("/tools/rsync")));
    if (!synced) {
        QVERIFY(synced.error().kind == (status < 0 ? ErrorKind::TimedOut : ErrorKind::ToolFailed));
        QCOMPARE(synced.error().exitStatus, std::max(status, 0));
    }
    QCOMPARE(describe(target), expected);
    QCOMPARE(seen.join(u' '), steps);
}
