#include "tst_panel.h"

#include "app/adaptive_grid_layout.h"
#include "app/application.h"
#include "app/cards.h"
#include "app/hero_header.h"
#include "app/icon_button.h"
#include "app/log_panel.h"
#include "app/main_panel.h"
#include "app/panel_window.h"
#include "app/theme.h"
#include "app/wrapping_label.h"
#include "app_test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QScrollArea>
#include <QTcpServer>
#include <QTest>

#include <limits>

namespace {

const QString kStatusTitle = QStringLiteral("=== 服务状态 ===");

// A panel on screen over a sandboxed model, after its first status probe.
struct ShownPanel {
    explicit ShownPanel(QSize size = QSize(900, 900), const QUrl& updateUrl = {}) {
        model = box.makeModel(updateUrl);
        panel = std::make_unique<MainPanel>(model);
        panel->resize(size);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
        QVERIFY(testing::waitFor([&] { return model->logs().startsWith(kStatusTitle); }));
        panel->render();
    }
    IconButton* button(const char* key) const {
        return panel->findChild<IconButton*>(QString::fromLatin1(key));
    }
    // Lets queued blocks and the coalesced repaint run.
    void settle() const {
        QCoreApplication::processEvents();
        panel->render();
        QCoreApplication::processEvents(); // the layouts follow
    }

    PanelSandbox box;
    std::shared_ptr<PanelViewModel> model;
    std::unique_ptr<MainPanel> panel;
};

// Every text the log held, in order, without repeats.
struct LogHistory {
    explicit LogHistory(PanelViewModel& model) {
        QObject::connect(&model, &PanelViewModel::changed, &context, [this, &model] {
            if (texts.isEmpty() || texts.last() != model.logs())
                texts << model.logs();
        });
    }
    int countStartingWith(const QString& prefix) const {
        int n = 0;
        for (const QString& t : texts)
            n += t.startsWith(prefix) ? 1 : 0;
        return n;
    }
    QObject context;
    QStringList texts;
};

bool shown(const QWidget* w, const QWidget* panel) {
    return w->isVisibleTo(panel);
}

// Counts how often a widget was shown.
struct ShowCounter : QObject {
    explicit ShowCounter(QWidget* w) { w->installEventFilter(this); }
    bool eventFilter(QObject*, QEvent* e) override {
        shows += e->type() == QEvent::ShowToParent ? 1 : 0;
        return false;
    }
    int shows = 0;
};

} // namespace

void TestPanel::init() {
    app::installTranslations(QLocale(QLocale::English, QLocale::UnitedStates));
}

void TestPanel::freshPanelShowsInitialState() {
    PanelSandbox box;
    auto model = box.makeModel();
    MainPanel panel(model);
    // Before the first probe: everything stopped, nothing to report.
    QCOMPARE(panel.header()->readinessLabel()->text(), qtTrId("app.ready"));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(!panel.header()->badge(i)->ok());
        QCOMPARE(panel.statusStrip()->card(i)->value(), qtTrId("common.stopped"));
        QCOMPARE(panel.statusStrip()->card(i)->valueColor(), theme::color::gray);
    }
    QVERIFY(!shown(panel.progressCard(), &panel));
    QVERIFY(!shown(panel.permissionNotice(), &panel));
    QVERIFY(!shown(panel.errorNotice(), &panel));
    QVERIFY(panel.logPanel()->editor()->toPlainText().isEmpty());
    QCOMPARE(int(panel.buttons().size()), 11);
    for (IconButton* b : panel.buttons())
        QVERIFY(b->isEnabled());
    QVERIFY(!panel.firstStatusRequested());
    QCOMPARE(box.toolCalls(QStringLiteral("lsof")), 0);
    QVERIFY(panel.minimumWidth() >= 820 && panel.minimumHeight() >= 740);
}

