#include "tst_components.h"

#include "app/adaptive_grid_layout.h"
#include "app/application.h"
#include "app/cards.h"
#include "app/hero_header.h"
#include "app/icon_button.h"
#include "app/icons.h"
#include "app/painting.h"
#include "app/qt_desktop.h"
#include "app/wrapping_label.h"

#include <QLabel>
#include <QSet>
#include <QTest>

#include <cmath>
#include <limits>

namespace {

const char* const kKeys[] = {"app.title",
                             "app.subtitle",
                             "app.ready",
                             "app.attention",
                             "status.mysql",
                             "status.php_web",
                             "status.phpmyadmin",
                             "common.running",
                             "common.stopped",
                             "update.progress",
                             "warning.errors",
                             "warning.permission",
                             "panel.logs",
                             "panel.logs.sub",
                             "panel.service_control",
                             "panel.service_control.sub",
                             "panel.directory_permission",
                             "panel.directory_permission.sub",
                             "panel.site_logs",
                             "panel.site_logs.sub",
                             "action.start_all",
                             "action.stop_all",
                             "action.refresh_status",
                             "action.choose_directory",
                             "action.open_directory",
                             "action.privacy_settings",
                             "action.open_website",
                             "action.database_admin",
                             "action.start_phpmyadmin",
                             "action.update_repair",
                             "action.copy_logs"};

const char* const kIcons[] = {"start_all",        "stop_all",       "refresh_status",
                              "choose_directory", "open_directory", "privacy_settings",
                              "open_website",     "database_admin", "phpmyadmin_start",
                              "update_repair",    "copy_logs"};

// A cell of fixed height that takes whatever width it is given.
QWidget* makeCell(QWidget* parent, int height) {
    auto* cell = new QWidget(parent);
    cell->setMinimumHeight(height);
    cell->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    cell->setFixedHeight(height);
    return cell;
}

} // namespace

void TestComponents::columnCount_data() {
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("columns");
    QTest::newRow("narrower than one column") << 100 << 170 << 10 << 1;
    QTest::newRow("exactly one") << 170 << 170 << 10 << 1;
    QTest::newRow("one short of two") << 349 << 170 << 10 << 1;
    QTest::newRow("exactly two") << 350 << 170 << 10 << 2;
    QTest::newRow("section at the smallest window") << 746 << 170 << 10 << 4;
    QTest::newRow("exactly five") << 890 << 170 << 10 << 5;
    QTest::newRow("strip at the smallest window") << 774 << 180 << 12 << 4;
    QTest::newRow("strip on a wide window") << 1364 << 180 << 12 << 7;
}

void TestComponents::columnCount() {
    QFETCH(int, width);
    QFETCH(int, minimum);
    QFETCH(int, spacing);
    QFETCH(int, columns);
    QCOMPARE(AdaptiveGridLayout::columnCountFor(width, minimum, spacing), columns);
}

void TestComponents::gridPlacesItems_data() {
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("columns");
    QTest::addColumn<int>("rows");
    QTest::newRow("five buttons, four fit") << 5 << 170 << 10 << 756 << 4 << 2;
    QTest::newRow("five buttons, five fit") << 5 << 170 << 10 << 900 << 5 << 1;
    QTest::newRow("three buttons, narrow") << 3 << 170 << 10 << 300 << 1 << 3;
    QTest::newRow("three cards, four columns") << 3 << 180 << 12 << 784 << 4 << 1;
    QTest::newRow("three cards, seven columns") << 3 << 180 << 12 << 1364 << 7 << 1;
}

