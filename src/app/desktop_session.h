#pragma once

#include "app/application.h"
#include "core/unexpected_stop.h"

#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class DesktopNotifier;
class PanelTray;
class PanelViewModel;

namespace app {

// The panel on the desktop for the length of the process: the tray icon where the desktop has
// a tray, the notices of services that stop by themselves (window open or not), and when the
// process ends. Every model of the process comes from its factory, so that each one's
// operations and stops are seen.
class DesktopSession : public QObject {
    Q_OBJECT
public:
    struct Options {
        // Started at login: in the tray, without a window (a window where there is no tray).
        bool inTray = false;
        // Start-all at once.
        bool startStack = false;
        // Whether to use the desktop's tray; the default asks the desktop.
        std::function<bool()> trayAvailable;
        // Ends the process; the default quits the application.
        std::function<void()> quit;
    };

    DesktopSession(ModelFactory factory, Options options, QObject* parent = nullptr);
    ~DesktopSession() override;

    // Opens the window (unless in the tray) and starts the stack when asked.
    void begin();

    // A new model, watched by the session; the windows' models come from here.
    std::shared_ptr<PanelViewModel> makeModel();
    const ModelFactory& windowModels() const { return m_windowModels; }

    PanelTray* tray() const { return m_tray.get(); }
    DesktopNotifier* notifier() const { return m_notifier.get(); }
    // The session's own model: the live status, the tray's operations.
    PanelViewModel* model() const { return m_model.get(); }

    // Raises a window of the panel, or opens one.
    void showWindow();
    // Closes the windows and ends the process, once the operations under way have ended.
    void quitWhenDone();
    // Operations under way in any model of the process.
    int operationsRunning() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void lastWindowClosed();
    void operationFinished(const QString& report);
    void tellStop(const UnexpectedStop& stop);
    void setAutostart(bool startAtLogin, bool startStack);
    void readAutostart();

    ModelFactory m_factory;
    ModelFactory m_windowModels;
    Options m_options;
    std::unique_ptr<DesktopNotifier> m_notifier;
    std::shared_ptr<PanelViewModel> m_model;
    std::unique_ptr<PanelTray> m_tray;
    QList<QPointer<PanelViewModel>> m_models;
    bool m_quitWhenDone = false;
    bool m_toldKeptInTray = false;
};

} // namespace app