void TestPanel::firstShowAsksForStatusOnce() {
    ShownPanel p;
    QVERIFY(p.panel->firstStatusRequested());
    // Repaints and re-renders ask for nothing more.
    for (int i = 0; i < 5; ++i) {
        p.panel->update();
        p.model->setLogs(QStringLiteral("x%1").arg(i));
        QTest::qWait(100);
    }
    QCOMPARE(p.box.toolCalls(QStringLiteral("lsof")), 1);
    QCOMPARE(p.box.toolCalls(QStringLiteral("pgrep")), 1);
}

void TestPanel::progressCardVisibility_data() {
    QTest::addColumn<double>("progress");
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("line");
    QTest::newRow("0") << 0.0 << false << QString();
    QTest::newRow("0.001") << 0.001 << true << QStringLiteral("正在下载更新包 0%");
    QTest::newRow("0.425") << 0.425 << true << QStringLiteral("正在下载更新包 42%");
    QTest::newRow("1.0") << 1.0 << false << QString();
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false << QString();
}

void TestPanel::progressCardVisibility() {
    QFETCH(double, progress);
    QFETCH(bool, visible);
    QFETCH(QString, line);
    ShownPanel p;
    p.model->setUpdateProgressText(QStringLiteral("正在下载更新包"));
    p.model->setUpdateProgress(progress);
    p.settle();
    QCOMPARE(shown(p.panel->progressCard(), p.panel.get()), visible);
    if (visible) {
        QCOMPARE(p.panel->progressCard()->lineText(), line);
        QProgressBar* bar = p.panel->progressCard()->bar();
        QCOMPARE(double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()),
                 std::round(progress * 10000) / 10000);
        // It is the second child of the third section, under the buttons.
        QVERIFY(p.panel->progressCard()->parentWidget() == p.panel->section(2));
        QVERIFY(p.panel->progressCard()->geometry().top() >
                p.panel->buttons().back()->geometry().bottom());
    }
}

void TestPanel::noticesAppearAndDisappear() {
    ShownPanel p;
    // The sandbox root lacks runtime/config: the first probe reported it.
    QVERIFY(!p.model->permissionHint().isEmpty());
    QVERIFY(shown(p.panel->permissionNotice(), p.panel.get()));
    QCOMPARE(p.panel->permissionNotice()->body(), p.model->permissionHint());
    QVERIFY(p.panel->permissionNotice()->parentWidget() == p.panel->section(2));

    p.model->setPermissionHint(QString());
    p.settle();
    QVERIFY(!shown(p.panel->permissionNotice(), p.panel.get()));

    QVERIFY(!shown(p.panel->errorNotice(), p.panel.get()));
    p.model->setErrorSummary(QStringLiteral("mysqld: error 13\nphp: failed"));
    p.settle();
    QVERIFY(shown(p.panel->errorNotice(), p.panel.get()));
    QCOMPARE(p.panel->errorNotice()->body(), QStringLiteral("mysqld: error 13\nphp: failed"));
    // Between the third section and the log.
    QVERIFY(p.panel->errorNotice()->geometry().top() > p.panel->section(2)->geometry().bottom());
    QVERIFY(p.panel->errorNotice()->geometry().bottom() < p.panel->logPanel()->geometry().top());

    p.model->setErrorSummary(QString());
    p.settle();
    QVERIFY(!shown(p.panel->errorNotice(), p.panel.get()));
    // The column closes up: the log follows the section at the usual gap.
    QCOMPARE(p.panel->logPanel()->geometry().top() - p.panel->section(2)->geometry().bottom() - 1,
             theme::metric::columnGap);
}

void TestPanel::readinessLine_data() {
    QTest::addColumn<QString>("hint");
    QTest::addColumn<bool>("ready");
    QTest::newRow("empty") << QString() << true;
    QTest::newRow("a single space") << QStringLiteral(" ") << false;
    QTest::newRow("a hint") << QStringLiteral("权限提示: 目录不存在或不可访问 - /x") << false;
}