void TestComponents::gridPlacesItems() {
    QFETCH(int, items);
    QFETCH(int, minimum);
    QFETCH(int, spacing);
    QFETCH(int, width);
    QFETCH(int, columns);
    QFETCH(int, rows);

    QWidget container;
    auto* grid = new AdaptiveGridLayout(minimum, spacing, spacing, &container);
    QList<QWidget*> cells;
    for (int i = 0; i < items; ++i) {
        cells << makeCell(&container, 66);
        grid->addWidget(cells.last());
    }
    const int height = grid->heightForWidth(width);
    QCOMPARE(height, rows * 66 + (rows - 1) * spacing);
    grid->setGeometry(QRect(0, 0, width, height));
    QCOMPARE(grid->currentColumnCount(), columns);

    const int columnWidth = (width - (columns - 1) * spacing) / columns;
    QSet<int> rowTops;
    for (int i = 0; i < items; ++i) {
        const QRect g = cells[i]->geometry();
        rowTops.insert(g.top());
        // Every item takes its column's width: never less, and never stretched over the
        // empty columns beside it.
        QVERIFY2(std::abs(g.width() - columnWidth) <= 1,
                 qPrintable(QStringLiteral("item %1 is %2 wide, column %3")
                                .arg(i)
                                .arg(g.width())
                                .arg(columnWidth)));
        QCOMPARE(g.top(), (i / columns) * (66 + spacing));
        QVERIFY(g.right() < width);
    }
    QCOMPARE(rowTops.size(), rows);
    if (items < columns) {
        // The surplus columns stay empty.
        QVERIFY(cells.last()->geometry().right() < width - columnWidth);
    }
}

void TestComponents::percent_data() {
    QTest::addColumn<double>("progress");
    QTest::addColumn<qint64>("percent");
    QTest::newRow("0.425") << 0.425 << qint64(42);
    QTest::newRow("0.001") << 0.001 << qint64(0);
    QTest::newRow("0.05") << 0.05 << qint64(5);
    QTest::newRow("0.5") << 0.5 << qint64(50);
    QTest::newRow("0.999") << 0.999 << qint64(99);
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << qint64(0);
}

void TestComponents::percent() {
    QFETCH(double, progress);
    QFETCH(qint64, percent);
    QCOMPARE(ProgressCard::percent(progress), percent);
    QCOMPARE(ProgressCard::line(QStringLiteral("正在下载更新包"), progress),
             QStringLiteral("正在下载更新包 %1%").arg(percent));
}

void TestComponents::progressCardShows_data() {
    QTest::addColumn<double>("progress");
    QTest::addColumn<bool>("shown");
    QTest::newRow("0") << 0.0 << false;
    QTest::newRow("0.001") << 0.001 << true;
    QTest::newRow("0.425") << 0.425 << true;
    QTest::newRow("0.999") << 0.999 << true;
    QTest::newRow("1.0") << 1.0 << false;
    QTest::newRow("below 0") << -0.2 << false;
    QTest::newRow("above 1") << 1.5 << false;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << false;
}

void TestComponents::progressCardShows() {
    QFETCH(double, progress);
    QFETCH(bool, shown);
    QCOMPARE(ProgressCard::showsFor(progress), shown);
}

void TestComponents::buttonTitleFits_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<double>("widthFactor"); // of the title's natural width; 0: the narrowest
    QTest::addColumn<bool>("shrunk");
    QTest::addColumn<bool>("elided");
    QTest::newRow("fits") << QStringLiteral("Copy log") << 1.2 << false << false;
    QTest::newRow("fits when shrunk")
        << QStringLiteral("Update / repair files") << 0.9 << true << false;
    QTest::newRow("too long even shrunk")
        << QStringLiteral("Update or repair every file of the site from the archive") << 0.0 << true
        << true;
    QTest::newRow("Chinese, too long")
        << QStringLiteral("更新并修复网站的全部文件然后再检查一次") << 0.0 << true << true;
}

void TestComponents::buttonTitleFits() {
    QFETCH(QString, title);
    QFETCH(double, widthFactor);
    QFETCH(bool, shrunk);
    QFETCH(bool, elided);

    IconButton button(QStringLiteral("copy_logs"), title, false);
    const QFontMetricsF fm(button.font());
    const qreal natural = fm.horizontalAdvance(title);
    const int overhead = 2 * 14 + 28 + 10;
    const int width = widthFactor > 0 ? overhead + int(std::ceil(natural * widthFactor)) : 170;
    const IconButton::TitleFit fit = button.fitTitle(width);

    QCOMPARE(fit.elided, elided);
    if (shrunk) {
        QVERIFY(fit.scale < 1.0);
        QVERIFY(fit.scale >= 0.85 - 1e-9);
    } else {
        QCOMPARE(fit.scale, 1.0);
    }
    if (elided) {
        QCOMPARE(fit.scale, 0.85);
        QVERIFY(fit.text.endsWith(QChar(0x2026)));
    } else {
        QCOMPARE(fit.text, title);
    }
    QVERIFY(!fit.text.contains(QLatin1Char('\n')));
    // What is drawn fits the space beside the icon.
    QVERIFY(fm.horizontalAdvance(fit.text) * fit.scale <= width - overhead + 0.5);
}

