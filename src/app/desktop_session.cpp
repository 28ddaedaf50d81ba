#include "app/desktop_session.h"

#include "app/desktop_notifier.h"
#include "app/panel_tray.h"
#include "app/panel_window.h"
#include "core/autostart.h"
#include "core/panel_view_model.h"

#include <QApplication>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace app {

namespace {

// The live status of the session's model: a service that stops is told within this and the
// time of one probe.
constexpr std::chrono::milliseconds kWatchInterval{1000};

QList<PanelWindow*> openWindows() {
    QList<PanelWindow*> windows;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<PanelWindow*>(widget); window && window->isVisible())
            windows.push_back(window);
    }
    return windows;
}

} // namespace

DesktopSession::DesktopSession(ModelFactory factory, Options options, QObject* parent)
    : QObject(parent), m_factory(std::move(factory)), m_options(std::move(options)),
      m_notifier(std::make_unique<DesktopNotifier>()) {
    if (!m_options.trayAvailable)
        m_options.trayAvailable = &PanelTray::isAvailable;
    if (!m_options.quit)
        m_options.quit = [] { QCoreApplication::quit(); };
    m_windowModels = [this] { return makeModel(); };
    m_model = makeModel();
    if (m_options.trayAvailable()) {
        m_tray = std::make_unique<PanelTray>(
            m_model,
            PanelTray::Actions{[this] { showWindow(); }, [this] { quitWhenDone(); },
                               [this](bool login, bool stack) { setAutostart(login, stack); }});
        m_notifier->setFallback([this](const QString& title, const QString& body) {
            m_tray->showMessage(title, body);
        });
        // The windows may all close: the tray, the live status and the notices stay.
        QApplication::setQuitOnLastWindowClosed(false);
        // Every close of a panel window is seen (the application's own signal comes only
        // from its event loop's exec()).
        qApp->installEventFilter(this);
        readAutostart();
    }
    m_model->setLiveStatus(true, kWatchInterval);
    m_model->refreshStatusInBackground();
}

DesktopSession::~DesktopSession() = default;

std::shared_ptr<PanelViewModel> DesktopSession::makeModel() {
    std::shared_ptr<PanelViewModel> model = m_factory();
    m_models.push_back(model.get());
    connect(model.get(), &PanelViewModel::serviceStoppedUnexpectedly, this,
            &DesktopSession::tellStop);
    connect(model.get(), &PanelViewModel::finished, this,
            [this](const OperationOutcome& outcome) { operationFinished(outcome.report); });
    if (m_tray)
        m_tray->watch(model.get());
    return model;
}

void DesktopSession::begin() {
    if (!m_options.inTray || !m_tray)
        openPanelWindow(m_windowModels);
    if (m_tray)
        m_tray->show();
    if (m_options.startStack)
        m_model->startAll();
}

void DesktopSession::showWindow() {
    const QList<PanelWindow*> windows = openWindows();
    if (windows.isEmpty()) {
        openPanelWindow(m_windowModels);
        return;
    }
    PanelWindow* window = windows.front();
    window->showNormal();
    window->raise();
    window->activateWindow();
}

int DesktopSession::operationsRunning() const {
    int running = 0;
    for (const QPointer<PanelViewModel>& m : m_models) {
        if (m)
            running += m->operationsRunning();
    }
    return running;
}

void DesktopSession::quitWhenDone() {
    m_quitWhenDone = true;
    for (PanelWindow* window : openWindows())
        window->close();
    operationFinished(QString());
}

bool DesktopSession::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && qobject_cast<PanelWindow*>(watched)) {
        // Once the window is hidden (or its close refused).
        QTimer::singleShot(0, this, [this] {
            if (openWindows().isEmpty())
                lastWindowClosed();
        });
    }
    return QObject::eventFilter(watched, event);
}

void DesktopSession::lastWindowClosed() {
    if (!m_quitWhenDone && m_tray && m_tray->keepRunning()) {
        if (!m_toldKeptInTray) {
            m_toldKeptInTray = true;
            m_tray->showMessage(qtTrId("app.title"), qtTrId("tray.kept"));
        }
        return;
    }
    // An operation under way (an update above all) ends first; the process stays in the tray
    // until then.
    m_quitWhenDone = true;
    operationFinished(QString());
}

void DesktopSession::operationFinished(const QString& report) {
    m_models.removeIf([](const QPointer<PanelViewModel>& m) { return m.isNull(); });
    if (!m_quitWhenDone || operationsRunning() > 0 || !openWindows().isEmpty())
        return;
    if (!report.isEmpty())
        m_notifier->notify(qtTrId("app.title"),
                           qtTrId("notify.run_ended").arg(report.section(QLatin1Char('\n'), 0, 0)));
    m_options.quit();
}

void DesktopSession::tellStop(const UnexpectedStop& stop) {
    const QString body =
        stop.lines.isEmpty() ? qtTrId("notify.no_log_lines") : stop.lines.join(QLatin1Char('\n'));
    m_notifier->notify(qtTrId("notify.stopped_unexpectedly").arg(serviceLabel(stop.service)), body);
}

void DesktopSession::setAutostart(bool startAtLogin, bool startStack) {
    QPointer<DesktopSession> self(this);
    QThreadPool::globalInstance()->start([self, startAtLogin, startStack] {
        const Result<> written =
            core::setAutostart(startAtLogin, startStack, core::installedPanelExecutable());
        const core::AutostartState state = core::autostartState();
        QMetaObject::invokeMethod(qApp, [self, written, state] {
            if (!self || !self->m_tray)
                return;
            self->m_tray->showAutostart(state.enabled, state.startStack);
            if (!written) {
                const Error& error = written.error();
                self->m_tray->showMessage(qtTrId("tray.start_at_login"),
                                          error.path.isEmpty()
                                              ? error.message
                                              : error.message + QStringLiteral(": ") + error.path);
            }
        });
    });
}

void DesktopSession::readAutostart() {
    QPointer<DesktopSession> self(this);
    QThreadPool::globalInstance()->start([self] {
        const core::AutostartState state = core::autostartState();
        QMetaObject::invokeMethod(qApp, [self, state] {
            if (self && self->m_tray)
                self->m_tray->showAutostart(state.enabled, state.startStack);
        });
    });
}

} // namespace app