void TestPanel::readinessLine() {
    QFETCH(QString, hint);
    QFETCH(bool, ready);
    ShownPanel p;
    p.model->setPermissionHint(hint);
    p.settle();
    QLabel* line = p.panel->header()->readinessLabel();
    QCOMPARE(line->text(), ready ? qtTrId("app.ready") : qtTrId("app.attention"));
    QCOMPARE(labelColor(line), ready ? theme::text::ready() : theme::text::attention());
    QCOMPARE(shown(p.panel->permissionNotice(), p.panel.get()), !ready);
}

void TestPanel::badgesAndCardsFollowStatus_data() {
    QTest::addColumn<int>("running"); // index of the one running service, -1 for none
    QTest::newRow("none") << -1;
    QTest::newRow("MySQL") << 0;
    QTest::newRow("PHP Web") << 1;
    QTest::newRow("phpMyAdmin") << 2;
}

void TestPanel::badgesAndCardsFollowStatus() {
    QFETCH(int, running);
    ShownPanel p;
    p.model->setMysqlRunning(running == 0);
    p.model->setPhpWebRunning(running == 1);
    p.model->setPhpMyAdminRunning(running == 2);
    p.settle();
    const char* titles[3] = {"status.mysql", "status.php_web", "status.phpmyadmin"};
    for (int i = 0; i < 3; ++i) {
        const bool on = i == running;
        Badge* badge = p.panel->header()->badge(i);
        QCOMPARE(badge->ok(), on);
        QCOMPARE(badge->cardStyle()->fill, theme::card::badge(on).fill);
        QCOMPARE(badge->text(), qtTrId(titles[i]) + QStringLiteral("  ") + runningText(on));
        StatCard* card = p.panel->statusStrip()->card(i);
        QCOMPARE(card->title(), qtTrId(titles[i]));
        QCOMPARE(card->value(), runningText(on));
        QCOMPARE(card->valueColor(), on ? theme::color::green : theme::color::gray);
    }
}

void TestPanel::gridsAdaptToWidth_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("buttonColumns");
    QTest::addColumn<int>("gridCRows");
    QTest::addColumn<int>("statusColumns");
    QTest::newRow("smallest window") << 820 << 4 << 2 << 4;
    QTest::newRow("five fit") << 1000 << 5 << 1 << 5;
    QTest::newRow("wide") << 1500 << 7 << 1 << 7;
}

void TestPanel::gridsAdaptToWidth() {
    QFETCH(int, width);
    QFETCH(int, buttonColumns);
    QFETCH(int, gridCRows);
    QFETCH(int, statusColumns);
    ShownPanel p(QSize(width, 800));
    p.settle();
    for (int i = 0; i < 3; ++i)
        QCOMPARE(p.panel->buttonGrid(i)->currentColumnCount(), buttonColumns);

    QSet<int> rows;
    for (IconButton* b : p.panel->buttons()) {
        if (b->parentWidget() == p.panel->section(2))
            rows.insert(b->geometry().top());
        QVERIFY(b->width() >= 170);
    }
    QCOMPARE(rows.size(), gridCRows);

    StatusStrip* strip = p.panel->statusStrip();
    QCOMPARE(strip->grid()->currentColumnCount(), statusColumns);
    const int columnWidth =
        (strip->width() - (statusColumns - 1) * theme::metric::statusGap) / statusColumns;
    for (int i = 0; i < 3; ++i) {
        // One row, each card one column wide: never stretched over the empty columns.
        QCOMPARE(strip->card(i)->geometry().top(), strip->card(0)->geometry().top());
        QVERIFY(std::abs(strip->card(i)->width() - columnWidth) <= 1);
        QVERIFY(strip->card(i)->width() >= 180);
    }
}

void TestPanel::buttonsCallTheirOperation_data() {
    QTest::addColumn<QString>("key");
    for (const char* key :
         {"action.copy_logs", "action.open_website", "action.open_directory",
          "action.privacy_settings", "action.choose_directory", "action.refresh_status"})
        QTest::newRow(key) << QString::fromLatin1(key);
}

