// The command-line panel as a user runs it, on what needs no fixed port: arguments and usage
// errors, the version, the panel root and its choice with the chooser's rules, the open
// commands without a desktop, and updates from a local server and their undo, one at a time
// across processes.

#include "cli_sandbox.h"
#include "test_support.h"
#include "update_test_support.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

using namespace updatetest;

namespace {

const QString kDoneTitle = QStringLiteral("=== 更新/修复完成 ===");
const QString kAlreadyRunning = QStringLiteral("更新/修复正在进行中，请等待当前任务完成。");

const QStringList kPackage = {"www/index.php=<?php echo 'new';", "www/include/lib.php=lib",
                              "www/Data/defaults.txt=shipped"};

} // namespace

class CliTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void usageErrors_data();
    void usageErrors();
    void versionAndHelp();
    void rootSetFollowsTheChooserRules_data();
    void rootSetFollowsTheChooserRules();
    void openWithoutDesktopPrintsTheAddress_data();
    void openWithoutDesktopPrintsTheAddress();
    void update_data();
    void update();
    void updateOnTerminalDrawsOneBar();
    void oneUpdateAtATimeAcrossProcesses();
    void undoPutsBackTheSiteOfBeforeTheLastUpdate();
    void logsShowsTheEndMarked();
};

void CliTest::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{} << "no command given";
    QTest::newRow("unknown command") << QStringList{"restart"} << "unknown command 'restart'";
    QTest::newRow("unknown option")
        << QStringList{"status", "--verbose"} << "unknown option '--verbose'";
    QTest::newRow("extra word") << QStringList{"start", "now"}
                                << "start takes no further arguments, but got 'now'";
    QTest::newRow("root set without dir")
        << QStringList{"root", "set"} << "root set needs a directory";
    QTest::newRow("root set, two dirs") << QStringList{"root", "set", "a", "b"}
                                        << "root set DIR takes no further arguments, but got 'b'";
    QTest::newRow("root with another word") << QStringList{"root", "show"} << "got 'show'";
    QTest::newRow("open nothing") << QStringList{"open"} << "open needs what to open";
    QTest::newRow("open unknown") << QStringList{"open", "mail"} << "not 'mail'";
    QTest::newRow("--from without update")
        << QStringList{"status", "--from", "http://h/x.zip"} << "--from belongs to update only";
    QTest::newRow("--from without address")
        << QStringList{"update", "--from"} << "--from needs an address";
    QTest::newRow("--from file address") << QStringList{"update", "--from=file:///tmp/a.zip"}
                                         << "--from needs an http or https address";
    QTest::newRow("--from's value before the command")
        << QStringList{"--from", "http://h/x.zip", "status"} << "--from belongs to update only";
    QTest::newRow("-- ends the options")
        << QStringList{"status", "--", "--verbose"}
        << "status takes no further arguments, but got '--verbose'";
    QTest::newRow("long name after one dash")
        << QStringList{"-json", "status"} << "unknown option '-json'";
    QTest::newRow("letter after two dashes") << QStringList{"--h"} << "unknown option '--h'";
    QTest::newRow("value for a switch")
        << QStringList{"status", "--json=yes"} << "unknown option '--json=yes'";
    QTest::newRow("--from twice, the last counts")
        << QStringList{"update", "--from", "http://h/a.zip", "--from", "ftp://h/b.zip"}
        << "--from needs an http or https address, not 'ftp://h/b.zip'";
    QTest::newRow("--from's value looks like an option")
        << QStringList{"update", "--from", "-h"}
        << "--from needs an http or https address, not '-h'";
    QTest::newRow("json and wrong") << QStringList{"--json", "stat"} << "unknown command 'stat'";
    QTest::newRow("logs without a source")
        << QStringList{"logs"} << "logs needs site, phpmyadmin or database";
    QTest::newRow("logs of something else")
        << QStringList{"logs", "mail"} << "logs knows site, phpmyadmin and database, not 'mail'";
    QTest::newRow("logs, lines not a number")
        << QStringList{"logs", "site", "--lines", "x"} << "--lines needs a number from 1 to 100000";
    QTest::newRow("logs followed as JSON") << QStringList{"--json", "logs", "site", "--follow"}
                                           << "--follow prints lines as they come";
    QTest::newRow("debug without a state") << QStringList{"debug"} << "debug needs on or off";
    QTest::newRow("debug, neither on nor off")
        << QStringList{"debug", "yes"} << "debug knows on and off, not 'yes'";
    QTest::newRow("--errors without logs")
        << QStringList{"status", "--errors"} << "--errors belongs to logs only";
    QTest::newRow("autostart without what to do")
        << QStringList{"autostart"} << "autostart needs what to do: on, off or status";
    QTest::newRow("--start-stack with autostart off")
        << QStringList{"autostart", "off", "--start-stack"}
        << "--start-stack belongs to autostart on only";
}

