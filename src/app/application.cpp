#include "app/application.h"

#include "app/desktop_session.h"
#include "app/panel_window.h"
#include "app/qt_desktop.h"
#include "app/theme.h"
#include "core/panel_view_model.h"
#include "platform/application_identity.h"
#include "update/set_aside.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QPalette>
#include <QStyleFactory>
#include <QTranslator>

#include <cstdio>
#include <cstring>

using namespace theme;

namespace app {

namespace {

QString rgba(const QColor& c) {
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(c.red())
        .arg(c.green())
        .arg(c.blue())
        .arg(QString::number(c.alphaF(), 'f', 3));
}

QPalette darkPalette() {
    const QColor window = chrome::window();
    const QColor base = chrome::base();
    const QColor button = chrome::button();
    QPalette p;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        p.setColor(group, QPalette::Window, window);
        p.setColor(group, QPalette::WindowText, color::white);
        p.setColor(group, QPalette::Base, base);
        p.setColor(group, QPalette::AlternateBase, window);
        p.setColor(group, QPalette::Text, color::white);
        p.setColor(group, QPalette::Button, button);
        p.setColor(group, QPalette::ButtonText, color::white);
        p.setColor(group, QPalette::BrightText, color::white);
        p.setColor(group, QPalette::Highlight, color::accent);
        p.setColor(group, QPalette::HighlightedText, color::white);
        p.setColor(group, QPalette::ToolTipBase, base);
        p.setColor(group, QPalette::ToolTipText, color::white);
        p.setColor(group, QPalette::PlaceholderText, chrome::placeholder());
        p.setColor(group, QPalette::Link, color::cyan);
        p.setColor(group, QPalette::Light, button.lighter(140));
        p.setColor(group, QPalette::Midlight, button.lighter(120));
        p.setColor(group, QPalette::Mid, button.darker(120));
        p.setColor(group, QPalette::Dark, base.darker(120));
        p.setColor(group, QPalette::Shadow, color::black);
    }
    p.setColor(QPalette::Disabled, QPalette::WindowText, color::gray);
    p.setColor(QPalette::Disabled, QPalette::Text, color::gray);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, color::gray);
    p.setColor(QPalette::Disabled, QPalette::Base, window);
    p.setColor(QPalette::Disabled, QPalette::Window, window);
    p.setColor(QPalette::Disabled, QPalette::Button, button);
    return p;
}

QString styleSheet() {
    const QString handle = rgba(chrome::scrollHandle());
    const QString handleHover = rgba(chrome::scrollHandleHover());
    // The bars keep clear of the window's outer 4 pixels, where a press resizes the window.
    return QStringLiteral("QScrollBar:vertical { background: transparent; width: 12px; margin: 8px "
                          "4px 8px 0; }"
                          "QScrollBar::handle:vertical { background: %1; border-radius: 4px; "
                          "min-height: 32px; }"
                          "QScrollBar::handle:vertical:hover { background: %2; }"
                          "QScrollBar:horizontal { background: transparent; height: 12px; margin: "
                          "0 8px 4px 8px; }"
                          "QScrollBar::handle:horizontal { background: %1; border-radius: 4px; "
                          "min-width: 32px; }"
                          "QScrollBar::handle:horizontal:hover { background: %2; }"
                          "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
                          "QScrollBar::add-page, QScrollBar::sub-page { background: none; }"
                          "QToolTip { color: white; background: %3; border: 1px solid %4; }")
        .arg(handle, handleHover, rgba(chrome::base()), rgba(chrome::toolTipBorder()));
}

bool hasDisplay() {
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
}

} // namespace

void applyDarkTheme(QApplication& application) {
    // The panel is dark whatever the desktop's theme.
    if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion")))
        QApplication::setStyle(fusion);
    QApplication::setPalette(darkPalette());
    application.setStyleSheet(styleSheet());
}

namespace {

// Replaces the installed translator in slot with one loaded from catalog in directory; an
// empty catalog, or one that does not load, leaves the slot empty.
bool replaceTranslator(std::unique_ptr<QTranslator>& slot, const QString& catalog,
                       const QString& directory) {
    if (slot) {
        QCoreApplication::removeTranslator(slot.get());
        slot.reset();
    }
    if (catalog.isEmpty())
        return false;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(catalog, directory))
        return false;
    QCoreApplication::installTranslator(translator.get());
    slot = std::move(translator);
    return true;
}

} // namespace

bool installTranslations(const QLocale& locale) {
    static std::unique_ptr<QTranslator> panel;
    static std::unique_ptr<QTranslator> qt;
    const bool chinese = locale.language() == QLocale::Chinese;
    // Qt's own texts (the folder chooser, the editor's context menu) follow the panel's
    // language; in English they need no catalog.
    replaceTranslator(qt, chinese ? QStringLiteral("qtbase_zh_CN") : QString(),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath));
    return replaceTranslator(panel,
                             chinese ? QStringLiteral("zelto_zh_CN") : QStringLiteral("zelto_en"),
                             QStringLiteral(":/i18n"));
}

void configureApplication(QApplication& application) {
    identity::applyToApplication();
    // Ties the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zelto.Panel"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/org.zelto.Panel.svg")));
    applyDarkTheme(application);
    installTranslations(QLocale::system());
}

PanelWindow* openPanelWindow(const ModelFactory& factory) {
    auto* window = new PanelWindow(factory(), [factory] { openPanelWindow(factory); });
    window->show();
    return window;
}

int run(int argc, char** argv) {
    DesktopSession::Options options;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zelto-panel %s\n", qPrintable(identity::applicationVersion()));
            return 0;
        }
        // As the desktop's autostart entry starts it.
        if (std::strcmp(argv[i], "--tray") == 0)
            options.inTray = true;
        else if (std::strcmp(argv[i], "--start-all") == 0)
            options.startStack = true;
    }
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "zelto-panel needs a graphical display, and none was found (neither DISPLAY "
                     "nor WAYLAND_DISPLAY is set).\n"
                     "Run it from a desktop session, or on a machine without one through a "
                     "virtual display:\n"
                     "    xvfb-run -a %s\n",
                     argc > 0 ? argv[0] : "zelto-panel");
        return 2;
    }
    QApplication application(argc, argv);
    configureApplication(application);
    auto desktop = std::make_shared<QtDesktop>();
    const ModelFactory factory = [desktop] {
        return PanelViewModel::create(Platform::system(desktop));
    };
    DesktopSession session(factory, options);
    session.begin();
    // Quitting does not wait for the removal of what an update set aside: the next run
    // removes what is left.
    QObject::connect(&application, &QCoreApplication::aboutToQuit,
                     [] { update::stopRemovingSetAside(); });
    return QApplication::exec();
}

} // namespace app