void TestPanel::buttonsCallTheirOperation() {
    QFETCH(QString, key);
    ShownPanel p;
    DesktopRecorder& desktop = *p.box.sandbox.desktop;
    p.model->setLogs(QStringLiteral("typed by hand"));
    const int lsofBefore = p.box.toolCalls(QStringLiteral("lsof"));
    IconButton* button = p.button(key.toLatin1().constData());
    QVERIFY(button);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(8, 8)); // a corner of the card
    p.settle();

    if (key == QLatin1String("action.copy_logs")) {
        QCOMPARE(desktop.clipboardClears, 1);
        QCOMPARE(desktop.clipboard.value_or(QString()), QStringLiteral("typed by hand"));
    } else if (key == QLatin1String("action.open_website")) {
        QCOMPARE(int(desktop.openedUrls.size()), 1);
        QCOMPARE(desktop.openedUrls[0], QUrl(QStringLiteral("http://localhost:8000")));
    } else if (key == QLatin1String("action.open_directory")) {
        QCOMPARE(int(desktop.openedUrls.size()), 1);
        QCOMPARE(desktop.openedUrls[0],
                 QUrl::fromLocalFile(p.box.sandbox.installedRoot() + QStringLiteral("/runtime")));
    } else if (key == QLatin1String("action.privacy_settings")) {
        QCOMPARE(desktop.privacyOpens, 1);
    } else if (key == QLatin1String("action.choose_directory")) {
        QCOMPARE(desktop.chooserPrompts, QStringList{QStringLiteral("选择")});
        QCOMPARE(desktop.chooserMessages, QStringList{QStringLiteral("请选择 Zelto-panel 目录")});
        // The user cancelled: nothing changed.
        QCOMPARE(p.model->logs(), QStringLiteral("typed by hand"));
    } else if (key == QLatin1String("action.refresh_status")) {
        QCOMPARE(p.box.toolCalls(QStringLiteral("lsof")), lsofBefore + 1);
        QVERIFY(p.model->logs().startsWith(kStatusTitle));
        QCOMPARE(p.panel->logPanel()->editor()->toPlainText(), p.model->logs());
    } else {
        QFAIL("no check for this button");
    }
}

void TestPanel::bothPhpMyAdminButtonsOpenIt() {
    ShownPanel p;
    DesktopRecorder& desktop = *p.box.sandbox.desktop;
    const QUrl phpMyAdmin(QStringLiteral("http://localhost:900"));
    int lsof = p.box.toolCalls(QStringLiteral("lsof"));
    for (const char* key : {"action.database_admin", "action.start_phpmyadmin"}) {
        p.model->setLogs(QStringLiteral("before"));
        QTest::mouseClick(p.button(key), Qt::LeftButton);
        p.settle();
        // phpMyAdmin is not running in the sandbox: a start is tried, the status refreshed
        // and the address opened, the same for both buttons.
        QCOMPARE(desktop.openedUrls.back(), phpMyAdmin);
        QVERIFY2(p.model->logs().startsWith(kStatusTitle), key);
        QCOMPARE(p.box.toolCalls(QStringLiteral("lsof")), lsof + 1);
        lsof += 1;
    }
    QCOMPARE(int(desktop.openedUrls.size()), 2);
}

void TestPanel::startAllButton() {
    ShownPanel p;
    LogHistory history(*p.model);
    QTest::mouseClick(p.button("action.start_all"), Qt::LeftButton);
    QVERIFY(testing::waitFor(
        [&] { return p.model->logs().startsWith(QStringLiteral("=== 启动完成 ===")); }));
    p.settle();
    QCOMPARE(history.countStartingWith(QStringLiteral("=== 启动中 ===\n正在准备目录和服务")), 1);
    QCOMPARE(history.countStartingWith(QStringLiteral("=== 启动完成 ===")), 1);
    QCOMPARE(p.panel->logPanel()->editor()->toPlainText(), p.model->logs());
}

