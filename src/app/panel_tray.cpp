#include "app/panel_tray.h"

#include "app/theme.h"
#include "core/panel_view_model.h"

#include <QAction>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

#include <algorithm>

namespace {

const QString kKeepRunningKey = QStringLiteral("keepRunningInTray");

// The panel's icon with a dot in the state's colour at its lower right.
QPixmap stateIcon(int size, const QColor& dot) {
    QPixmap pixmap = QIcon(QStringLiteral(":/org.zelto.Panel.svg")).pixmap(size, size);
    if (pixmap.isNull()) {
        pixmap = QPixmap(size, size);
        pixmap.fill(Qt::transparent);
    }
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal diameter = size * 0.5;
    const QRectF circle(size - diameter, size - diameter, diameter, diameter);
    painter.setPen(QPen(theme::color::black, size / 16.0));
    painter.setBrush(dot);
    painter.drawEllipse(circle.adjusted(1, 1, -1, -1));
    return pixmap;
}

// The first line of a report without its "===" marks: the step an operation is at.
QString stepOf(const QString& logs) {
    QString line = logs.section(QLatin1Char('\n'), 0, 0).trimmed();
    while (line.startsWith(QLatin1Char('=')))
        line.remove(0, 1);
    while (line.endsWith(QLatin1Char('=')))
        line.chop(1);
    return line.trimmed();
}

} // namespace

PanelTray::PanelTray(std::shared_ptr<PanelViewModel> model, Actions actions, QObject* parent)
    : QObject(parent), m_model(std::move(model)), m_actions(std::move(actions)),
      m_icon(new QSystemTrayIcon(this)) {
    PanelViewModel* m = m_model.get();
    addAction(QStringLiteral("trayStartAll"), qtTrId("action.start_all"), [m] { m->startAll(); });
    addAction(QStringLiteral("trayStopAll"), qtTrId("action.stop_all"), [m] { m->stopAll(); });
    m_menu.addSeparator();
    addAction(QStringLiteral("trayOpenSite"), qtTrId("action.open_website"),
              [m] { m->openSite(); });
    addAction(QStringLiteral("trayOpenPhpMyAdmin"), qtTrId("action.database_admin"),
              [m] { m->openPhpMyAdmin(); });
    addAction(QStringLiteral("trayShowWindow"), qtTrId("tray.show_window"), [this] {
        if (m_actions.showWindow)
            m_actions.showWindow();
    });
    m_menu.addSeparator();
    QAction* keep = addAction(QStringLiteral("trayKeepRunning"), qtTrId("tray.keep_running"), {});
    keep->setCheckable(true);
    keep->setChecked(keepRunning());
    connect(keep, &QAction::toggled, this, [m](bool on) {
        m->platform().preferences->setString(kKeepRunningKey,
                                             on ? QStringLiteral("on") : QStringLiteral("off"));
    });
    QAction* login =
        addAction(QStringLiteral("trayStartAtLogin"), qtTrId("tray.start_at_login"), {});
    QAction* stack =
        addAction(QStringLiteral("trayStartStackAtLogin"), qtTrId("tray.start_stack_at_login"), {});
    for (QAction* a : {login, stack})
        a->setCheckable(true);
    // The stack starts at login only with the panel: either switch writes both.
    connect(login, &QAction::triggered, this, [this, stack](bool on) {
        if (m_actions.setAutostart)
            m_actions.setAutostart(on, on && stack->isChecked());
    });
    connect(stack, &QAction::triggered, this, [this, login](bool on) {
        if (m_actions.setAutostart)
            m_actions.setAutostart(on || login->isChecked(), on);
    });
    m_menu.addSeparator();
    addAction(QStringLiteral("trayQuit"), qtTrId("tray.quit"), [this] {
        if (m_actions.quit)
            m_actions.quit();
    });
    m_icon->setContextMenu(&m_menu);
    // A click on the icon itself shows the window.
    connect(m_icon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger && m_actions.showWindow)
            m_actions.showWindow();
    });
    watch(m);
}

