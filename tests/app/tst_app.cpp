// The window, the main panel and its components on the offscreen platform. Every program the
// panel starts is a script in the test's temporary directory (pkill among them), so the tests
// never touch servers they did not start.
#include "app/adaptive_grid_layout.h"
#include "app/application.h"
#include "app/cards.h"
#include "app/hero_header.h"
#include "app/icon_button.h"
#include "app/icons.h"
#include "app/log_panel.h"
#include "app/main_panel.h"
#include "app/panel_window.h"
#include "app/qt_desktop.h"
#include "app/server_logs_window.h"
#include "app/theme.h"
#include "app/wrapping_label.h"
#include "backup/snapshot_store.h"
#include "core/log_follower.h"
#include "services/service_watch.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

const QString kStatusTitle = u"=== 服务状态 ==="_s;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A sandbox whose installed root is valid, whose pkill is a script that records its arguments, and
// whose update server is a closed local port (nothing listens on the discard port, so a download
// fails at once).
struct PanelSandbox {
    PanelSandbox() {
        const QString bin = sandbox.base() + u"/bin/"_s;
        testing::writeScript(bin + u"pkill"_s,
                             u"echo \"$@\" >> '%1/pkill.calls'\nexit 1"_s.arg(sandbox.base()));
        testing::writeScript(bin + u"rsync"_s, u"exit 1"_s);
        sandbox.tools = SystemTools::of(bin + u"pkill"_s, bin + u"rsync"_s);
        testing::makeValidRoot(sandbox.installedRoot());
    }
    std::shared_ptr<PanelViewModel>
    makeModel(const QUrl& updateUrl = QUrl(u"https://127.0.0.1:9/zelto-update.zip"_s)) const {
        PanelConfig config;
        config.updateZipBaseURL = updateUrl;
        config.downloadStallSeconds = 1;
        config.syncTimeoutSeconds = 10;
        return sandbox.makeModel(config);
    }
    // How many times a tool (pkill) was started.
    int toolCalls(const QString& tool) const {
        return int(testing::readFile(sandbox.base() + u'/' + tool + u".calls"_s).count('\n'));
    }
    TestSandbox sandbox;
};

// A panel on screen over a sandboxed model, after its first status probe.
struct ShownPanel {
    explicit ShownPanel(QSize size = QSize(900, 900), const QUrl& updateUrl = {}) {
        model = updateUrl.isEmpty() ? box.makeModel() : box.makeModel(updateUrl);
        panel = std::make_unique<MainPanel>(model);
        panel->resize(size);
        panel->show();
        QVERIFY(QTest::qWaitForWindowExposed(panel.get()));
        QVERIFY(testing::waitFor([&] { return model->logs().startsWith(kStatusTitle); }));
        // The tests set the published fields themselves: the live status, which would put
        // the probed ones back on its next beat (sooner or later on a busy machine), rests.
        model->setLiveStatus(false);
        panel->render();
    }
    IconButton* button(const QString& key) const { return panel->findChild<IconButton*>(key); }
    bool shows(const QWidget* w) const { return w->isVisibleTo(panel.get()); }
    // Lets queued blocks, the coalesced repaint and then the layouts run.
    void settle() const {
        QCoreApplication::processEvents();
        panel->render();
        QCoreApplication::processEvents();
    }

    PanelSandbox box;
    std::shared_ptr<PanelViewModel> model;
    std::unique_ptr<MainPanel> panel;
};

// Runs the event loop until the layouts have settled: every widget under top keeps its
// geometry over a round of posted events and layout requests. False when they never settle.
bool settleLayout(QWidget* top) {
    const auto geometries = [top] {
        QList<QRect> g;
        for (const QWidget* w : top->findChildren<QWidget*>())
            g << (w->isVisible() ? w->geometry() : QRect());
        return g;
    };
    QList<QRect> previous;
    for (int round = 0; round < 200; ++round) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        QCoreApplication::processEvents();
        QList<QRect> now = geometries();
        if (round > 0 && now == previous)
            return true;
        previous = std::move(now);
        QTest::qWait(5);
    }
    return false;
}

// Every text the log held, in order, without repeats.
struct LogHistory {
    explicit LogHistory(PanelViewModel& model) {
        QObject::connect(&model, &PanelViewModel::changed, &context, [this, &model] {
            if (texts.isEmpty() || texts.last() != model.logs())
                texts << model.logs();
        });
    }
    int countStartingWith(const QString& prefix) const {
        return int(std::count_if(texts.begin(), texts.end(),
                                 [&](const QString& t) { return t.startsWith(prefix); }));
    }
    QObject context;
    QStringList texts;
};

