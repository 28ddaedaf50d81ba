#include "tst_update.h"

#include "update/sync.h"
#include "update/sync_output.h"
#include "update_test_support.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <tuple>

using namespace updatetest;

namespace {

using Step = std::tuple<int, int, QString>;

const QString kStep1 = QStringLiteral("第一步：同步站点文件（Data 在第二轮逐文件补缺失）");
const QString kStep2 = QStringLiteral("第二步：比对 Data/ 内文件，缺的同步、已有不覆盖");
const QString kDone = QStringLiteral("www 同步完成");

// "path=contents" for files; "path/" for directories; "path->target" for links.
void build(const QString& root, const QStringList& layout) {
    QDir().mkpath(root);
    for (const QString& item : layout) {
        if (item.endsWith(QLatin1Char('/'))) {
            QDir().mkpath(root + QLatin1Char('/') + item);
        } else if (const qsizetype arrow = item.indexOf(QStringLiteral("->")); arrow > 0) {
            QFile::link(item.mid(arrow + 2), root + QLatin1Char('/') + item.left(arrow));
        } else {
            const qsizetype eq = item.indexOf(QLatin1Char('='));
            testing::writeFile(root + QLatin1Char('/') + item.left(eq), item.mid(eq + 1).toUtf8());
        }
    }
}

// The files below root as "path=contents", sorted; directories as "path/".
QStringList describe(const QString& root) {
    QStringList out;
    const auto tree = snapshot(root);
    for (auto it = tree.begin(); it != tree.end(); ++it) {
        if (it.value() == "dir")
            out.push_back(it.key() + QLatin1Char('/'));
        else if (it.value().startsWith("file:"))
            out.push_back(it.key() + QLatin1Char('=') + QString::fromUtf8(it.value().mid(5)));
        else
            out.push_back(it.key() + QStringLiteral("->") + QString::fromUtf8(it.value().mid(5)));
    }
    out.sort();
    return out;
}

} // namespace

void UpdateTest::classifier_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("hardFailure");

    QTest::newRow("empty") << "" << false;
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
    QTest::newRow("exit +24") << "exit(+24): error: vanished" << false;
    QTest::newRow("exit 0") << "exit(0): error: odd" << false;
    QTest::newRow("exit -1") << "exit(-1): x" << true;
    QTest::newRow("exit in capitals") << "EXIT(12): x" << true;
    QTest::newRow("surrounding blanks are trimmed") << "  \nexit(23): x\n" << true;
    QTest::newRow("letters in the status: words decide") << "exit(abc): failed" << true;
    QTest::newRow("letters in the status, no words") << "exit(abc): fine" << false;
    QTest::newRow("nothing in the parentheses") << "exit(): fine" << false;
    QTest::newRow("no closing parenthesis") << "exit(23 fine" << false;
    QTest::newRow("status too large to read") << "exit(99999999999999999999): fine" << false;
    QTest::newRow("rsync error") << "RSYNC ERROR: something" << true;
    QTest::newRow("error colon") << "x\nError: y" << true;
    QTest::newRow("failed") << "Failed to set times" << true;
    QTest::newRow("cannot with a space") << "cannot delete non-empty directory: Data" << true;
    QTest::newRow("cannot without a space") << "cannotbe" << false;
    QTest::newRow("launch failure without a word")
        << "执行失败: No such file or directory" << false;
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
    QTest::newRow("failure without output") << "exit 3" << true << "";
    QTest::newRow("failure with blank output") << "printf '  \\n'; exit 3" << true << "  \n";
    QTest::newRow("invalid UTF-8 reads as nothing") << "printf '\\377\\376'; exit 5" << true << "";
    QTest::newRow("missing program") << "" << true << "执行失败: No such file or directory";
    QTest::newRow("not executable") << "exit 0" << false << "执行失败: Permission denied";
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