PanelTray::~PanelTray() {
    m_icon->setContextMenu(nullptr);
}

bool PanelTray::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void PanelTray::show() {
    update();
    m_icon->show();
}

void PanelTray::watch(PanelViewModel* model) {
    m_watched.push_back(model);
    connect(model, &PanelViewModel::changed, this, &PanelTray::update);
    connect(model, &PanelViewModel::operationsChanged, this, &PanelTray::update);
    update();
}

QAction* PanelTray::addAction(const QString& name, const QString& text,
                              std::function<void()> triggered) {
    QAction* action = m_menu.addAction(text);
    action->setObjectName(name);
    if (triggered)
        connect(action, &QAction::triggered, this,
                [triggered = std::move(triggered)] { triggered(); });
    return action;
}

QAction* PanelTray::action(const QString& name) const {
    return m_menu.findChild<QAction*>(name);
}

bool PanelTray::keepRunning() const {
    return m_model->platform().preferences->string(kKeepRunningKey).value_or(QString()) !=
           QStringLiteral("off");
}

void PanelTray::showAutostart(bool startAtLogin, bool startStack) const {
    for (const auto& [name, on] :
         {std::pair{QStringLiteral("trayStartAtLogin"), startAtLogin},
          std::pair{QStringLiteral("trayStartStackAtLogin"), startStack}}) {
        QAction* a = action(name);
        const QSignalBlocker quiet(a);
        a->setChecked(on);
    }
}

void PanelTray::showMessage(const QString& title, const QString& body) {
    m_icon->showMessage(title, body, iconFor(m_state));
}

QString PanelTray::toolTip() const {
    QString line;
    switch (m_state) {
    case TrayState::AllRunning:
        line = qtTrId("tray.all_running");
        break;
    case TrayState::SomeRunning:
        line = qtTrId("tray.some_running").arg(m_running).arg(kServices.size());
        break;
    case TrayState::NoneRunning:
        line = qtTrId("tray.none_running");
        break;
    case TrayState::Busy:
        line = qtTrId("tray.busy").arg(m_step);
        break;
    }
    return qtTrId("app.title") + QLatin1Char('\n') + line;
}

QIcon PanelTray::iconFor(TrayState state) const {
    QColor dot = theme::color::gray;
    switch (state) {
    case TrayState::AllRunning:
        dot = theme::color::green;
        break;
    case TrayState::SomeRunning:
        dot = theme::color::orange;
        break;
    case TrayState::NoneRunning:
        break;
    case TrayState::Busy:
        dot = theme::color::accent;
        break;
    }
    QIcon icon;
    for (const int size : {16, 22, 32, 48, 64})
        icon.addPixmap(stateIcon(size, dot));
    return icon;
}

void PanelTray::update() {
    m_watched.removeIf([](const QPointer<PanelViewModel>& m) { return m.isNull(); });
    const ServiceStatus status = m_model->status();
    const int running = int(std::ranges::count_if(
        kServices, [&status](Service service) { return status.isRunning(service); }));
    TrayState state = running == int(kServices.size())
                          ? TrayState::AllRunning
                          : (running > 0 ? TrayState::SomeRunning : TrayState::NoneRunning);
    QString step;
    for (const QPointer<PanelViewModel>& m : m_watched) {
        if (m->operationsRunning() > 0) {
            state = TrayState::Busy;
            step = m->updateProgressText().isEmpty() ? stepOf(m->logs()) : m->updateProgressText();
            break;
        }
    }
    const bool iconChanged = state != m_state || m_icon->icon().isNull();
    m_state = state;
    m_running = running;
    m_step = step;
    if (iconChanged)
        m_icon->setIcon(iconFor(state));
    const QString tip = toolTip();
    if (m_icon->toolTip() != tip)
        m_icon->setToolTip(tip);
}