// A snapshot as the backup jobs leave it: its description and a dump of dumpBytes bytes.
void writeSnapshot(const QString& backupsDir, const QString& name, const QDateTime& created,
                   backup::Reason reason, int dumpBytes) {
    backup::SnapshotInfo info;
    info.name = name;
    info.created = created;
    info.reason = reason;
    const QString path = backupsDir + u'/' + name + u'/';
    testing::writeFile(path + backup::kDescriptionFileName, backup::descriptionJson(info));
    testing::writeFile(path + backup::kDumpFileName, QByteArray(dumpBytes, 'x'));
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

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        // Set up as the program does (style, palette, names).
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(u"Zelto"_s);
        QCoreApplication::setApplicationName(u"Zelto-Panel-Tests"_s);
        app::applyDarkTheme(*qApp);
    }
    void init() { app::installTranslations(QLocale(QLocale::English, QLocale::UnitedStates)); }

    // ---- The building blocks on their own.

    void buttonTitleFits_data() {
        QTest::addColumn<QString>("title");
        // Of the title's natural width; below 1 it is shrunk, and at 0 (the narrowest button)
        // it is too long even shrunk.
        QTest::addColumn<double>("widthFactor");
        QTest::newRow("fits") << u"Copy log"_s << 1.2;
        QTest::newRow("fits when shrunk") << u"Update / repair files"_s << 0.9;
        QTest::newRow("too long even shrunk")
            << u"Update or repair every file of the site from the archive"_s << 0.0;
        QTest::newRow("Chinese, too long") << u"更新并修复网站的全部文件然后再检查一次"_s << 0.0;
    }
    void buttonTitleFits() {
        QFETCH(QString, title);
        QFETCH(double, widthFactor);
        IconButton button(u"copy_logs"_s, title, false);
        const QFontMetricsF fm(button.font());
        const int overhead = 2 * 14 + 28 + 10;
        const int width = widthFactor > 0
                              ? overhead + int(std::ceil(fm.horizontalAdvance(title) * widthFactor))
                              : 170;
        const IconButton::TitleFit fit = button.fitTitle(width);
        const bool elided = widthFactor == 0;
        QCOMPARE(fit.elided, elided);
        if (widthFactor < 1) // shrunk, but no further than 85 %
            QVERIFY(fit.scale < 1.0 && fit.scale >= 0.85 - 1e-9);
        else
            QCOMPARE(fit.scale, 1.0);
        if (elided) {
            QCOMPARE(fit.scale, 0.85);
            QVERIFY(fit.text.endsWith(QChar(0x2026)));
        } else {
            QCOMPARE(fit.text, title);
        }
        // One line that fits beside the icon: the height never grows, whatever the title, and
        // the accessible name keeps the whole title.
        QVERIFY(!fit.text.contains(u'\n'));
        QVERIFY(fm.horizontalAdvance(fit.text) * fit.scale <= width - overhead + 0.5);
        QCOMPARE(button.sizeHint().height(), 46 + 2 * 10);
        QCOMPARE(button.accessibleName(), title);
    }

    void warningBodyWrapsAndIsNeverCut() {
        const QString path =
            u"/home/someone/"_s + QString(200, u'x') + u"/Zelto-panel/runtime/config"_s;
        WarningCard card(u"Permission notice"_s, QColor(Qt::red));
        card.setBody(u"权限提示: 无法写入 "_s + path + u"\n错误: denied"_s);
        WrappingLabel* body = card.bodyLabel();
        QCOMPARE(card.body(), body->text());
        // An unbroken path wraps inside a word rather than running past the edge, and the card
        // grows with its body.
        const int oneLine = QFontMetrics(body->font()).lineSpacing();
        QVERIFY(body->lineCountForWidth(300) > 3);
        QVERIFY(body->lineCountForWidth(300) > body->lineCountForWidth(1200));
        QVERIFY(body->heightForWidth(300) >= body->lineCountForWidth(300) * (oneLine - 1));
        QVERIFY(card.hasHeightForWidth());
        QVERIFY(card.heightForWidth(320) > card.heightForWidth(1400));
    }

    void localeDisplayName() {
        QCOMPARE(HeroHeader::localeDisplayName(QLocale(QLocale::English, QLocale::UnitedStates)),
                 u"American English (United States)"_s);
        QCOMPARE(HeroHeader::localeDisplayName(QLocale(QLocale::German, QLocale::Germany)),
                 u"Deutsch (Deutschland)"_s);
        QCOMPARE(HeroHeader::localeDisplayName(QLocale::c()), QString());
    }

    void catalogsHaveEveryKey() {
        const QStringList keys =
            u"app.title app.subtitle app.ready app.attention status.mysql status.php_web "
            "status.phpmyadmin common.running common.stopped update.progress warning.errors "
            "warning.permission panel.logs panel.logs.sub panel.service_control "
            "panel.service_control.sub panel.directory_permission "
            "panel.directory_permission.sub panel.site_logs panel.site_logs.sub "
            "action.start_all action.stop_all action.refresh_status action.choose_directory "
            "action.open_directory action.privacy_settings action.open_website "
            "action.database_admin action.start_phpmyadmin action.update_repair "
            "action.undo_update action.copy_logs panel.database_backups panel.database_backups.sub "
            "action.backup_database action.restore_database action.open_backups "
            "backup.drop_others backup.none backup.last backup.never action.php_debugging "
            "status.debugging status.stopped_unexpectedly window.close "
            "tray.show_window tray.keep_running tray.start_at_login tray.start_stack_at_login "
            "tray.quit tray.all_running tray.some_running tray.none_running tray.busy tray.kept "
            "notify.stopped_unexpectedly notify.no_log_lines notify.run_ended "
            "window.minimize window.zoom"_s.split(u' ');
        const auto texts = [&] {
            QStringList t;
            for (const QString& key : keys)
                t << qtTrId(key.toLatin1().constData());
            return t;
        };
        // Qt's own texts: the folder chooser and the log editor's context menu.
        const auto qtTexts = [] {
            QPlainTextEdit editor(u"text"_s);
            editor.selectAll();
            std::unique_ptr<QMenu> menu(editor.createStandardContextMenu());
            QStringList t{QCoreApplication::translate("QFileDialog", "Look in:")};
            for (QAction* action : menu->actions())
                t << action->text().section(u'\t', 0, 0);
            return t;
        };
        const QStringList qtEnglish = qtTexts();
        QVERIFY(qtEnglish.contains(u"&Copy"_s));
        QVERIFY(app::installTranslations(QLocale(QLocale::Chinese, QLocale::China)));
        QCOMPARE(qtTrId("app.title"), u"ZELTO 本地调试助手"_s);
        const QStringList qtChinese = qtTexts();
        QVERIFY(qtChinese.contains(u"查找范围："_s));
        QVERIFY(qtChinese.contains(u"复制(&C)"_s));
        QCOMPARE(WindowControl(WindowControl::Kind::Close).accessibleName(), u"关闭"_s);
        const QStringList chinese = texts();
        // Any Chinese locale reads Chinese.
        QVERIFY(app::installTranslations(QLocale(QLocale::Chinese, QLocale::Taiwan)));
        QCOMPARE(texts(), chinese);
        QVERIFY(app::installTranslations(QLocale(QLocale::French, QLocale::France)));
        QCOMPARE(qtTexts(), qtEnglish);
        const QStringList english = texts();
        for (int i = 0; i < keys.size(); ++i) {
            QVERIFY2(chinese[i] != keys[i] && english[i] != keys[i], qPrintable(keys[i]));
            // English differs from Chinese except for the product names.
            if (!english[i].contains(u"MySQL"_s) && !english[i].contains(u"phpMyAdmin"_s))
                QVERIFY2(english[i] != chinese[i], qPrintable(keys[i]));
        }
        // A key the catalog lacks shows itself.
        QCOMPARE(qtTrId("no.such.key"), u"no.such.key"_s);
    }

    // Every key the catalogs hold is one lupdate finds in the sources (so a catalog update keeps
    // it), and every key the sources use is in the catalogs.
    void lupdateFindsEveryCatalogKey() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString source = qEnvironmentVariable("ZELTO_SOURCE_DIR") + u"/src"_s;
        const QString found = dir.filePath(u"found.ts"_s);
        QProcess lupdate;
        lupdate.setProcessChannelMode(QProcess::MergedChannels);
        lupdate.start(QStringLiteral(ZELTO_LUPDATE),
                      {u"-silent"_s, u"-recursive"_s, source, u"-ts"_s, found});
        QVERIFY(lupdate.waitForFinished(120000));
        QVERIFY2(lupdate.exitStatus() == QProcess::NormalExit && lupdate.exitCode() == 0,
                 lupdate.readAll().constData());
        const auto ids = [](const QString& path) {
            QSet<QString> set;
            const QString text = QString::fromUtf8(testing::readFile(path));
            static const QRegularExpression id(u"<message id=\"([^\"]+)\""_s);
            for (const QRegularExpressionMatch& m : id.globalMatch(text))
                set.insert(m.captured(1));
            return set;
        };
        const QSet<QString> inSources = ids(found);
        QVERIFY(inSources.size() > 30);
        for (const QString& catalog : {u"zelto_zh_CN.ts"_s, u"zelto_en.ts"_s}) {
            const QSet<QString> inCatalog = ids(source + u"/app/translations/"_s + catalog);
            QCOMPARE(QStringList((inCatalog - inSources).values()), QStringList());
            QCOMPARE(QStringList((inSources - inCatalog).values()), QStringList());
        }
    }

    void iconsRender() {
        for (const QString& name :
             u"start_all stop_all refresh_status choose_directory open_directory privacy_settings "
             "open_website database_admin phpmyadmin_start update_repair undo_update "
             "copy_logs backup_database restore_database server_logs"_s.split(u' ')) {
            const QImage image = icons::render(name, QSize(28, 28), 2.0);
            QCOMPARE(image.size(), QSize(56, 56));
            // Opaque in the middle (the tile), transparent at the very corner (its rounding).
            QVERIFY2(qAlpha(image.pixel(28, 28)) == 255, qPrintable(name));
            QVERIFY2(qAlpha(image.pixel(0, 0)) == 0, qPrintable(name));
        }
        QVERIFY(icons::render(u"no_such_icon"_s, QSize(28, 28), 1.0).isNull());
    }

    void privacySettingsCommand_data() {
        QTest::addColumn<QString>("desktop");
        QTest::addColumn<QString>("installed");
        QTest::addColumn<QString>("command");
        const QString gnome = u"gnome-control-center"_s;
        const QString gnomePrivacy = u"/usr/bin/gnome-control-center privacy"_s;
        QTest::newRow("GNOME") << u"GNOME"_s << gnome << gnomePrivacy;
        QTest::newRow("Ubuntu's GNOME") << u"ubuntu:GNOME"_s << gnome << gnomePrivacy;
        QTest::newRow("GNOME without its settings") << u"GNOME"_s << QString() << QString();
        QTest::newRow("KDE") << u"KDE"_s << u"systemsettings"_s
                             << u"/usr/bin/systemsettings kcm_recentFiles"_s;
        QTest::newRow("XFCE") << u"XFCE"_s << gnome << QString();
    }
    void privacySettingsCommand() {
        QFETCH(QString, desktop);
        QFETCH(QString, installed);
        QFETCH(QString, command);
        const auto find = [&](const QString& name) {
            return name == installed ? u"/usr/bin/"_s + name : QString();
        };
        QCOMPARE(QtDesktop::privacySettingsCommand(desktop, find).join(u' '), command);
    }

    // ---- The main panel over a sandboxed model.

    void firstShowAsksForStatusOnce() {
        PanelSandbox box;
        auto model = box.makeModel();
        MainPanel panel(model);
        // Before the first show: everything stopped, nothing reported or asked, nothing disabled.
        QCOMPARE(panel.header()->readinessLabel()->text(), qtTrId("app.ready"));
        for (QWidget* w : std::initializer_list<QWidget*>{
                 panel.progressCard(), panel.permissionNotice(), panel.errorNotice()})
            QVERIFY(!w->isVisibleTo(&panel));
        QVERIFY(panel.logPanel()->editor()->toPlainText().isEmpty());
        QCOMPARE(int(panel.buttons().size()), 17);
        for (IconButton* b : panel.buttons())
            QVERIFY(b->isEnabled());
        QVERIFY(panel.minimumWidth() >= 820 && panel.minimumHeight() >= 740);
        QVERIFY(!panel.firstStatusRequested());
        QCOMPARE(model->statusPublications(), 0u);

        // The snapshots are listed with the first status.
        writeSnapshot(model->backupsDir(), u"kept"_s, QDateTime::currentDateTime(),
                      backup::Reason::ByHand, 0);
        QTest::qWait(50);
        QVERIFY(model->snapshots().isEmpty());

        panel.resize(900, 900);
        panel.show();
        QVERIFY(testing::waitFor([&] { return model->logs().startsWith(kStatusTitle); }));
        QVERIFY(panel.firstStatusRequested());
        QVERIFY(testing::waitFor([&] { return model->snapshotNames() == QStringList{u"kept"_s}; }));
        // Repaints and re-renders ask for nothing more.
        panel.update();
        model->setLogs(u"x"_s);
        QTest::qWait(300);
        QCOMPARE(model->statusPublications(), 1u);
        // On screen, the status follows the services by itself; hidden, it rests.
        QVERIFY(model->isLiveStatusOn());
        panel.hide();
        QVERIFY(!model->isLiveStatusOn());
    }

    void progressCardVisibility_data() {
        QTest::addColumn<double>("progress");
        QTest::addColumn<QString>("step");
        QTest::addColumn<QString>("line"); // empty: hidden
        const QString step = u"正在下载更新包"_s;
        QTest::newRow("0") << 0.0 << step << QString();
        QTest::newRow("0.001") << 0.001 << step << u"正在下载更新包 0%"_s;
        QTest::newRow("0.05") << 0.05 << step << u"正在下载更新包 5%"_s;
        QTest::newRow("0.425") << 0.425 << step << u"正在下载更新包 42%"_s;
        QTest::newRow("0.999") << 0.999 << step << u"正在下载更新包 99%"_s;
        QTest::newRow("1.0") << 1.0 << step << QString();
        QTest::newRow("below 0") << -0.2 << step << QString();
        QTest::newRow("above 1") << 1.5 << step << QString();
        QTest::newRow("not a number") << kNaN << step << QString();
        // Far wider than the window, without a space to break at.
        const QString longStep = u"正在同步网站文件"_s + u"/站点目录"_s.repeated(60);
        QTest::newRow("long step text") << 0.5 << longStep << longStep + u" 50%"_s;
    }
    void progressCardVisibility() {
        QFETCH(double, progress);
        QFETCH(QString, step);
        QFETCH(QString, line);
        ShownPanel p;
        ProgressCard* card = p.panel->progressCard();
        p.model->setUpdateProgressText(step);
        p.model->setUpdateProgress(progress);
        p.settle();
        QCOMPARE(p.shows(card), !line.isEmpty());
        if (line.isEmpty())
            return;
        QCOMPARE(card->lineText(), line);
        const QProgressBar* bar = card->bar();
        QCOMPARE(double(bar->value() - bar->minimum()) / (bar->maximum() - bar->minimum()),
                 std::round(progress * 10000) / 10000);
        // In the third section, under its buttons; the line wraps inside the card rather than
        // widening the page past the view.
        QVERIFY(card->parentWidget() == p.panel->section(2));
        QVERIFY(card->geometry().top() > p.panel->buttons().back()->geometry().bottom());
        QCOMPARE(p.panel->scrollArea()->widget()->width(),
                 p.panel->scrollArea()->viewport()->width());
        QVERIFY(card->geometry().right() < p.panel->section(2)->width());
    }

    void notices_data() {
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("errors");
        const QString hint = u"权限提示: 目录不存在或不可访问 - /x"_s;
        const QString errors = u"mysqld: error 13\nphp: failed"_s;
        QTest::newRow("none") << QString() << QString();
        QTest::newRow("a single space") << u" "_s << QString();
        QTest::newRow("a hint") << hint << QString();
        QTest::newRow("errors") << QString() << errors;
        QTest::newRow("both") << hint << errors;
    }
    void notices() {
        QFETCH(QString, hint);
        QFETCH(QString, errors);
        ShownPanel p;
        WarningCard* permission = p.panel->permissionNotice();
        WarningCard* error = p.panel->errorNotice();
        // Both notices up first (the sandbox root lacks runtime/config: the probe reported it),
        // then each appears, stays or goes with the model.
        p.model->setErrorSummary(u"earlier"_s);
        p.settle();
        QVERIFY(p.shows(permission) && p.shows(error));
        p.model->setPermissionHint(hint);
        p.model->setErrorSummary(errors);
        p.settle();

        const bool ready = hint.isEmpty();
        QLabel* line = p.panel->header()->readinessLabel();
        QCOMPARE(line->text(), qtTrId(ready ? "app.ready" : "app.attention"));
        QCOMPARE(labelColor(line), ready ? theme::text::ready() : theme::text::attention());
        QCOMPARE(p.shows(permission), !ready);
        QCOMPARE(permission->body(), hint);
        QVERIFY(permission->parentWidget() == p.panel->section(2));

        QCOMPARE(p.shows(error), !errors.isEmpty());
        const int sectionBottom = p.panel->section(3)->geometry().bottom();
        const int logTop = p.panel->logPanel()->geometry().top();
        if (errors.isEmpty()) {
            // The column closes up: the log follows the section at the usual gap.
            QCOMPARE(logTop - sectionBottom - 1, theme::metric::columnGap);
        } else {
            QCOMPARE(error->body(), errors);
            QVERIFY(error->geometry().top() > sectionBottom && error->geometry().bottom() < logTop);
        }
    }

    void badgesAndCardsFollowStatus() {
        ShownPanel p;
        const char* titles[3] = {"status.mysql", "status.php_web", "status.phpmyadmin"};
        // Each service running alone, then none: only its badge and card follow.
        for (int running : {0, 1, 2, -1}) {
            p.model->setServiceRunning(Service::Database, running == 0);
            p.model->setServiceRunning(Service::Site, running == 1);
            p.model->setServiceRunning(Service::PhpMyAdmin, running == 2);
            p.settle();
            for (int i = 0; i < 3; ++i) {
                const bool on = i == running;
                Badge* badge = p.panel->header()->badge(i);
                QCOMPARE(badge->ok(), on);
                QCOMPARE(badge->cardStyle()->fill, theme::card::badge(on).fill);
                QCOMPARE(badge->text(), qtTrId(titles[i]) + u"  "_s + runningText(on));
                StatCard* card = p.panel->statusStrip()->card(i);
                QCOMPARE(card->title(), qtTrId(titles[i]));
                QCOMPARE(card->value(), runningText(on));
                QCOMPARE(card->valueColor(), on ? theme::color::green : theme::color::gray);
            }
        }
    }

    void gridsAdaptToWidth_data() {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("buttonColumns");
        QTest::addColumn<int>("gridCRows");
        QTest::addColumn<int>("statusColumns");
        QTest::newRow("smallest window") << 820 << 4 << 2 << 4;
        QTest::newRow("one short of five buttons") << 965 << 4 << 2 << 4;
        QTest::newRow("five buttons") << 966 << 5 << 2 << 4;
        QTest::newRow("one short of five cards") << 995 << 5 << 2 << 4;
        QTest::newRow("five cards") << 996 << 5 << 2 << 5;
        QTest::newRow("wide") << 1500 << 7 << 1 << 7;
    }
    void gridsAdaptToWidth() {
        QFETCH(int, width);
        QFETCH(int, buttonColumns);
        QFETCH(int, gridCRows);
        QFETCH(int, statusColumns);
        ShownPanel p(QSize(width, 800));
        p.settle();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(p.panel->buttonGrid(i)->currentColumnCount(), buttonColumns);
        QSet<int> rows;
        for (IconButton* b : p.panel->buttons()) {
            if (!p.shows(b))
                continue; // the undo button, without an update to undo
            if (b->parentWidget() == p.panel->section(2))
                rows.insert(b->geometry().top());
            QVERIFY(b->width() >= 170);
            // Inside its section and clear of its neighbours.
            QVERIFY(b->parentWidget()->rect().contains(b->geometry()));
            for (IconButton* other : p.panel->buttons())
                QVERIFY(other == b || !p.shows(other) ||
                        other->parentWidget() != b->parentWidget() ||
                        !other->geometry().intersects(b->geometry()));
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

    void buttonsCallTheirOperation_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("desktop"); // what the desktop was asked to do, in order
        QTest::addColumn<bool>("probes");     // whether the status was refreshed into the log
        QTest::newRow("copy log") << u"action.copy_logs"_s << u"copy typed by hand"_s << false;
        QTest::newRow("website") << u"action.open_website"_s << u"open http://localhost:8000"_s
                                 << false;
        QTest::newRow("directory")
            << u"action.open_directory"_s << u"open file://<root>/runtime"_s << false;
        QTest::newRow("privacy") << u"action.privacy_settings"_s << u"privacy"_s << false;
        QTest::newRow("choose, cancelled")
            << u"action.choose_directory"_s << u"choose 选择 / 请选择 Zelto-panel 目录"_s << false;
        QTest::newRow("refresh") << u"action.refresh_status"_s << QString() << true;
        // phpMyAdmin is not running in the sandbox: both its buttons try a start, refresh the
        // status and open its address.
        const QString admin = u"open http://localhost:900"_s;
        QTest::newRow("database admin") << u"action.database_admin"_s << admin << true;
        QTest::newRow("start phpMyAdmin") << u"action.start_phpmyadmin"_s << admin << true;
    }
    void buttonsCallTheirOperation() {
        QFETCH(QString, key);
        QFETCH(QString, desktop);
        QFETCH(bool, probes);
        ShownPanel p;
        const DesktopRecorder& d = *p.box.sandbox.desktop;
        p.model->setLogs(u"typed by hand"_s);
        const quint64 reports = p.model->statusPublications();
        QVERIFY(p.button(key));
        QTest::mouseClick(p.button(key), Qt::LeftButton, {}, QPoint(8, 8)); // a corner
        p.settle();
        // The refresh, phpMyAdmin's opening and the choice publish from a worker's probe (and
        // phpMyAdmin's address is opened then): wait for it.
        if (probes)
            QVERIFY(testing::waitFor([&] { return p.model->statusPublications() > reports; }));

        QStringList seen;
        for (const QUrl& url : d.openedUrls)
            seen << u"open "_s + url.toString();
        for (int i = 0; i < d.clipboardClears; ++i)
            seen << u"copy "_s + d.clipboard.value_or(QString());
        for (int i = 0; i < d.privacyOpens; ++i)
            seen << u"privacy"_s;
        for (int i = 0; i < d.chooserPrompts.size(); ++i)
            seen << u"choose "_s + d.chooserPrompts[i] + u" / "_s + d.chooserMessages[i];
        QCOMPARE(seen.join(u'\n').replace(p.box.sandbox.installedRoot(), u"<root>"_s), desktop);
        QTest::qWait(50);
        QCOMPARE(p.model->statusPublications(), reports + (probes ? 1 : 0));
        if (probes)
            QVERIFY(p.model->logs().startsWith(kStatusTitle));
        else
            QCOMPARE(p.model->logs(), u"typed by hand"_s);
        QCOMPARE(p.panel->logPanel()->editor()->toPlainText(), p.model->logs());
    }

    void startAndStopAll_data() {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QString>("last");
        QTest::newRow("start all")
            << u"action.start_all"_s << u"=== 启动中 ===\n正在准备目录和服务"_s
            << u"=== 启动完成 ==="_s;
        QTest::newRow("stop all") << u"action.stop_all"_s << u"=== 停止中 ==="_s
                                  << u"=== 停止完成 ==="_s;
    }
    void startAndStopAll() {
        QFETCH(QString, key);
        QFETCH(QString, first);
        QFETCH(QString, last);
        ShownPanel p;
        LogHistory history(*p.model);
        testing::OutcomeRecorder outcomes(*p.model);
        QTest::mouseClick(p.button(key), Qt::LeftButton);
        QVERIFY(outcomes.waitFor());
        QVERIFY(outcomes.last().report.startsWith(last));
        p.settle();
        QCOMPARE(history.countStartingWith(first), 1);
        QCOMPARE(history.countStartingWith(last), 1);
        QCOMPARE(p.panel->logPanel()->editor()->toPlainText(), p.model->logs());
    }

    void updateButton() {
        // An update server that takes the connection and never answers: the run stays at the
        // download until the stall limit ends it.
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost));
        ShownPanel p(QSize(900, 900),
                     QUrl(u"https://127.0.0.1:%1/zelto-update.zip"_s.arg(silent.serverPort())));
        LogHistory history(*p.model);
        double firstProgress = 0;
        QObject context;
        connect(p.model.get(), &PanelViewModel::changed, &context, [&] {
            firstProgress = firstProgress > 0 ? firstProgress : p.model->updateProgress();
        });
        ShowCounter cardShows(p.panel->progressCard());
        testing::OutcomeRecorder outcomes(*p.model);
        QTest::mouseClick(p.button(u"action.update_repair"_s), Qt::LeftButton);
        QVERIFY(testing::waitFor([&] { return p.model->updateProgress() > 0; }));
        p.settle();
        QVERIFY(p.shows(p.panel->progressCard()));
        QVERIFY(p.panel->progressCard()->lineText().endsWith(
            u" %1%"_s.arg(ProgressCard::percent(p.model->updateProgress()))));
        // The stalled download fails; the run still ends at 1.0 and the card goes with it.
        QVERIFY(outcomes.waitFor());
        QVERIFY(!outcomes.last().succeeded);
        QCOMPARE(p.model->updateProgress(), 1.0);
        p.settle();
        QCOMPARE(firstProgress, 0.05);
        QCOMPARE(history.countStartingWith(u"=== 更新/修复ZELTO文件 ===\n正在下载更新包..."_s), 1);
        QVERIFY(p.model->logs().startsWith(u"=== 更新/修复完成 ==="_s));
        QCOMPARE(cardShows.shows, 1);
        QVERIFY(!p.shows(p.panel->progressCard()));
    }

    // The database backups section in both languages, before any snapshot exists.
    void backupSectionWithoutSnapshots_data() {
        QTest::addColumn<bool>("chinese");
        QTest::addColumn<QStringList>("titles");
        QTest::newRow("English") << false
                                 << QStringList{u"Back up database now"_s, u"Restore database…"_s,
                                                u"Open backups folder"_s};
        QTest::newRow("Chinese") << true
                                 << QStringList{u"立即备份数据库"_s, u"恢复数据库…"_s,
                                                u"打开备份文件夹"_s};
    }
    void backupSectionWithoutSnapshots() {
        QFETCH(bool, chinese);
        QFETCH(QStringList, titles);
        if (chinese)
            QVERIFY(app::installTranslations(QLocale(QLocale::Chinese, QLocale::China)));
        ShownPanel p;
        p.settle();
        GroupedPanel* section = p.panel->section(3);
        QCOMPARE(section->accessibleName(), section->title());
        QCOMPARE(section->title(), chinese ? u"数据库备份"_s : u"Database backups"_s);
        const char* keys[] = {"action.backup_database", "action.restore_database",
                              "action.open_backups"};
        for (int i = 0; i < 3; ++i) {
            IconButton* b = p.button(QLatin1String(keys[i]));
            QVERIFY2(b && b->parentWidget() == section && p.shows(b), keys[i]);
            QCOMPARE(b->accessibleName(), titles[i]);
        }
        QCOMPARE(p.panel->lastBackupLabel()->text(), qtTrId("backup.never"));
        QCOMPARE(p.panel->lastBackupLabel()->accessibleName(), qtTrId("backup.never"));

        // The menu opens under the button with one disabled item, and nothing to restore.
        QTest::mouseClick(p.button(u"action.restore_database"_s), Qt::LeftButton);
        QMenu* menu = p.panel->restoreMenu();
        QVERIFY(menu->isVisible());
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions()[0]->text(), chinese ? u"还没有快照"_s : u"No snapshots yet"_s);
        QVERIFY(!menu->actions()[0]->isEnabled());
        menu->close();
    }

    // Snapshots made by hand in the backups directory: the menu lists them newest first,
    // choosing one restores it, and the last-backup line names the newest.
    void restoreMenuListsSnapshots() {
        ShownPanel p;
        const QString dir = p.model->backupsDir();
        const QDate day(2026, 12, 9);
        writeSnapshot(dir, u"b-middle"_s, QDateTime(day, QTime(9, 30)),
                      backup::Reason::BeforeUpdate, 0);
        writeSnapshot(dir, u"c-oldest"_s, QDateTime(day.addDays(-1), QTime(23, 5)),
                      backup::Reason::BeforeUndo, 0);
        writeSnapshot(dir, u"a-newest"_s, QDateTime(day, QTime(18, 5, 40)), backup::Reason::ByHand,
                      2048);
        p.model->refreshSnapshotsInBackground();
        QVERIFY(testing::waitFor([&] { return p.model->snapshots().size() == 3; }));
        p.settle();
        QCOMPARE(p.panel->lastBackupLabel()->text(), u"Last backup: 2026-12-09 18:05 · By hand"_s);

        QTest::mouseClick(p.button(u"action.restore_database"_s), Qt::LeftButton);
        QMenu* menu = p.panel->restoreMenu();
        QVERIFY(menu->isVisible());
        QStringList items;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(menu);
        const QList<QAction*> actions = menu->actions();
        QCOMPARE(a->childCount(), actions.size());
        for (int i = 0; i < actions.size(); ++i) {
            if (actions[i]->isSeparator())
                continue;
            items << actions[i]->text();
            QCOMPARE(a->child(i)->text(QAccessible::Name), actions[i]->text());
        }
        QCOMPARE(items, (QStringList{u"2026-12-09 18:05 · By hand · 2.0 KB"_s,
                                     u"2026-12-09 09:30 · Before update · 0.0 KB"_s,
                                     u"2026-12-08 23:05 · Before undo · 0.0 KB"_s,
                                     u"Also drop databases created since"_s}));
        QAction* dropOthers = p.panel->dropOthersAction();
        QVERIFY(actions.last() == dropOthers && dropOthers->isCheckable());
        QVERIFY(!dropOthers->isChecked());

        // The sandbox has no database: the restore of the chosen snapshot fails, after naming it.
        // Dropping the newer databases is asked for each time anew.
        testing::OutcomeRecorder outcomes(*p.model);
        LogHistory history(*p.model);
        dropOthers->setChecked(true);
        actions[1]->trigger();
        QVERIFY(!dropOthers->isChecked());
        QVERIFY(outcomes.waitFor());
        QCOMPARE(outcomes.last().operation, Operation::RestoreDatabase);
        QVERIFY(!outcomes.last().succeeded);
        QVERIFY(history.texts.join(u'\n').contains(u"快照: b-middle"_s));
        menu->close();
    }

    // The undo button is there only while a previous generation of the site is kept.
    void undoButtonFollowsThePreviousGeneration() {
        ShownPanel p;
        IconButton* undo = p.button(u"action.undo_update"_s);
        QVERIFY(undo && !p.shows(undo));
        const QString generation = p.model->previousSiteGenerationDir();
        QVERIFY(QDir().mkpath(generation));
        p.model->refreshStatus();
        p.settle();
        QVERIFY(p.shows(undo));
        QCOMPARE(undo->accessibleName(), qtTrId("action.undo_update"));
        QVERIFY(QDir(generation).removeRecursively());
        p.model->refreshStatus();
        p.settle();
        QVERIFY(!p.shows(undo));
    }

    // The debugging switch shows what the runtime says, also when another panel switched it;
    // pressed, it shows on at once and goes back off when the switch fails (no PHP here).
    void debuggingSwitchFollowsTheRuntime() {
        ShownPanel p;
        IconButton* debugging = p.button(u"action.php_debugging"_s);
        QVERIFY(debugging && debugging->isCheckable() && !debugging->isChecked());
        QCOMPARE(debugging->accessibleName(), qtTrId("action.php_debugging"));
        StatCard* site = p.panel->statusStrip()->card(serviceIndex(Service::Site));
        testing::writeFile(p.model->phpDebuggingMarkerPath(), "xdebug\n");
        p.model->refreshStatus();
        p.settle();
        QVERIFY(debugging->isChecked());
        QCOMPARE(site->value(), qtTrId("status.debugging").arg(runningText(false)));
        QVERIFY(QFile::remove(p.model->phpDebuggingMarkerPath()));
        // A database that a start brought up is gone: its card says when, in red.
        services::recordServiceUp(p.model->cfgDir(), Service::Database, 0);
        p.model->refreshStatus();
        p.settle();
        QVERIFY(!debugging->isChecked());
        StatCard* database = p.panel->statusStrip()->card(serviceIndex(Service::Database));
        const std::optional<UnexpectedStop> stop = p.model->unexpectedStop(Service::Database);
        QVERIFY(stop);
        QCOMPARE(database->value(),
                 qtTrId("status.stopped_unexpectedly")
                     .arg(runningText(false),
                          QLocale().toString(stop->at.toLocalTime().time(), QLocale::ShortFormat)));
        QCOMPARE(database->valueColor(), theme::color::red);

        QTest::mouseClick(debugging, Qt::LeftButton);
        // The worker's end comes through the event loop, not before it runs again.
        QVERIFY(p.model->phpDebugging() && debugging->isChecked());
        QVERIFY(testing::waitFor([&] {
            p.settle();
            return p.model->logs().startsWith(u"=== PHP 调试开启失败 ==="_s);
        }));
        QVERIFY(!debugging->isChecked());
        QCOMPARE(site->value(), runningText(false));
    }

    // Screen readers and keyboards: every button and card is named, buttons take focus and
    // activate with Space and Enter.
    void accessibleAndKeyboard() {
        ShownPanel p;
        for (IconButton* b : p.panel->buttons()) {
            QCOMPARE(b->accessibleName(), qtTrId(b->objectName().toLatin1().constData()));
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(b);
            QVERIFY(a);
            QCOMPARE(a->text(QAccessible::Name), b->accessibleName());
            // The debugging switch is read as what it is, with its state.
            QCOMPARE(a->role(), b->isCheckable() ? QAccessible::CheckBox : QAccessible::Button);
        }
        for (int i = 0; i < 3; ++i) {
            StatCard* card = p.panel->statusStrip()->card(i);
            QVERIFY(card->accessibleName().startsWith(card->title()));
            QCOMPARE(p.panel->header()->badge(i)->accessibleName(),
                     p.panel->header()->badge(i)->text());
            QVERIFY(!p.panel->section(i)->accessibleName().isEmpty());
        }
        QCOMPARE(p.panel->section(0)->accessibleName(), qtTrId("panel.service_control"));
        QCOMPARE(p.panel->errorNotice()->accessibleName(), qtTrId("warning.errors"));
        QCOMPARE(p.panel->permissionNotice()->accessibleName(), qtTrId("warning.permission"));
        QCOMPARE(p.panel->progressCard()->accessibleName(), qtTrId("update.progress"));
        QCOMPARE(p.panel->logPanel()->accessibleName(), qtTrId("panel.logs"));
        // A badge or a card is read once: one node with its whole text, its labels not again.
        QStringList names;
        const std::function<void(QAccessibleInterface*)> collect = [&](QAccessibleInterface* a) {
            names << a->text(QAccessible::Name);
            for (int i = 0; i < a->childCount(); ++i)
                collect(a->child(i));
        };
        collect(QAccessible::queryAccessibleInterface(p.panel.get()));
        for (int i = 0; i < 3; ++i) {
            StatCard* card = p.panel->statusStrip()->card(i);
            QCOMPARE(names.count(card->accessibleName()), 1);
            QCOMPARE(names.count(card->title()), 0);
            QCOMPARE(names.count(p.panel->header()->badge(i)->text()), 1);
        }

        // Focus the user has not seen (given with the window, or left by a click) runs nothing
        // on Space or Return.
        int clicks = 0;
        QObject context;
        for (IconButton* b : p.panel->buttons())
            connect(b, &QAbstractButton::clicked, &context, [&] { ++clicks; });
        p.panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(p.panel.get()));
        const auto pressSpaceAndReturn = [&] {
            QWidget* target = QApplication::focusWidget();
            for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return})
                QTest::keyClick(target ? target : p.panel.get(), key);
        };
        pressSpaceAndReturn();
        QCOMPARE(clicks, 0);
        IconButton* copy = p.button(u"action.copy_logs"_s);
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(clicks, 1);
        QVERIFY(!copy->hasFocus());
        pressSpaceAndReturn();
        QCOMPARE(clicks, 1);
        QCOMPARE(p.box.sandbox.desktop->clipboardClears, 1);

        // The keyboard's first stop is the first button, not the scroll area around them.
        if (QWidget* focused = QApplication::focusWidget())
            focused->clearFocus();
        QTest::keyClick(p.panel.get(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), p.panel->buttons().front());

        // From the keyboard the button takes focus and runs with Space and Enter.
        copy->setFocus(Qt::TabFocusReason);
        int expected = 1;
        for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
            QTest::keyClick(copy, key);
            QCOMPARE(p.box.sandbox.desktop->clipboardClears, ++expected);
        }
    }

    void logEditorBoundBothWays() {
        ShownPanel p;
        QPlainTextEdit* editor = p.panel->logPanel()->editor();
        const QString status = p.model->logs();
        const QString summary = p.model->errorSummary();
        int changes = 0;
        QObject context;
        connect(p.model.get(), &PanelViewModel::changed, &context, [&] { ++changes; });

        // The model's text reaches the editor without being written back; the cursor stays
        // where it was while the text still reaches it.
        p.model->setLogs(u"line one\nline two"_s);
        p.settle();
        QCOMPARE(editor->toPlainText(), u"line one\nline two"_s);
        QCOMPARE(changes, 1);
        QTextCursor cursor = editor->textCursor();
        cursor.setPosition(5);
        editor->setTextCursor(cursor);
        p.model->setLogs(u"line one\nline two\nnote\n"_s);
        p.settle();
        QCOMPARE(editor->toPlainText(), u"line one\nline two\nnote\n"_s);
        QCOMPARE(editor->textCursor().position(), 5);
        p.model->setLogs(u"new"_s);
        p.settle();
        QCOMPARE(editor->toPlainText(), u"new"_s);
        QCOMPARE(editor->textCursor().position(), 3);
        QCOMPARE(changes, 3);

        // Typing changes the model's log, without recomputing the summary for the user's text.
        editor->setFocus();
        editor->moveCursor(QTextCursor::End);
        QTest::keyClicks(editor, u"error: by hand"_s);
        QCOMPARE(p.model->logs(), u"newerror: by hand"_s);
        QCOMPARE(p.model->errorSummary(), summary);
        // The next report replaces the typed text (the refresh probes on a worker).
        QTest::mouseClick(p.button(u"action.refresh_status"_s), Qt::LeftButton);
        QVERIFY(testing::waitFor([&] { return p.model->logs() == status; }));
        p.settle();
        QCOMPARE(editor->toPlainText(), status);
    }

    // ---- The window.

    void windowShell() {
        PanelSandbox box;
        QPointer<PanelWindow> window = new PanelWindow(box.makeModel(), {});
        window->resize(400, 300);
        window->move(100, 100);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QVERIFY(testing::waitFor(
            [&] { return window->panel()->model().logs().startsWith(kStatusTitle); }));
        QCOMPARE(window->windowTitle(), u"ZELTO 本地调试助手"_s);
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        // The smallest content, below the title strip, is 820 × 740.
        const int stripHeight = theme::metric::titleStripHeight;
        QCOMPARE(window->size(), QSize(820, 740 + stripHeight));
        QCOMPARE(window->minimumSize(), QSize(820, 740 + stripHeight));
        QCOMPARE(window->panel()->scrollArea()->geometry(), QRect(0, stripHeight, 820, 740));

        // The strip shows no title, only the three controls, drawn white over the backdrop,
        // which the panel draws under the strip: it covers the whole window.
        TitleStrip* strip = window->titleStrip();
        QVERIFY(strip->findChildren<QLabel*>().isEmpty());
        QCOMPARE(strip->findChildren<WindowControl*>().size(), 3);
        QCOMPARE(strip->geometry(), QRect(0, 0, 820, theme::metric::titleStripHeight));
        QCOMPARE(window->panel()->geometry(), window->rect());
        const QImage image = window->grab().toImage();
        const QColor backdrop = image.pixelColor(400, theme::metric::titleStripHeight / 2);
        QVERIFY(backdrop.blue() > backdrop.red() && backdrop.value() < 90);
        const QRect close = strip->control(WindowControl::Kind::Close)->geometry();
        int white = 0;
        for (int y = close.top(); y <= close.bottom(); ++y)
            for (int x = close.left(); x <= close.right(); ++x)
                white += image.pixelColor(x, y).lightness() > 200 ? 1 : 0;
        QVERIFY(white > 5);

        // Dragging the plain background between the header and the status cards moves it.
        const QPoint start = window->pos();
        HeroHeader* header = window->panel()->header();
        QWidget* column = header->parentWidget();
        const QPoint gap(header->geometry().center().x(), header->geometry().bottom() + 9);
        QTest::mousePress(column, Qt::LeftButton, {}, gap);
        QTest::mouseMove(column, gap + QPoint(40, 25));
        QTest::mouseRelease(column, Qt::LeftButton, {}, gap + QPoint(40, 25));
        QTRY_COMPARE(window->pos(), start + QPoint(40, 25));
        // A press on a button clicks it and moves nothing.
        IconButton* copy = window->panel()->findChild<IconButton*>(u"action.copy_logs"_s);
        QTest::mousePress(copy, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(copy, QPoint(60, 30));
        QTest::mouseRelease(copy, Qt::LeftButton, {}, QPoint(60, 30));
        QCOMPARE(window->pos(), start + QPoint(40, 25));
        QCOMPARE(box.sandbox.desktop->clipboardClears, 1);
        // The edges resize rather than move; the scroll bar's handle (inset 4 from the right)
        // stays clear of the resize band.
        QVERIFY(window->edgesAt(QPoint(2, 300)) == Qt::LeftEdge);
        QVERIFY(window->edgesAt(QPoint(window->width() - 2, window->height() - 2)) ==
                (Qt::RightEdge | Qt::BottomEdge));
        QVERIFY(window->edgesAt(QPoint(300, 300)) == Qt::Edges());
        QVERIFY(window->edgesAt(QPoint(window->width() - 5, 300)) == Qt::Edges());

        QTest::mouseClick(strip->control(WindowControl::Kind::Close), Qt::LeftButton);
        QVERIFY(testing::waitFor([&] { return window.isNull(); }));
    }

    void windowsOwnTheirModels() {
        PanelSandbox box;
        std::vector<std::weak_ptr<PanelViewModel>> models;
        std::vector<std::unique_ptr<LogHistory>> histories;
        QPointer<PanelWindow> first = app::openPanelWindow([&] {
            auto model = box.makeModel();
            models.push_back(model);
            histories.push_back(std::make_unique<LogHistory>(*model));
            return model;
        });
        QVERIFY(QTest::qWaitForWindowExposed(first));
        first->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(first));
        // The new-window shortcut opens a second window with a model of its own.
        QTest::keyClick(first, Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(int(models.size()), 2);
        QPointer<PanelWindow> second;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* pw = qobject_cast<PanelWindow*>(w); pw && pw != first)
                second = pw;
        }
        QVERIFY(second);
        QVERIFY(QTest::qWaitForWindowExposed(second));
        QVERIFY(&second->panel()->model() == models[1].lock().get());
        QVERIFY(testing::waitFor([&] {
            return models[0].lock()->logs().startsWith(kStatusTitle) &&
                   models[1].lock()->logs().startsWith(kStatusTitle);
        }));

        // Closed during its start-all, the first window's job still runs to its end and
        // publishes into its model, which goes with the job's last block; the second window
        // sees none of it.
        QTest::mouseClick(first->panel()->findChild<IconButton*>(u"action.start_all"_s),
                          Qt::LeftButton);
        first->close();
        QVERIFY(testing::waitFor([&] { return first.isNull() && models[0].expired(); }));
        QCOMPARE(histories[0]->countStartingWith(u"=== 启动完成 ==="_s), 1);
        QCOMPARE(histories[1]->countStartingWith(u"=== 启动"_s), 0);
        QVERIFY(second->panel()->logPanel()->editor()->toPlainText().startsWith(kStatusTitle));
        second->close();
        QVERIFY(testing::waitFor([&] { return second.isNull(); }));
    }

    // Writes a few states as <build>/screenshots/*.png for people to look at.
    // The button opens the servers' logs beside the panel (again: the same window, raised):
    // the three logs as tabs, errors only, copy, and clear for the web servers' logs.
    void serverLogsWindow() {
        ShownPanel p;
        const QString site = p.model->serviceLogPath(Service::Site);
        QVERIFY(QDir().mkpath(QFileInfo(site).path()));
        testing::writeFile(site, "GET /\nPHP Fatal error:  boom in /w/a.php on line 7\n");
        QTest::mouseClick(p.button(u"action.server_logs"_s), Qt::LeftButton);
        ServerLogsWindow* window = p.panel->serverLogsWindow();
        QVERIFY(window && window->isVisible() && window->isWindow());
        QVERIFY(!window->isModal());
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTest::mouseClick(p.button(u"action.server_logs"_s), Qt::LeftButton);
        QCOMPARE(p.panel->serverLogsWindow(), window);
        QCOMPARE(window->windowTitle(), qtTrId("action.server_logs"));

        QTabWidget* tabs = window->tabs();
        QCOMPARE(tabs->count(), 3);
        const char* tabKeys[] = {"logs.tab.site", "logs.tab.phpmyadmin", "logs.tab.database"};
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(tabs->tabText(i), qtTrId(tabKeys[i]));
            QCOMPARE(tabs->tabBar()->accessibleTabName(i), tabs->tabText(i));
            QCOMPARE(window->page(i)->list()->accessibleName(), tabs->tabText(i));
        }
        for (QPushButton* b :
             {window->errorsOnlyButton(), window->copyButton(), window->clearButton()})
            QCOMPARE(b->accessibleName(), b->text());
        QCOMPARE(window->errorsOnlyButton()->text(), qtTrId("logs.errors_only"));
        QVERIFY(window->errorsOnlyButton()->isCheckable());

        // Only the log on screen is followed.
        ServerLogPage* page = window->page(0);
        QVERIFY(page->follower()->isFollowing() && !window->page(2)->follower()->isFollowing());
        QVERIFY(testing::waitFor([&] { return page->filter()->rowCount() == 2; }));
        const QString error = qtTrId("logs.marker.error") +
                              u" /w/a.php:7 · PHP Fatal error:  boom in /w/a.php on line 7"_s;
        const auto copied = [&] {
            window->copyButton()->click();
            return p.box.sandbox.desktop->clipboard.value_or(QString());
        };
        QCOMPARE(copied(), u"GET /\n"_s + error);
        page->list()->selectionModel()->select(page->filter()->index(0, 0),
                                               QItemSelectionModel::Select);
        QCOMPARE(copied(), u"GET /"_s);
        p.box.sandbox.desktop->clipboard.reset();
        window->activateWindow();
        page->list()->setFocus();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keySequence(page->list(), QKeySequence::Copy); // as the button copies
        QCOMPARE(p.box.sandbox.desktop->clipboard.value_or(QString()), u"GET /"_s);
        window->errorsOnlyButton()->click();
        QCOMPARE(page->filter()->rowCount(), 1);
        QCOMPARE(copied(), error);
        window->errorsOnlyButton()->click();
        QCOMPARE(page->filter()->rowCount(), 2);

        // The database's log is not the panel's to clear; the site's is emptied in place.
        tabs->setCurrentIndex(2);
        QVERIFY(!window->clearButton()->isEnabled());
        QVERIFY(window->page(2)->follower()->isFollowing() && !page->follower()->isFollowing());
        tabs->setCurrentIndex(0);
        QVERIFY(window->clearButton()->isEnabled());
        window->clearButton()->click();
        QVERIFY(testing::waitFor([&] { return page->filter()->rowCount() == 0; }));
        QCOMPARE(QFileInfo(site).size(), 0);

        window->close();
        QVERIFY(!page->follower()->isFollowing());
    }

    void screenshots() {
        const QLocale previous;
        QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
        app::installTranslations(QLocale(QLocale::Chinese, QLocale::China));
        PanelSandbox box;
        PanelWindow window(box.makeModel(), {});
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString dir = QStringLiteral(ZELTO_BUILD_DIR "/screenshots/");
        QVERIFY(QDir().mkpath(dir));
        PanelViewModel& m = window.panel()->model();
        const auto snap = [&](const QString& name) {
            m.updateErrorSummary();
            window.panel()->render();
            QVERIFY(settleLayout(&window));
            // Settled: the third section is as tall as its content, not stretched.
            const GroupedPanel* third = window.panel()->section(2);
            QCOMPARE(third->height(), third->heightForWidth(third->width()));
            QVERIFY(window.grab().save(dir + name + u".png"_s));
        };
        // Before the first probe has published.
        QVERIFY(window.grab().save(dir + u"01-fresh-window.png"_s));
        QVERIFY(testing::waitFor([&] { return m.logs().startsWith(kStatusTitle); }));
        QCOMPARE(window.panel()->header()->localeLabel()->text(), u"简体中文（中国）"_s);

        window.resize(900, 1180);
        const QString root = u"目录: "_s + box.sandbox.installedRoot();
        m.setPermissionHint({});
        m.setServiceRunning(Service::Database, true);
        m.setServiceRunning(Service::Site, true);
        m.setServiceRunning(Service::PhpMyAdmin, true);
        m.setLogs(PanelViewModel::buildLogBlock(u"=== 启动完成 ==="_s,
                                                {u"MySQL 已启动"_s, u"PHP Web 已启动 (pid 4242)"_s},
                                                {u"网站: http://localhost:8000"_s, root}));
        snap(u"02-everything-running"_s);

        QVERIFY(QDir().mkpath(m.cfgDir()));
        services::recordServiceUp(m.cfgDir(), Service::Database, 0);
        m.refreshStatus(); // the database is not there: stopped by itself
        m.setLogs(
            PanelViewModel::buildLogBlock(u"=== 启动完成 ==="_s, {u"MySQL 已启动"_s}, {root}));
        snap(u"02b-database-stopped-unexpectedly"_s);
        QVERIFY(QFile::remove(m.cfgDir() + u"/.stopped-database"_s));
        m.refreshStatus();
        for (const Service service : kServices)
            m.setServiceRunning(service, true);

        m.setUpdateProgress(0.425);
        m.setUpdateProgressText(u"正在同步网站文件"_s);
        m.setLogs(PanelViewModel::buildLogBlock(u"=== 更新/修复ZELTO文件 ==="_s,
                                                {u"正在同步网站文件"_s, u"进度: 42%"_s}, {root}));
        snap(u"03-update-in-progress"_s);

        m.setUpdateProgress(1.0);
        m.setServiceRunning(Service::Database, false);
        m.setServiceRunning(Service::PhpMyAdmin, false);
        m.setPermissionHint(u"权限提示: 无法写入 runtime/mysql/data\n错误: Permission denied"_s);
        m.setLogs(u"=== 启动中 ===\n无法写入 my_runtime.cnf: Permission denied\n"
                  "mysqld 启动失败: 请查看 runtime/mysql/data/error.log"_s);
        snap(u"04-errors-shown"_s);

        // The backups section with two snapshots, in the narrowest and a wide window, and the
        // restore menu.
        m.setUpdateProgress(0.0);
        m.setPermissionHint({});
        m.setErrorSummary({});
        const QDateTime noon(QDate(2026, 12, 9), QTime(12, 0));
        writeSnapshot(m.backupsDir(), u"one"_s, noon, backup::Reason::BeforeUpdate, 300000);
        writeSnapshot(m.backupsDir(), u"two"_s, noon.addSecs(3600), backup::Reason::ByHand, 5000);
        m.refreshSnapshotsInBackground();
        QVERIFY(testing::waitFor([&] { return m.snapshots().size() == 2; }));
        for (const int width : {820, 1500}) {
            window.resize(width, 1180);
            snap(u"05-backups-%1"_s.arg(width));
        }
        QTest::mouseClick(window.panel()->findChild<IconButton*>(u"action.restore_database"_s),
                          Qt::LeftButton);
        QMenu* menu = window.panel()->restoreMenu();
        QVERIFY(menu->isVisible());
        QVERIFY(menu->grab().save(dir + u"06-restore-menu.png"_s));
        menu->close();

        // The servers' logs, a line of each kind.
        const QString siteLog = m.serviceLogPath(Service::Site);
        QVERIFY(QDir().mkpath(QFileInfo(siteLog).path()));
        QByteArray lines;
        for (int i = 0; i < 40; ++i)
            lines +=
                "[Thu Dec 10 18:00:" + QByteArray::number(10 + i) + " 2026] 127.0.0.1:5123" +
                QByteArray::number(i % 10) +
                (i % 9 == 4    ? " [500]: GET /checkout.php\n"
                 : i % 7 == 3  ? " PHP Warning:  Undefined variable $cart in "
                                 "/srv/www/cart.php on line 42\n"
                 : i % 13 == 6 ? " PHP Fatal error:  Uncaught Error: Call to undefined function "
                                 "pay() in /srv/www/pay.php:17\n"
                               : " [200]: GET /index.php\n");
        testing::writeFile(siteLog, lines);
        window.panel()->showServerLogs();
        ServerLogsWindow* logsWindow = window.panel()->serverLogsWindow();
        QVERIFY(QTest::qWaitForWindowExposed(logsWindow));
        QVERIFY(testing::waitFor([&] { return logsWindow->page(0)->filter()->rowCount() == 40; }));
        QVERIFY(settleLayout(logsWindow));
        // More lines than fit: the list is at its end.
        const QScrollBar* bar = logsWindow->page(0)->list()->verticalScrollBar();
        QVERIFY(bar->maximum() > 0 && bar->value() == bar->maximum());
        QVERIFY(logsWindow->grab().save(dir + u"07-server-logs.png"_s));
        logsWindow->errorsOnlyButton()->click();
        logsWindow->tabs()->setCurrentIndex(2);
        logsWindow->tabs()->setCurrentIndex(0);
        QVERIFY(logsWindow->grab().save(dir + u"08-server-logs-errors-only.png"_s));
        logsWindow->close();
        QLocale::setDefault(previous);
    }
};

QTEST_MAIN(TestApp)
#include "tst_app.moc"