void CliTest::usageErrors() {
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    CliSandbox box(false);
    QVERIFY(box.isValid());
    const CliSandbox::Run r = box.run(args);
    QCOMPARE(r.exitCode, 2);
    QVERIFY2(r.errText().contains(message), qPrintable(r.errText()));
    QVERIFY(r.errText().contains(QStringLiteral("--help")));
    if (args.contains(QStringLiteral("--json"))) {
        const QJsonObject json = r.json();
        QCOMPARE(json.value(QStringLiteral("exitCode")).toInt(), 2);
        QCOMPARE(json.value(QStringLiteral("ok")).toBool(true), false);
        QVERIFY(json.value(QStringLiteral("error")).toString().contains(message));
    } else {
        QVERIFY(r.out.isEmpty());
    }
    // A usage error touches nothing: no panel root was installed or resolved.
    QVERIFY(!QFileInfo::exists(box.installedRoot()));
}

void CliTest::versionAndHelp() {
    CliSandbox box(false);
    QVERIFY(box.isValid());
    const CliSandbox::Run version = box.run({QStringLiteral("--version")});
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.outText(), QStringLiteral("zelto-panel-cli " ZELTO_VERSION "\n"));
    const CliSandbox::Run json = box.run({QStringLiteral("--version"), QStringLiteral("--json")});
    QCOMPARE(json.json().value(QStringLiteral("version")).toString(),
             QStringLiteral(ZELTO_VERSION));
    for (const char* help : {"--help", "-h", "help"}) {
        const CliSandbox::Run r = box.run({QString::fromLatin1(help)});
        QCOMPARE(r.exitCode, 0);
        for (const char* command : {"status", "start", "stop", "update", "undo", "root set DIR",
                                    "open site", "open phpmyadmin", "open dir", "autostart on",
                                    "--start-stack", "autostart status", "--json"})
            QVERIFY2(r.outText().contains(QString::fromLatin1(command)), command);
    }
}

void CliTest::rootSetFollowsTheChooserRules_data() {
    QTest::addColumn<QString>("pick"); // relative to the sandbox
    QTest::addColumn<bool>("makeValid");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("valid root") << "picked" << true << 0;
    QTest::newRow("valid, given with a trailing slash") << "picked/" << true << 0;
    QTest::newRow("lacks runtime/php") << "picked" << false << 1;
    QTest::newRow("missing directory") << "nowhere" << false << 1;
}