void UpdateTest::runnerTimesOut() {
    auto sandbox = makeUpdateSandbox();
    const QString tool = sandbox->base() + QStringLiteral("/fake/slow");
    testing::writeScript(tool, QStringLiteral("echo started\nexec sleep 30"));
    auto model = sandbox->makeModel();
    QCOMPARE(model->runProcessWithTimeout(tool, {}, 1.5),
             QStringLiteral("timeout: ") + tool +
                 QStringLiteral(" 超过 1 秒，已强制结束\n解压日志:\nstarted\n"));
}

void UpdateTest::runnerKillsAChildThatIgnoresTerm() {
    auto sandbox = makeUpdateSandbox();
    const QString tool = sandbox->base() + QStringLiteral("/fake/stubborn");
    const QString marks = sandbox->base() + QStringLiteral("/marks");
    testing::writeScript(tool, QStringLiteral("echo $$ > '%1.pid'\n"
                                              "trap 'echo TERM >> \"%1\"' TERM\n"
                                              "echo started\n"
                                              "while :; do sleep 0.05; done")
                                   .arg(marks));
    PanelConfig config;
    config.killGraceMilliseconds = 400;
    auto model = sandbox->makeModel(config);

    const QString text = model->runProcessWithTimeout(tool, {}, 0.5);

    QCOMPARE(text, QStringLiteral("timeout: ") + tool +
                       QStringLiteral(" 超过 0 秒，已强制结束\n解压日志:\nstarted\n"));
    // It was asked to end, ignored that, and is gone: it never ends by itself.
    QVERIFY(testing::readFile(marks).startsWith("TERM"));
    const int pid = testing::readFile(marks + QStringLiteral(".pid")).trimmed().toInt();
    QVERIFY(pid > 0);
    QVERIFY(::kill(pid, 0) != 0);
}

void UpdateTest::runnerDrainsLargeOutput() {
    auto sandbox = makeUpdateSandbox();
    const QString tool = sandbox->base() + QStringLiteral("/fake/chatty");
    testing::writeScript(tool, QStringLiteral("head -c 3000000 /dev/zero | tr '\\0' a"));
    auto model = sandbox->makeModel();
    const QString text = model->runProcessWithTimeout(tool, {}, 60);
    QCOMPARE(text.size(), 3000000);
    QCOMPARE(text.count(QLatin1Char('a')), 3000000);
}

void UpdateTest::syncPasses_data() {
    QTest::addColumn<QStringList>("package");
    QTest::addColumn<QStringList>("site"); // empty: no site directory yet
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("steps");

    QTest::newRow("package with Data over an existing site")
        << QStringList{"index.php=new", "include/a.php=new-a", "Data/config.php=pkg",
                       "Data/new.txt=pkg-new", "Data/sub/deep.txt=pkg-deep"}
        << QStringList{"index.php=old-index", "old.php=old", "include/gone.php=gone",
                       "Data/config.php=site", "Data/user.txt=user"}
        << QStringList{"Data/",     "Data/config.php=site",       "Data/new.txt=pkg-new",
                       "Data/sub/", "Data/sub/deep.txt=pkg-deep", "Data/user.txt=user",
                       "include/",  "include/a.php=new-a",        "index.php=new"}
        << 2;
    QTest::newRow("lower-case data fills Data too")
        << QStringList{"index.php=new", "data/x.txt=pkg-x", "data/y.txt=pkg-y"}
        << QStringList{"Data/x.txt=site-x", "data/old.txt=old"}
        << QStringList{"Data/",        "Data/x.txt=site-x", "Data/y.txt=pkg-y",
                       "data/",        "data/x.txt=pkg-x",  "data/y.txt=pkg-y",
                       "index.php=new"}
        << 2;
    QTest::newRow("no site yet, no package data") << QStringList{"index.php=new"} << QStringList{}
                                                  << QStringList{"Data/", "index.php=new"} << 1;
    QTest::newRow("Data as a plain file does not replace the site's data")
        << QStringList{"index.php=new", "Data=plain"}
        << QStringList{"Data/keep.txt=keep", "gone.php=x"}
        << QStringList{"Data/", "Data/keep.txt=keep", "index.php=new"} << 1;
    QTest::newRow("Data as a link does not replace the site's data")
        << QStringList{"index.php=new", "shared/", "shared/s.txt=pkg-s", "Data->shared"}
        << QStringList{"Data/keep.txt=keep"}
        << QStringList{"Data/",   "Data/keep.txt=keep", "Data/s.txt=pkg-s", "index.php=new",
                       "shared/", "shared/s.txt=pkg-s"}
        << 2;
}