void TestPanel::stopAllButton() {
    ShownPanel p;
    LogHistory history(*p.model);
    QTest::mouseClick(p.button("action.stop_all"), Qt::LeftButton);
    QVERIFY(testing::waitFor(
        [&] { return p.model->logs().startsWith(QStringLiteral("=== 停止完成 ===")); }));
    p.settle();
    QCOMPARE(history.countStartingWith(QStringLiteral("=== 停止中 ===")), 1);
    QCOMPARE(history.countStartingWith(QStringLiteral("=== 停止完成 ===")), 1);
}

void TestPanel::updateButton() {
    // An update server that takes the connection and never answers: the run stays at the
    // download until the stall limit ends it.
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    ShownPanel p(
        QSize(900, 900),
        QUrl(QStringLiteral("https://127.0.0.1:%1/zelto-update.zip").arg(silent.serverPort())));
    LogHistory history(*p.model);
    QList<double> progress;
    QObject context;
    connect(p.model.get(), &PanelViewModel::changed, &context, [&] {
        if (progress.isEmpty() || progress.last() != p.model->updateProgress())
            progress << p.model->updateProgress();
    });
    ShowCounter cardShows(p.panel->progressCard());
    QTest::mouseClick(p.button("action.update_repair"), Qt::LeftButton);
    QVERIFY(testing::waitFor([&] { return p.model->updateProgress() > 0; }));
    p.settle();
    QVERIFY(shown(p.panel->progressCard(), p.panel.get()));
    QVERIFY(p.panel->progressCard()->lineText().endsWith(
        QStringLiteral(" %1%").arg(ProgressCard::percent(p.model->updateProgress()))));
    // The stalled download fails; the run still ends at 1.0.
    QVERIFY(testing::waitFor([&] { return p.model->updateProgress() == 1.0; }));
    p.settle();
    QCOMPARE(progress.first(), 0.05);
    QCOMPARE(progress.last(), 1.0);
    QCOMPARE(
        history.countStartingWith(QStringLiteral("=== 更新/修复ZELTO文件 ===\n正在下载更新包...")),
        1);
    QVERIFY(p.model->logs().startsWith(QStringLiteral("=== 更新/修复完成 ===")));
    // The card went with the run's end.
    QCOMPARE(cardShows.shows, 1);
    QVERIFY(!shown(p.panel->progressCard(), p.panel.get()));
}

void TestPanel::keyboardActivatesButtons() {
    ShownPanel p;
    IconButton* copy = p.button("action.copy_logs");
    QCOMPARE(copy->focusPolicy(), Qt::StrongFocus);
    copy->setFocus(Qt::TabFocusReason);
    int expected = 0;
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(copy, key);
        QCOMPARE(p.box.sandbox.desktop->clipboardClears, ++expected);
    }
}

void TestPanel::everyButtonAndCardIsNamed() {
    ShownPanel p;
    for (IconButton* b : p.panel->buttons()) {
        QCOMPARE(b->accessibleName(), qtTrId(b->objectName().toLatin1().constData()));
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
        QVERIFY(a);
        QCOMPARE(a->text(QAccessible::Name), b->accessibleName());
        QCOMPARE(a->role(), QAccessible::Button);
    }
    for (int i = 0; i < 3; ++i) {
        QVERIFY(p.panel->statusStrip()->card(i)->accessibleName().startsWith(
            p.panel->statusStrip()->card(i)->title()));
        QCOMPARE(p.panel->header()->badge(i)->accessibleName(),
                 p.panel->header()->badge(i)->text());
        QVERIFY(!p.panel->section(i)->accessibleName().isEmpty());
    }
    QCOMPARE(p.panel->section(0)->accessibleName(), qtTrId("panel.service_control"));
    QCOMPARE(p.panel->errorNotice()->accessibleName(), qtTrId("warning.errors"));
    QCOMPARE(p.panel->permissionNotice()->accessibleName(), qtTrId("warning.permission"));
    QCOMPARE(p.panel->progressCard()->accessibleName(), qtTrId("update.progress"));
    QCOMPARE(p.panel->logPanel()->accessibleName(), qtTrId("panel.logs"));
}

