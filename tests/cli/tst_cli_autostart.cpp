// zelto-panel-cli autostart on|off|status as a user runs it, installed under a path with
// spaces and Chinese characters: the entry runs the window program beside the command line,
// found through a link on PATH, and on fails while that program is missing.

#include "cli_sandbox.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

class CliAutostartTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void onStatusOff();
};

void CliAutostartTest::onStatusOff() {
    CliSandbox box(false, QDir::tempPath() + QStringLiteral("/zelto autostart 面板-XXXXXX"));
    QVERIFY(box.isValid());
    const QString entry = box.base() + QStringLiteral("/config/autostart/org.zelto.Panel.desktop");
    const QString panel = box.appDir() + QStringLiteral("/zelto-panel");

    const CliSandbox::Run missing = box.run({"autostart", "on", "--json"});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.errText().contains(panel + QStringLiteral(" is not there")),
             qPrintable(missing.errText()));
    QCOMPARE(missing.json().value("ok").toBool(true), false);
    QCOMPARE(missing.json().value("error").toObject().value("path").toString(), panel);
    QVERIFY(!QFileInfo::exists(entry));

    // Through a link elsewhere, as the installation puts one on PATH.
    testing::writeScript(panel, QStringLiteral("exit 0"));
    const QString link = box.base() + QStringLiteral("/home/.local/bin/zelto-panel-cli");
    QVERIFY(QDir().mkpath(QFileInfo(link).path()));
    QVERIFY(QFile::link(box.appDir() + QStringLiteral("/zelto-panel-cli"), link));
    QProcess on;
    on.setProcessEnvironment(box.environment());
    on.start(link, {"autostart", "on", "--start-stack"});
    QVERIFY(on.waitForFinished(60000));
    QCOMPARE(on.exitCode(), 0);

    const CliSandbox::Run status = box.run({"--json", "autostart", "status"});
    QCOMPARE(status.exitCode, 0);
    QCOMPARE(status.json(), (QJsonObject{{"command", "autostart status"},
                                         {"ok", true},
                                         {"exitCode", 0},
                                         {"enabled", true},
                                         {"startStack", true},
                                         {"path", entry},
                                         {"panelExecutable", panel}}));
    QCOMPARE(box.run({"autostart", "status"}).outText(),
             QStringLiteral("Start at login: on, in the tray\nStart the stack at login: yes\n"
                            "Panel: ") +
                 panel + QStringLiteral("\nEntry: ") + entry + QLatin1Char('\n'));
    QCOMPARE(box.run({"autostart", "on", "--json"}).json().value("startStack").toBool(true), false);

    for (int i = 0; i < 2; ++i) { // a second off has nothing to remove, and that is fine
        const CliSandbox::Run off = box.run({"autostart", "off"});
        QCOMPARE(off.exitCode, 0);
        QCOMPARE(off.outText(),
                 QStringLiteral("Start at login: off\nEntry: ") + entry + QLatin1Char('\n'));
    }
    QVERIFY(!QFileInfo::exists(entry));
}

QTEST_GUILESS_MAIN(CliAutostartTest)
#include "tst_cli_autostart.moc"