void TestComponents::buttonNeverWraps() {
    const QString longTitle =
        QStringLiteral("A very long button title that could never fit on one line of a button");
    IconButton shortButton(QStringLiteral("copy_logs"), QStringLiteral("Copy"), false);
    IconButton longButton(QStringLiteral("copy_logs"), longTitle, false);
    // One line, whatever the title: the height never grows.
    QCOMPARE(longButton.sizeHint().height(), shortButton.sizeHint().height());
    QCOMPARE(longButton.sizeHint().height(), 46 + 2 * 10);
    longButton.resize(170, longButton.sizeHint().height());
    const QImage image = longButton.grab().toImage();
    QVERIFY(!image.isNull());
    // Its accessible name keeps the whole title even when the drawn one is cut.
    QCOMPARE(longButton.accessibleName(), longTitle);
}

void TestComponents::warningBodyWrapsAndIsNeverCut() {
    const QString path = QStringLiteral("/home/someone/") + QString(200, QLatin1Char('x')) +
                         QStringLiteral("/Zelto-panel/runtime/config");
    WarningCard card(QStringLiteral("Permission notice"), QColor(Qt::red));
    card.setBody(QStringLiteral("权限提示: 无法写入 ") + path + QStringLiteral("\n错误: denied"));
    WrappingLabel* body = card.bodyLabel();

    const int oneLine = QFontMetrics(body->font()).lineSpacing();
    // An unbroken path wraps inside a word rather than running past the edge.
    QVERIFY(body->lineCountForWidth(300) > 3);
    QVERIFY(body->heightForWidth(300) >= body->lineCountForWidth(300) * (oneLine - 1));
    QVERIFY(body->lineCountForWidth(300) > body->lineCountForWidth(1200));
    // The card grows with its body.
    QVERIFY(card.hasHeightForWidth());
    QVERIFY(card.heightForWidth(320) > card.heightForWidth(1400));
    QCOMPARE(card.body(), body->text());
}

void TestComponents::badgeFollowsState() {
    Badge badge(QStringLiteral("MySQL"));
    QCOMPARE(badge.text(), QStringLiteral("MySQL  ") + qtTrId("common.stopped"));
    QCOMPARE(badge.cardStyle()->fill, theme::card::badge(false).fill);
    badge.setOk(true);
    QCOMPARE(badge.text(), QStringLiteral("MySQL  ") + qtTrId("common.running"));
    QCOMPARE(badge.cardStyle()->fill, theme::card::badge(true).fill);
    QCOMPARE(badge.accessibleName(), badge.text());
    badge.setOk(false);
    QCOMPARE(badge.cardStyle()->fill, theme::card::badge(false).fill);
}

void TestComponents::localeDisplayName_data() {
    QTest::addColumn<QLocale>("locale");
    QTest::addColumn<QString>("name");
    QTest::newRow("English, US") << QLocale(QLocale::English, QLocale::UnitedStates)
                                 << QStringLiteral("American English (United States)");
    QTest::newRow("Chinese, China")
        << QLocale(QLocale::Chinese, QLocale::China) << QStringLiteral("简体中文（中国）");
    QTest::newRow("German") << QLocale(QLocale::German, QLocale::Germany)
                            << QStringLiteral("Deutsch (Deutschland)");
    QTest::newRow("C") << QLocale::c() << QString();
}

void TestComponents::localeDisplayName() {
    QFETCH(QLocale, locale);
    QFETCH(QString, name);
    QCOMPARE(HeroHeader::localeDisplayName(locale), name);
}