void TestPanel::typingChangesLogs() {
    ShownPanel p;
    QPlainTextEdit* editor = p.panel->logPanel()->editor();
    const QString status = p.model->logs();
    const QString summary = p.model->errorSummary();
    editor->setFocus();
    editor->moveCursor(QTextCursor::End);
    QTest::keyClicks(editor, QStringLiteral("error: by hand"));
    QCOMPARE(p.model->logs(), status + QStringLiteral("error: by hand"));
    p.settle();
    QCOMPARE(editor->toPlainText(), p.model->logs());
    // The summary is not recomputed for the user's own text.
    QCOMPARE(p.model->errorSummary(), summary);

    // The next report replaces the typed text.
    QTest::mouseClick(p.button("action.refresh_status"), Qt::LeftButton);
    p.settle();
    QCOMPARE(editor->toPlainText(), status);
}

void TestPanel::modelLogReachesEditor() {
    ShownPanel p;
    QPlainTextEdit* editor = p.panel->logPanel()->editor();
    int changes = 0;
    QObject context;
    connect(p.model.get(), &PanelViewModel::changed, &context, [&] { ++changes; });

    p.model->setLogs(QStringLiteral("line one\nline two"));
    p.settle();
    QCOMPARE(editor->toPlainText(), QStringLiteral("line one\nline two"));
    // Showing the model's text does not write it back.
    QCOMPARE(changes, 1);

    QTextCursor cursor = editor->textCursor();
    cursor.setPosition(5);
    editor->setTextCursor(cursor);
    p.model->setLogs(QStringLiteral("line one\nline two\nnote\n"));
    p.settle();
    QCOMPARE(editor->toPlainText(), QStringLiteral("line one\nline two\nnote\n"));
    QCOMPARE(editor->textCursor().position(), 5);

    p.model->setLogs(QStringLiteral("new"));
    p.settle();
    QCOMPARE(editor->toPlainText(), QStringLiteral("new"));
    QCOMPARE(editor->textCursor().position(), 3);
    QCOMPARE(changes, 3);
    QCOMPARE(p.model->logs(), QStringLiteral("new"));
}

void TestPanel::windowShell() {
    PanelSandbox box;
    QPointer<PanelWindow> window = new PanelWindow(box.makeModel(), {});
    window->resize(400, 300);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCOMPARE(window->windowTitle(), QStringLiteral("ZELTO 本地调试助手"));
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(window->size(), QSize(820, 740));
    QCOMPARE(window->minimumSize(), QSize(820, 740));

    // The strip shows no title, only the three controls, drawn white over the backdrop.
    TitleStrip* strip = window->titleStrip();
    QVERIFY(strip->findChildren<QLabel*>().isEmpty());
    QCOMPARE(strip->findChildren<WindowControl*>().size(), 3);
    QCOMPARE(strip->geometry(), QRect(0, 0, 820, theme::metric::titleStripHeight));
    const QImage image = window->grab().toImage();
    const QColor backdrop = image.pixelColor(400, theme::metric::titleStripHeight / 2);
    QVERIFY(backdrop.blue() > backdrop.red() && backdrop.value() < 90);
    const QRect close = strip->control(WindowControl::Kind::Close)->geometry();
    int white = 0;
    for (int y = close.top(); y <= close.bottom(); ++y)
        for (int x = close.left(); x <= close.right(); ++x)
            white += image.pixelColor(x, y).lightness() > 200 ? 1 : 0;
    QVERIFY(white > 5);
    // The backdrop is drawn by the panel under the strip: the panel covers the whole window.
    QCOMPARE(window->panel()->geometry(), window->rect());

    QVERIFY(
        testing::waitFor([&] { return window->panel()->model().logs().startsWith(kStatusTitle); }));
    QTest::mouseClick(strip->control(WindowControl::Kind::Close), Qt::LeftButton);
    QVERIFY(testing::waitFor([&] { return window.isNull(); }));
}