void CliTest::rootSetFollowsTheChooserRules() {
    QFETCH(QString, pick);
    QFETCH(bool, makeValid);
    QFETCH(int, exitCode);
    // No runtime shipped and no installed root: a valid pick becomes the panel root.
    CliSandbox box(false);
    QVERIFY(box.isValid());
    const QString picked = box.base() + QStringLiteral("/picked");
    if (makeValid) {
        testing::makeValidRoot(picked);
    } else if (pick == QLatin1String("picked")) {
        testing::makeValidRoot(picked);
        QVERIFY(QDir(picked + QStringLiteral("/runtime/php")).removeRecursively());
    }

    // Relative to the working directory, as a shell user types it.
    const CliSandbox::Run set =
        box.run({QStringLiteral("root"), QStringLiteral("set"), pick, QStringLiteral("--json")},
                box.base());
    QCOMPARE(set.exitCode, exitCode);
    const QJsonObject json = set.json();
    QCOMPARE(json.value(QStringLiteral("ok")).toBool(), exitCode == 0);
    const CliSandbox::Run root = box.run({QStringLiteral("root")});
    QCOMPARE(root.exitCode, 0);
    if (exitCode == 0) {
        QCOMPARE(json.value(QStringLiteral("report")).toString(),
                 QStringLiteral("已设置目录: ") + picked);
        QCOMPARE(json.value(QStringLiteral("savedRoot")).toString(), picked);
        // The pick is kept in the preferences, so the next run resolves to it.
        QCOMPARE(root.outText(), picked + QLatin1Char('\n'));
    } else {
        QCOMPARE(json.value(QStringLiteral("report")).toString(),
                 QStringLiteral("选择的目录不是有效的 Zelto-panel 根目录"));
        QCOMPARE(json.value(QStringLiteral("savedRoot")).toString(), QString());
        QCOMPARE(root.outText(), box.installedRoot() + QLatin1Char('\n'));
    }
}

void CliTest::openWithoutDesktopPrintsTheAddress_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("address"); // %1: the panel root
    QTest::newRow("site") << "site"
                          << "http://localhost:8000";
    QTest::newRow("runtime directory") << "dir"
                                       << "%1/runtime";
}

void CliTest::openWithoutDesktopPrintsTheAddress() {
    QFETCH(QString, target);
    QFETCH(QString, address);
    CliSandbox box(false);
    QVERIFY(box.isValid());
    const QString expected =
        address.contains(QLatin1String("%1")) ? address.arg(box.installedRoot()) : address;
    const CliSandbox::Run text = box.run({QStringLiteral("open"), target});
    QCOMPARE(text.exitCode, 0);
    QCOMPARE(text.outText(), expected + QLatin1Char('\n'));
    const CliSandbox::Run json =
        box.run({QStringLiteral("--json"), QStringLiteral("open"), target});
    QCOMPARE(json.exitCode, 0);
    QCOMPARE(json.json().value(QStringLiteral("address")).toString(), expected);
    QCOMPARE(json.json().value(QStringLiteral("handedToDesktop")).toBool(true), false);
}

void CliTest::update_data() {
    QTest::addColumn<bool>("serverUp");
    QTest::addColumn<QStringList>("package");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("reportStart"); // the entry of the final block
    QTest::newRow("site with data") << true << kPackage << 0 << "已自动解压并同步到 runtime/www: ";
    QTest::newRow("no server") << false << kPackage << 1 << "更新下载失败: ";
    QTest::newRow("no site root") << true << QStringList{"readme.txt=nothing here"} << 1
                                  << "更新包中未识别到站点根";
}