void UpdateTest::syncPasses() {
    QFETCH(QStringList, package);
    QFETCH(QStringList, site);
    QFETCH(QStringList, expected);
    QFETCH(int, steps);
    auto sandbox = makeUpdateSandbox();
    const QString source = sandbox->base() + QStringLiteral("/pkg");
    const QString target = sandbox->base() + QStringLiteral("/site/www");
    build(source, package);
    if (!site.isEmpty())
        build(target, site);
    auto model = sandbox->makeModel();

    std::vector<Step> seen;
    const QString error =
        model->syncDirectoryContents(source, target, [&](int done, int total, const QString& m) {
            seen.emplace_back(done, total, m);
        });

    QCOMPARE(error, QString());
    QCOMPARE(describe(target), expected);
    std::vector<Step> wanted{{0, steps, kStep1}};
    if (steps == 2)
        wanted.emplace_back(1, 2, kStep2);
    wanted.emplace_back(steps, steps, kDone);
    QCOMPARE(seen, wanted);
}

void UpdateTest::syncFailures_data() {
    QTest::addColumn<QString>("fakeRsync"); // script body
    QTest::addColumn<double>("timeLimit");
    QTest::addColumn<QString>("expected"); // $RSYNC: the fake's path
    QTest::addColumn<int>("stepsSeen");

    QTest::newRow("pass 1 fails")
        << "echo 'rsync error: some files could not be transferred (code 23)'; exit 23" << 30.0
        << "同步失败(主文件): exit(23): rsync error: some files could not be transferred (code 23)"
        << 1;
    QTest::newRow("pass 2 fails")
        << "case \"$2\" in --ignore-existing) echo 'failed: x' >&2; exit 1;; esac" << 30.0
        << "同步失败(Data): exit(1): failed: x" << 2;
    QTest::newRow("vanished files are no failure")
        << "echo 'file has vanished: x'; exit 24" << 30.0 << "" << 3;
    QTest::newRow("silent failure counts as success") << "exit 12" << 30.0 << "" << 3;
    QTest::newRow("time limit")
        << "echo partial; exec sleep 30" << 1.0
        << "同步失败(主文件): timeout: $RSYNC 超过 1 秒，已强制结束\n解压日志:\npartial" << 1;
}

void UpdateTest::syncFailures() {
    QFETCH(QString, fakeRsync);
    QFETCH(double, timeLimit);
    QFETCH(QString, expected);
    QFETCH(int, stepsSeen);
    auto sandbox = makeUpdateSandbox();
    const QString rsync = sandbox->base() + QStringLiteral("/fake/rsync");
    testing::writeScript(rsync, fakeRsync);
    useQuietServiceTools(*sandbox, rsync);
    const QString source = sandbox->base() + QStringLiteral("/pkg");
    build(source, {QStringLiteral("index.php=new"), QStringLiteral("Data/a=1")});
    PanelConfig config;
    config.syncTimeoutSeconds = timeLimit;
    config.killGraceMilliseconds = 200;
    auto model = sandbox->makeModel(config);

    int steps = 0;
    const QString error =
        model->syncDirectoryContents(source, sandbox->base() + QStringLiteral("/www"),
                                     [&](int, int, const QString&) { ++steps; });
    QCOMPARE(error, QString(expected).replace(QStringLiteral("$RSYNC"), rsync));
    QCOMPARE(steps, stepsSeen);
}
