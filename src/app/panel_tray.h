#pragma once

#include <QIcon>
#include <QList>
#include <QMenu>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class PanelViewModel;
class QAction;
class QSystemTrayIcon;

// What the tray icon shows: how many of the services run, or that an operation is under way.
enum class TrayState { AllRunning, SomeRunning, NoneRunning, Busy };

// The panel in the desktop's tray: an icon and a tooltip that follow the stack's state, and a
// menu that starts, stops and opens it with no window open. Its own model (the tray's) runs the
// live status and the menu's operations; the windows' models are watched for their operations.
class PanelTray : public QObject {
    Q_OBJECT
public:
    struct Actions {
        std::function<void()> showWindow;
        std::function<void()> quit;
        // The switches of the start at login, written off the main thread.
        std::function<void(bool startAtLogin, bool startStack)> setAutostart;
    };

    PanelTray(std::shared_ptr<PanelViewModel> model, Actions actions, QObject* parent = nullptr);
    ~PanelTray() override;

    // Whether the desktop shows tray icons.
    static bool isAvailable();

    // Shows the icon (or, where the desktop has no tray, keeps everything ready unseen).
    void show();
    // Follows the operations of a window's model too.
    void watch(PanelViewModel* model);

    TrayState state() const { return m_state; }
    QString toolTip() const;
    QSystemTrayIcon* icon() const { return m_icon; }
    QMenu* menu() { return &m_menu; }
    // The menu's entry by its object name (trayStartAll, trayStopAll, trayOpenSite,
    // trayOpenPhpMyAdmin, trayShowWindow, trayKeepRunning, trayStartAtLogin,
    // trayStartStackAtLogin, trayQuit).
    QAction* action(const QString& name) const;

    // "Keep running in the tray": remembered in the preferences, on unless switched off.
    bool keepRunning() const;
    // The switches of the start at login as read back from the desktop's autostart entry.
    void showAutostart(bool startAtLogin, bool startStack) const;

    void showMessage(const QString& title, const QString& body);

private:
    void update();
    QAction* addAction(const QString& name, const QString& text, std::function<void()> triggered);
    QIcon iconFor(TrayState state) const;

    std::shared_ptr<PanelViewModel> m_model;
    Actions m_actions;
    QSystemTrayIcon* m_icon;
    QMenu m_menu;
    QList<QPointer<PanelViewModel>> m_watched;
    TrayState m_state = TrayState::NoneRunning;
    int m_running = 0;
    QString m_step;
};