void CliTest::update() {
    QFETCH(bool, serverUp);
    QFETCH(QStringList, package);
    QFETCH(int, exitCode);
    QFETCH(QString, reportStart);
    CliSandbox box(false);
    QVERIFY(box.isValid());
    LocalHttpServer server;
    server.response.body = writeZip(box.base() + QStringLiteral("/served.zip"), package);
    // An address where nothing listens any more.
    const QString url = serverUp ? server.archiveUrl() : LocalHttpServer().archiveUrl();
    const QString www = box.installedRoot() + QStringLiteral("/runtime/www");

    // Without a terminal: one line per published step, then the final report.
    const CliSandbox::Run text = box.run({QStringLiteral("update"), QStringLiteral("--from"), url});
    QCOMPARE(text.exitCode, exitCode);
    const QString out = text.outText();
    const qsizetype reportAt = out.indexOf(kDoneTitle + QLatin1Char('\n'));
    QVERIFY2(reportAt > 0, qPrintable(out));
    QVERIFY2(out.mid(reportAt + kDoneTitle.size() + 1).startsWith(reportStart), qPrintable(out));
    const QStringList steps = out.left(reportAt).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(steps.first(), QStringLiteral("  5% 正在下载更新包"));
    QCOMPARE(steps.last(), QStringLiteral("100% 完成"));
    int percent = 0;
    for (const QString& step : steps) {
        const int p = step.left(4).trimmed().chopped(1).toInt();
        QVERIFY2(p >= percent && step.at(4) == QLatin1Char(' '), qPrintable(step));
        percent = p;
    }
    if (exitCode == 0) {
        // Every stage, in order.
        qsizetype at = 0;
        for (const char* stage : {" 10% 正在下载更新包", " 35% 正在解压更新包",
                                  " 60% 正在定位站点根目录", " 75% 正在同步到 runtime/www",
                                  " 82% 正在同步到 www: 第二步", " 90% 正在校验 runtime/www"}) {
            const qsizetype found = out.indexOf(QString::fromUtf8(stage), at);
            QVERIFY2(found >= at, stage);
            at = found;
        }
        QCOMPARE(testing::readFile(www + QStringLiteral("/index.php")),
                 QByteArray("<?php echo 'new';"));
    } else {
        QVERIFY(!QFileInfo::exists(www + QStringLiteral("/index.php")));
    }
    QCOMPARE(server.requestTargets.size(), serverUp ? 1 : 0);

    // With --json: the steps and the outcome in the one object, nothing else on stdout.
    const CliSandbox::Run json = box.run(
        {QStringLiteral("--json"), QStringLiteral("update"), QStringLiteral("--from=") + url});
    QCOMPARE(json.exitCode, exitCode);
    const QJsonObject object = json.json();
    QVERIFY2(!object.isEmpty(), json.out.constData());
    QCOMPARE(object.value(QStringLiteral("ok")).toBool(), exitCode == 0);
    const QJsonObject outcome = object.value(QStringLiteral("outcome")).toObject();
    QCOMPARE(outcome.value(QStringLiteral("operation")).toString(), QStringLiteral("update"));
    QCOMPARE(outcome.value(QStringLiteral("succeeded")).toBool(), exitCode == 0);
    QVERIFY(object.value(QStringLiteral("report"))
                .toString()
                .startsWith(kDoneTitle + QLatin1Char('\n') + reportStart));
    const QJsonArray published = object.value(QStringLiteral("steps")).toArray();
    QVERIFY(published.size() >= 3);
    QCOMPARE(published.first().toObject().value(QStringLiteral("progress")).toDouble(), 0.05);
    QCOMPARE(published.last().toObject().value(QStringLiteral("text")).toString(),
             QStringLiteral("完成"));
}

void CliTest::updateOnTerminalDrawsOneBar() {
    CliSandbox box(false);
    QVERIFY(box.isValid());
    LocalHttpServer server;
    server.response.body = writeZip(box.base() + QStringLiteral("/served.zip"), kPackage);
    const CliSandbox::Run r = box.runOnTerminal(
        {QStringLiteral("update"), QStringLiteral("--from"), server.archiveUrl()}, 60);
    if (r.exitCode == -1 && r.err.isEmpty())
        QSKIP("script(1) is not installed");
    QCOMPARE(r.exitCode, 0);
    const QString out = r.outText();
    const qsizetype reportAt = out.indexOf(kDoneTitle);
    QVERIFY2(reportAt > 0, qPrintable(out));
    // Every step redraws the one line: back to its start, cleared, the bar, the step.
    const QStringList draws = out.left(reportAt).split(QStringLiteral("\r\x1b[K"));
    QVERIFY2(draws.first().isEmpty() && draws.size() > 5, qPrintable(out));
    QCOMPARE(draws[1], QStringLiteral("[##............................]   5% 正在下载更新包"));
    for (const QString& draw : draws.mid(1, draws.size() - 2))
        QVERIFY2(!draw.contains(QLatin1Char('\n')), qPrintable(draw));
    QVERIFY(draws.last().startsWith(QStringLiteral("[##############################] 100% 完成")));
    // A step wider than the terminal is cut short (Chinese characters take two columns).
    QVERIFY2(out.contains(QStringLiteral("  75% 正在同步到 www: 第一…")), qPrintable(out));
}

