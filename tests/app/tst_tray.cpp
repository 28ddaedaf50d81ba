// The panel on the desktop, on a real X server with a private session bus whose desktop side
// (a tray host and a notification service) is the stand-in that records what it is sent.

#include "app/application.h"
#include "app/desktop_notifier.h"
#include "app/desktop_session.h"
#include "app/main_panel.h"
#include "app/panel_tray.h"
#include "app/panel_window.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QProcess>
#include <QSystemTrayIcon>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace testing;

namespace {

QStringList recorded(const QString& path, const QString& prefix) {
    QStringList lines;
    for (const QString& line : QString::fromUtf8(readFile(path)).split(QLatin1Char('\n'))) {
        if (line.startsWith(prefix))
            lines.push_back(line.mid(prefix.size()));
    }
    return lines;
}

} // namespace

class TrayTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") ||
            QGuiApplication::platformName() != QStringLiteral("xcb"))
            QSKIP("needs an X server and a private session bus (run through ctest)");
        QVERIFY(m_dir.isValid());
        m_record = m_dir.filePath(QStringLiteral("desktop.log"));
        m_desktop.start(QStringLiteral(ZELTO_DESKTOP_BUS_STANDIN), {m_record});
        QVERIFY(waitFor([this] { return recorded(m_record, QStringLiteral("ready")).size() == 1; },
                        10000));
        QVERIFY(PanelTray::isAvailable());
        app::installTranslations(QLocale(QLocale::English));
    }

    void cleanupTestCase() {
        m_desktop.kill();
        m_desktop.waitForFinished();
    }

    // The icon registers with the desktop's tray and follows the stack: how many services
    // run, or the operation under way and its step.
    void iconFollowsTheState_data() {
        QTest::addColumn<int>("running");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line");
        QTest::newRow("none") << 0 << int(TrayState::NoneRunning) << "No service running";
        QTest::newRow("some") << 2 << int(TrayState::SomeRunning) << "2 of 3 services running";
        QTest::newRow("all") << 3 << int(TrayState::AllRunning) << "All services running";
    }

    void iconFollowsTheState() {
        QFETCH(int, running);
        QFETCH(int, state);
        QFETCH(QString, line);
        TestSandbox box;
        makeValidRoot(box.installedRoot());
        auto model = box.makeModel();
        const int registered = int(recorded(m_record, QStringLiteral("register ")).size());
        PanelTray tray(model, {});
        tray.show();
        QVERIFY(waitFor(
            [&] { return recorded(m_record, QStringLiteral("register ")).size() > registered; },
            5000));
        for (int i = 0; i < running; ++i)
            model->setServiceRunning(kServices[i], true);
        QCOMPARE(int(tray.state()), state);
        QCOMPARE(tray.icon()->toolTip(), qtTrId("app.title") + QLatin1Char('\n') + line);
        const QImage before = tray.icon()->icon().pixmap(32).toImage();

        // A stop from the menu: busy with its step until its outcome, then stopped.
        OutcomeRecorder outcomes(*model);
        tray.action(QStringLiteral("trayStopAll"))->trigger();
        QCOMPARE(int(tray.state()), int(TrayState::Busy));
        QVERIFY(tray.icon()->icon().pixmap(32).toImage() != before);
        QVERIFY(outcomes.waitFor(1));
        QCOMPARE(outcomes.last().operation, Operation::StopAll);
        QVERIFY(tray.icon()->toolTip().startsWith(qtTrId("app.title")));
        QCOMPARE(int(tray.state()), int(TrayState::NoneRunning));
    }

    // The menu's entries reach the model, the window, the switches and the end of the process.
    void menuDrivesThePanel() {
        TestSandbox box;
        makeValidRoot(box.installedRoot());
        auto model = box.makeModel();
        int shown = 0;
        int quits = 0;
        QList<std::pair<bool, bool>> autostarts;
        PanelTray tray(model, {[&] { ++shown; }, [&] { ++quits; },
                               [&](bool login, bool stack) {
                                   autostarts.push_back({login, stack});
                               }});
        tray.show();
        tray.action(QStringLiteral("trayOpenSite"))->trigger();
        QVERIFY(waitFor([&] { return !box.desktop->openedUrls.empty(); }, 5000));
        QCOMPARE(box.desktop->openedUrls.front(), QUrl(QStringLiteral("http://localhost:8000")));
        tray.action(QStringLiteral("trayShowWindow"))->trigger();
        tray.action(QStringLiteral("trayQuit"))->trigger();
        QCOMPARE(shown, 1);
        QCOMPARE(quits, 1);

        QVERIFY(tray.keepRunning());
        tray.action(QStringLiteral("trayKeepRunning"))->trigger();
        QVERIFY(!tray.keepRunning());
        QCOMPARE(PanelTray(model, {}).keepRunning(), false); // remembered

        tray.action(QStringLiteral("trayStartStackAtLogin"))->trigger();
        tray.showAutostart(true, true);
        tray.action(QStringLiteral("trayStartAtLogin"))->trigger();
        QCOMPARE(autostarts, (QList<std::pair<bool, bool>>{{true, true}, {false, false}}));
    }

    // The tray's switch writes the autostart entry off the main thread and shows what the
    // entry then says; here no window program is beside the tests, so the entry is refused, the
    // switch shows off again and the tray's message names the program missing.
    void startAtLoginSwitchShowsTheEntry() {
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        TestSandbox box;
        makeValidRoot(box.installedRoot());
        app::DesktopSession session([&] { return box.makeModel(); },
                                    {true, false, [] { return true; }, [] {}});
        session.begin();
        QAction* login = session.tray()->action(QStringLiteral("trayStartAtLogin"));
        const int notified = int(recorded(m_record, QStringLiteral("notify ")).size());
        login->trigger();
        QVERIFY(waitFor(
            [&] { return recorded(m_record, QStringLiteral("notify ")).size() > notified; }, 5000));
        const QString notice = recorded(m_record, QStringLiteral("notify ")).last();
        QVERIFY2(notice.startsWith(qtTrId("tray.start_at_login") + QLatin1Char('\t')) &&
                     notice.contains(QStringLiteral("/zelto-panel")),
                 qPrintable(notice));
        QVERIFY(!login->isChecked());
        QVERIFY(
            !QFile::exists(config.filePath(QStringLiteral("autostart/org.zelto.Panel.desktop"))));
        qunsetenv("XDG_CONFIG_HOME");
    }

    // Through the desktop's service while it answers, else through the fallback.
    void notificationsReachTheDesktop() {
        DesktopNotifier notifier;
        notifier.notify(QStringLiteral("MySQL stopped unexpectedly"), QStringLiteral("one\ntwo"));
        QVERIFY(waitFor(
            [&] {
                return recorded(m_record, QStringLiteral("notify "))
                    .contains(QStringLiteral("MySQL stopped unexpectedly\tone\\ntwo"));
            },
            5000));
        DesktopNotifier nobody(QStringLiteral("org.zelto.NoSuchService"));
        QStringList fallen;
        nobody.setFallback(
            [&](const QString& title, const QString& body) { fallen << title << body; });
        nobody.notify(QStringLiteral("title"), QStringLiteral("body"));
        QVERIFY(waitFor([&] { return !fallen.isEmpty(); }, 5000));
        QCOMPARE(fallen, QStringList({"title", "body"}));
    }

    // With "keep running" off, closing the last window while an update runs keeps the
    // process until the run ends; then it tells so and ends.
    void closingDuringAnUpdateWaitsForIt() {
        QTcpServer stalled; // accepts the download and sends nothing until told
        QVERIFY(stalled.listen(QHostAddress::LocalHost));
        TestSandbox box;
        makeValidRoot(box.installedRoot());
        box.preferences->setString(QStringLiteral("keepRunningInTray"), QStringLiteral("off"));
        PanelConfig config;
        config.updateZipBaseURL =
            QUrl(QStringLiteral("http://127.0.0.1:%1/").arg(stalled.serverPort()));
        int quits = 0;
        app::DesktopSession session([&] { return box.makeModel(config); },
                                    {false, false, [] { return true; }, [&] { ++quits; }});
        session.begin();
        PanelWindow* window = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* panel = qobject_cast<PanelWindow*>(w); panel && panel->isVisible())
                window = panel;
        }
        QVERIFY(window);
        const int notified = int(recorded(m_record, QStringLiteral("notify ")).size());
        window->panel()->model().updateOrRepairFiles();
        QVERIFY(stalled.waitForNewConnection(10000));
        QTcpSocket* download = stalled.nextPendingConnection();
        window->close();
        QTest::qWait(500);
        QCOMPARE(quits, 0);
        QCOMPARE(session.operationsRunning(), 1);
        // The update fails and ends: the download breaks off, and a new try is refused.
        stalled.close();
        download->abort();
        QVERIFY(waitFor([&] { return quits == 1; }, 20000));
        QVERIFY(waitFor(
            [&] { return recorded(m_record, QStringLiteral("notify ")).size() > notified; }, 5000));
        QVERIFY(recorded(m_record, QStringLiteral("notify "))
                    .last()
                    .startsWith(qtTrId("app.title") + QStringLiteral("\tDone, then quit: ===")));
    }

private:
    QTemporaryDir m_dir;
    QString m_record;
    QProcess m_desktop;
};

QTEST_MAIN(TrayTest)
#include "tst_tray.moc"