void TestComponents::catalogsHaveEveryKey() {
    QVERIFY(app::installTranslations(QLocale(QLocale::Chinese, QLocale::China)));
    QCOMPARE(qtTrId("app.title"), QStringLiteral("ZELTO 本地调试助手"));
    QStringList chinese;
    for (const char* key : kKeys) {
        QVERIFY2(qtTrId(key) != QString::fromLatin1(key), key);
        chinese << qtTrId(key);
    }
    // Any Chinese locale reads Chinese.
    QVERIFY(app::installTranslations(QLocale(QLocale::Chinese, QLocale::Taiwan)));
    QCOMPARE(qtTrId("action.copy_logs"), chinese.last());

    QVERIFY(app::installTranslations(QLocale(QLocale::French, QLocale::France)));
    for (int i = 0; i < int(std::size(kKeys)); ++i) {
        const QString english = qtTrId(kKeys[i]);
        QVERIFY2(english != QString::fromLatin1(kKeys[i]), kKeys[i]);
        // English differs from Chinese except for the product names.
        if (!english.contains(QStringLiteral("MySQL")) &&
            !english.contains(QStringLiteral("phpMyAdmin")))
            QVERIFY2(english != chinese[i], kKeys[i]);
    }
    // A key the catalog lacks shows itself.
    QCOMPARE(qtTrId("no.such.key"), QStringLiteral("no.such.key"));
    QVERIFY(app::installTranslations(QLocale(QLocale::English, QLocale::UnitedStates)));
}

void TestComponents::iconsRender() {
    for (const char* name : kIcons) {
        const QImage image = icons::render(QString::fromLatin1(name), QSize(28, 28), 2.0);
        QVERIFY2(!image.isNull(), name);
        QCOMPARE(image.size(), QSize(56, 56));
        // Opaque in the middle (the tile), transparent at the very corner (its rounding).
        QVERIFY2(qAlpha(image.pixel(28, 28)) == 255, name);
        QVERIFY2(qAlpha(image.pixel(0, 0)) == 0, name);
    }
    QVERIFY(icons::render(QStringLiteral("no_such_icon"), QSize(28, 28), 1.0).isNull());
}

void TestComponents::privacySettingsCommand_data() {
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QStringList>("command");
    const QStringList gnome{QStringLiteral("gnome-control-center")};
    QTest::newRow("GNOME") << QStringLiteral("GNOME") << gnome
                           << QStringList{QStringLiteral("/usr/bin/gnome-control-center"),
                                          QStringLiteral("privacy")};
    QTest::newRow("Ubuntu's GNOME")
        << QStringLiteral("ubuntu:GNOME") << gnome
        << QStringList{QStringLiteral("/usr/bin/gnome-control-center"), QStringLiteral("privacy")};
    QTest::newRow("GNOME without its settings")
        << QStringLiteral("GNOME") << QStringList{} << QStringList{};
    QTest::newRow("KDE") << QStringLiteral("KDE") << QStringList{QStringLiteral("systemsettings")}
                         << QStringList{QStringLiteral("/usr/bin/systemsettings"),
                                        QStringLiteral("kcm_recentFiles")};
    QTest::newRow("XFCE") << QStringLiteral("XFCE") << gnome << QStringList{};
    QTest::newRow("no desktop") << QString() << gnome << QStringList{};
}

void TestComponents::privacySettingsCommand() {
    QFETCH(QString, desktop);
    QFETCH(QStringList, installed);
    QFETCH(QStringList, command);
    const auto find = [&](const QString& name) {
        return installed.contains(name) ? QStringLiteral("/usr/bin/") + name : QString();
    };
    QCOMPARE(QtDesktop::privacySettingsCommand(desktop, find), command);
}

void TestComponents::continuousCornersStayInside() {
    const QRectF r(10, 20, 200, 66);
    for (qreal radius : {0.0, 12.0, 20.0, 999.0}) {
        const QPainterPath path = painting::continuousRoundedRect(r, radius);
        QVERIFY(r.adjusted(-0.01, -0.01, 0.01, 0.01).contains(path.boundingRect()));
        QVERIFY(path.contains(r.center()));
        if (radius > 0) // the very corner is cut off
            QVERIFY(!path.contains(r.topLeft() + QPointF(0.5, 0.5)));
    }
}