void CliTest::oneUpdateAtATimeAcrossProcesses() {
    CliSandbox box(false);
    QVERIFY(box.isValid());
    LocalHttpServer server;
    server.response.body = writeZip(box.base() + QStringLiteral("/served.zip"), kPackage);
    server.response.delayMs = 600000; // the first run waits in its download

    QProcess first;
    first.setProcessEnvironment(box.environment());
    first.start(box.appDir() + QStringLiteral("/zelto-panel-cli"),
                {QStringLiteral("update"), QStringLiteral("--from"), server.archiveUrl()});
    QTRY_COMPARE_WITH_TIMEOUT(server.requestTargets.size(), 1, 60000);

    const CliSandbox::Run second = box.run({QStringLiteral("update"), QStringLiteral("--json"),
                                            QStringLiteral("--from"), server.archiveUrl()});
    QCOMPARE(second.exitCode, 1);
    QCOMPARE(second.json().value(QStringLiteral("report")).toString(), kAlreadyRunning);
    QCOMPARE(server.requestTargets.size(), 1);
    // An undo waits its turn too: it would put back a site the update is replacing.
    const CliSandbox::Run undo = box.run({QStringLiteral("undo"), QStringLiteral("--json")});
    QCOMPARE(undo.exitCode, 1);
    QCOMPARE(undo.json().value(QStringLiteral("report")).toString(), kAlreadyRunning);

    // A run that ended without its final report (killed) leaves its lock behind; the next run
    // takes it over.
    first.kill();
    QVERIFY(first.waitForFinished(30000));
    server.response.delayMs = 0;
    const CliSandbox::Run third =
        box.run({QStringLiteral("update"), QStringLiteral("--from"), server.archiveUrl()});
    QCOMPARE(third.exitCode, 0);
    QCOMPARE(server.requestTargets.size(), 2);
}

void CliTest::undoPutsBackTheSiteOfBeforeTheLastUpdate() {
    CliSandbox box(false);
    QVERIFY(box.isValid());
    const QString www = box.installedRoot() + QStringLiteral("/runtime/www");
    testing::writeFile(www + QStringLiteral("/index.php"), "before");
    testing::writeFile(www + QStringLiteral("/old.php"), "gone after the update");
    testing::writeFile(www + QStringLiteral("/Data/user.db"), "the user's");
    LocalHttpServer server;
    server.response.body = writeZip(box.base() + QStringLiteral("/served.zip"), kPackage);
    QCOMPARE(
        box.run({QStringLiteral("update"), QStringLiteral("--from"), server.archiveUrl()}).exitCode,
        0);
    QVERIFY(!QFileInfo::exists(www + QStringLiteral("/old.php")));
    const QByteArray shippedDefaults =
        testing::readFile(www + QStringLiteral("/Data/defaults.txt"));
    QCOMPARE(shippedDefaults, QByteArray("shipped"));

    // The site's files come back; Data stays as the update left it.
    const CliSandbox::Run undo = box.run({QStringLiteral("undo"), QStringLiteral("--json")});
    QCOMPARE(undo.exitCode, 0);
    QCOMPARE(testing::readFile(www + QStringLiteral("/index.php")), QByteArray("before"));
    QCOMPARE(testing::readFile(www + QStringLiteral("/old.php")),
             QByteArray("gone after the update"));
    QVERIFY(!QFileInfo::exists(www + QStringLiteral("/include/lib.php")));
    QCOMPARE(testing::readFile(www + QStringLiteral("/Data/user.db")), QByteArray("the user's"));
    QCOMPARE(testing::readFile(www + QStringLiteral("/Data/defaults.txt")), shippedDefaults);
    const QJsonObject json = undo.json();
    const QJsonObject outcome = json.value(QStringLiteral("outcome")).toObject();
    QCOMPARE(outcome.value(QStringLiteral("operation")).toString(), QStringLiteral("undo"));
    QVERIFY(outcome.value(QStringLiteral("succeeded")).toBool());
    QVERIFY(json.value(QStringLiteral("report"))
                .toString()
                .startsWith(QStringLiteral("=== 撤销完成 ===\n已撤销上次更新")));
    const QJsonArray steps = json.value(QStringLiteral("steps")).toArray();
    QCOMPARE(steps.first().toObject().value(QStringLiteral("text")),
             QStringLiteral("正在撤销上次更新"));
    QCOMPARE(steps.last().toObject().value(QStringLiteral("text")), QStringLiteral("完成"));

    // One generation only: a second undo has nothing to put back, and says so in its report.
    const CliSandbox::Run again = box.run({QStringLiteral("undo")});
    QCOMPARE(again.exitCode, 1);
    QVERIFY2(again.outText().contains(QStringLiteral("没有可撤销的更新")), again.out.constData());
    QCOMPARE(testing::readFile(www + QStringLiteral("/index.php")), QByteArray("before"));
}