void TestPanel::newWindowHasItsOwnModel() {
    PanelSandbox box;
    int made = 0;
    const app::ModelFactory factory = [&] {
        ++made;
        return box.makeModel();
    };
    QPointer<PanelWindow> first = app::openPanelWindow(factory);
    QVERIFY(QTest::qWaitForWindowExposed(first));
    first->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(first));
    QTest::keyClick(first, Qt::Key_N, Qt::ControlModifier);
    QCOMPARE(made, 2);

    QPointer<PanelWindow> second;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* pw = qobject_cast<PanelWindow*>(w); pw && pw != first)
            second = pw;
    }
    QVERIFY(second);
    QVERIFY(QTest::qWaitForWindowExposed(second));
    QVERIFY(&first->panel()->model() != &second->panel()->model());
    QVERIFY(testing::waitFor([&] {
        return first->panel()->model().logs().startsWith(kStatusTitle) &&
               second->panel()->model().logs().startsWith(kStatusTitle);
    }));
    first->panel()->model().setLogs(QStringLiteral("only the first"));
    QCoreApplication::processEvents();
    QVERIFY(second->panel()->model().logs().startsWith(kStatusTitle));
    QVERIFY(second->panel()->logPanel()->editor()->toPlainText().startsWith(kStatusTitle));
    first->close();
    second->close();
    QVERIFY(testing::waitFor([&] { return first.isNull() && second.isNull(); }));
}

void TestPanel::closingWindowLeavesJobToFinish() {
    PanelSandbox box;
    auto model = box.makeModel();
    const std::weak_ptr<PanelViewModel> weak = model;
    LogHistory history(*model);
    QPointer<PanelWindow> window = new PanelWindow(std::move(model), {});
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTest::mouseClick(window->panel()->findChild<IconButton*>(QStringLiteral("action.start_all")),
                      Qt::LeftButton);
    window->close();
    QVERIFY(testing::waitFor([&] { return window.isNull(); }));
    // The job still runs to its end and publishes into the model, which goes with its last
    // block.
    QVERIFY(testing::waitFor([&] { return weak.expired(); }));
    QCOMPARE(history.countStartingWith(QStringLiteral("=== 启动完成 ===")), 1);
}

