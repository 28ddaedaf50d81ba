// The command-line panel as a user runs it, on what needs no fixed port: arguments and usage
// errors, the version, the panel root and its choice with the chooser's rules, and the open
// commands without a desktop.

#include "cli_sandbox.h"
#include "test_support.h"

#include <QDir>
#include <QJsonObject>
#include <QTest>

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
};

void CliTest::usageErrors_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("nothing") << QStringList{} << "no command given";
    QTest::newRow("unknown command") << QStringList{"restart"} << "unknown command 'restart'";
    QTest::newRow("unknown option")
        << QStringList{"status", "--verbose"} << "unknown option '--verbose'";
    QTest::newRow("extra word") << QStringList{"status", "now"}
                                << "status takes no further arguments, but got 'now'";
    QTest::newRow("root set without dir")
        << QStringList{"root", "set"} << "root set needs a directory";
    QTest::newRow("root set, two dirs") << QStringList{"root", "set", "a", "b"}
                                        << "root set DIR takes no further arguments, but got 'b'";
    QTest::newRow("root with another word") << QStringList{"root", "show"} << "got 'show'";
    QTest::newRow("open nothing") << QStringList{"open"} << "open needs what to open";
    QTest::newRow("open unknown") << QStringList{"open", "mail"} << "not 'mail'";
    QTest::newRow("--from without update")
        << QStringList{"status", "--from", "http://h/x.zip"} << "--from belongs to update only";
    QTest::newRow("json and wrong") << QStringList{"--json", "stat"} << "unknown command 'stat'";
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
        for (const char* command :
             {"status", "root set DIR", "open site", "open phpmyadmin", "open dir", "--json"})
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

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