// The end of the site's log with its errors and warnings marked, only those with --errors, as
// JSON, and followed as it grows.
void CliTest::logsShowsTheEndMarked() {
    CliSandbox box(false);
    QVERIFY(box.isValid());
    const QString log = box.installedRoot() + QStringLiteral("/runtime/config/php-web.log");
    testing::writeFile(log, "old\n[Thu Dec 10 18:00:00 2026] 127.0.0.1:5 [200]: GET /\n"
                            "PHP Warning:  Undefined variable $x in /w/a.php on line 4\n"
                            "PHP Fatal error:  Uncaught Exception: boom in /w/b.php:9\n");
    const CliSandbox::Run end = box.run({QStringLiteral("logs"), QStringLiteral("site"),
                                         QStringLiteral("--lines"), QStringLiteral("3")});
    QCOMPARE(end.exitCode, 0);
    QCOMPARE(end.outText(),
             QStringLiteral("[Thu Dec 10 18:00:00 2026] 127.0.0.1:5 [200]: GET /\n"
                            "[警告] PHP Warning:  Undefined variable $x in /w/a.php on "
                            "line 4\n[错误] PHP Fatal error:  Uncaught Exception: "
                            "boom in /w/b.php:9\n"));
    const CliSandbox::Run errors = box.run({QStringLiteral("--json"), QStringLiteral("logs"),
                                            QStringLiteral("site"), QStringLiteral("--errors")});
    const QJsonArray lines = errors.json().value(QStringLiteral("lines")).toArray();
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[1].toObject().value(QStringLiteral("severity")).toString(),
             QStringLiteral("error"));
    QCOMPARE(lines[1].toObject().value(QStringLiteral("location")).toString(),
             QStringLiteral("/w/b.php:9"));

    QProcess follow;
    follow.setProcessEnvironment(box.environment());
    follow.start(box.appDir() + QStringLiteral("/zelto-panel-cli"),
                 {QStringLiteral("logs"), QStringLiteral("site"), QStringLiteral("--follow"),
                  QStringLiteral("--errors")});
    QVERIFY(follow.waitForStarted());
    QByteArray seen;
    QVERIFY(testing::waitFor(
        [&] {
            seen += follow.readAllStandardOutput();
            return seen.contains("boom");
        },
        10000));
    QFile file(log);
    QVERIFY(file.open(QIODevice::Append));
    file.write("plain line\nPHP Parse error:  syntax error in /w/c.php on line 2\n");
    file.close();
    QVERIFY(testing::waitFor(
        [&] {
            seen += follow.readAllStandardOutput();
            return seen.contains("/w/c.php");
        },
        10000));
    QVERIFY(!seen.contains("plain line"));
    follow.kill();
    follow.waitForFinished();
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