void TestPanel::draggingBackgroundMovesWindow() {
    PanelSandbox box;
    QPointer<PanelWindow> window = new PanelWindow(box.makeModel(), {});
    window->move(100, 100);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QVERIFY(
        testing::waitFor([&] { return window->panel()->model().logs().startsWith(kStatusTitle); }));
    const QPoint start = window->pos();

    // The gap between the header and the status cards is plain background.
    HeroHeader* header = window->panel()->header();
    QWidget* column = header->parentWidget();
    const QPoint gap(header->geometry().center().x(), header->geometry().bottom() + 9);
    QTest::mousePress(column, Qt::LeftButton, {}, gap);
    QTest::mouseMove(column, gap + QPoint(40, 25));
    QTest::mouseRelease(column, Qt::LeftButton, {}, gap + QPoint(40, 25));
    QTRY_COMPARE(window->pos(), start + QPoint(40, 25));

    // A press on a button clicks it and moves nothing.
    const QPoint before = window->pos();
    IconButton* copy = window->panel()->findChild<IconButton*>(QStringLiteral("action.copy_logs"));
    QTest::mousePress(copy, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseMove(copy, QPoint(60, 30));
    QTest::mouseRelease(copy, Qt::LeftButton, {}, QPoint(60, 30));
    QCOMPARE(window->pos(), before);

    // The edges resize rather than move.
    QVERIFY(window->edgesAt(QPoint(2, 300)) == Qt::LeftEdge);
    QVERIFY(window->edgesAt(QPoint(window->width() - 2, window->height() - 2)) ==
            (Qt::RightEdge | Qt::BottomEdge));
    QVERIFY(window->edgesAt(QPoint(300, 300)) == Qt::Edges());
    // The scroll bar's handle (inset 4 from the right) stays clear of the resize band.
    QVERIFY(window->edgesAt(QPoint(window->width() - 5, 300)) == Qt::Edges());
    window->close();
}

void TestPanel::screenshots() {
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    app::installTranslations(QLocale(QLocale::Chinese, QLocale::China));
    PanelSandbox box;
    auto window = std::make_unique<PanelWindow>(box.makeModel(), std::function<void()>{});
    window->setAttribute(Qt::WA_DeleteOnClose, false);
    window->resize(820, 740);
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    // Before the first probe has published.
    apptest::saveScreenshot(window.get(), QStringLiteral("01-fresh-window"));

    PanelViewModel& m = window->panel()->model();
    QVERIFY(testing::waitFor([&] { return m.logs().startsWith(kStatusTitle); }));
    window->resize(900, 1180);
    m.setPermissionHint({});
    m.setMysqlRunning(true);
    m.setPhpWebRunning(true);
    m.setPhpMyAdminRunning(true);
    const QString root = box.sandbox.installedRoot();
    m.setLogs(PanelViewModel::buildLogBlock(
        QStringLiteral("=== 启动完成 ==="),
        {QStringLiteral("MySQL 已启动"), QStringLiteral("PHP Web 已启动 (pid 4242)"),
         QStringLiteral("phpMyAdmin 已启动 (pid 4243)")},
        {QStringLiteral("网站: http://localhost:8000"),
         QStringLiteral("phpMyAdmin: http://localhost:900"),
         QStringLiteral("MySQL: localhost:3306"), QStringLiteral("目录: ") + root}));
    m.updateErrorSummary();
    window->panel()->render();
    QTest::qWait(50);
    apptest::saveScreenshot(window.get(), QStringLiteral("02-everything-running"));

    m.setUpdateProgress(0.425);
    m.setUpdateProgressText(QStringLiteral("正在同步网站文件"));
    m.setLogs(PanelViewModel::buildLogBlock(
        QStringLiteral("=== 更新/修复ZELTO文件 ==="),
        {QStringLiteral("正在同步网站文件"), QStringLiteral("进度: 42%")},
        {QStringLiteral("目录: ") + root}));
    m.updateErrorSummary();
    window->panel()->render();
    QTest::qWait(50);
    apptest::saveScreenshot(window.get(), QStringLiteral("03-update-in-progress"));

    m.setUpdateProgress(1.0);
    m.setMysqlRunning(false);
    m.setPhpMyAdminRunning(false);
    m.setPermissionHint(
        QStringLiteral("权限提示: 无法写入 ") + root +
        QStringLiteral("/runtime/mysql/data\n请到 系统设置 -> 隐私与安全性 -> "
                       "完全磁盘访问，给 Xcode / App 开权限。\n错误: Permission denied"));
    m.setLogs(QStringLiteral("=== 启动中 ===\n无法写入 my_runtime.cnf: Permission denied\n"
                             "mysqld 启动失败: 请查看 runtime/mysql/data/error.log\n"
                             "PHP Web 已启动 (pid 4242)\n目录: ") +
              root);
    m.updateErrorSummary();
    window->panel()->render();
    QTest::qWait(50);
    apptest::saveScreenshot(window.get(), QStringLiteral("04-errors-shown"));

    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    app::installTranslations(QLocale(QLocale::English, QLocale::UnitedStates));
    auto english = std::make_unique<PanelWindow>(box.makeModel(), std::function<void()>{});
    english->setAttribute(Qt::WA_DeleteOnClose, false);
    english->resize(1100, 1000);
    english->show();
    QVERIFY(QTest::qWaitForWindowExposed(english.get()));
    QVERIFY(testing::waitFor(
        [&] { return english->panel()->model().logs().startsWith(kStatusTitle); }));
    english->panel()->render();
    QTest::qWait(50);
    apptest::saveScreenshot(english.get(), QStringLiteral("05-english-wide"));
    QCOMPARE(english->panel()->header()->localeLabel()->text(),
             QStringLiteral("American English (United States)"));
    QLocale::setDefault(previous);
}
