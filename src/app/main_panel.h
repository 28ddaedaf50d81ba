#pragma once

#include "app/server_logs_window.h"

#include <QPointer>
#include <QWidget>

#include <memory>
#include <vector>

class AdaptiveGridLayout;
class GroupedPanel;
class HeroHeader;
class IconButton;
class LogPanel;
class PanelViewModel;
class ProgressCard;
class QAction;
class QLabel;
class QMenu;
class QScrollArea;
class StatusStrip;
class Surface;
class WarningCard;

// The window's whole content: a dark gradient backdrop and, over it, one scrolling column
// with the header, the services' cards, four sections of action buttons, the error notice
// and the log. It owns the window's model, shows its published fields, turns every button
// press into one call of a model operation and asks for the first status when first shown.
class MainPanel : public QWidget {
    Q_OBJECT
public:
    explicit MainPanel(std::shared_ptr<PanelViewModel> model, QWidget* parent = nullptr);
    ~MainPanel() override;

    PanelViewModel& model() const { return *m_model; }

    // Space kept free at the top of the column for the window's own title strip; the
    // backdrop still runs under it.
    void setTopInset(int inset);

    // Brings every component up to date with the model now (changes are otherwise applied
    // together on the next turn of the event loop).
    void render();

    // For tests and accessibility tools.
    HeroHeader* header() const { return m_header; }
    StatusStrip* statusStrip() const { return m_strip; }
    GroupedPanel* section(int index) const { return m_sections[index]; }
    AdaptiveGridLayout* buttonGrid(int index) const { return m_grids[index]; }
    const std::vector<IconButton*>& buttons() const { return m_buttons; }
    ProgressCard* progressCard() const { return m_progress; }
    WarningCard* permissionNotice() const { return m_permissionNotice; }
    WarningCard* errorNotice() const { return m_errorNotice; }
    LogPanel* logPanel() const { return m_log; }
    QScrollArea* scrollArea() const { return m_scroll; }
    // The database backups section's line about the newest snapshot, and the menu of
    // snapshots the restore button pops up (its items are made anew each time it shows).
    QLabel* lastBackupLabel() const { return m_lastBackup; }
    QMenu* restoreMenu() const { return m_restoreMenu; }
    QAction* dropOthersAction() const { return m_dropOthers; }
    // The servers' logs window, once the button has opened it.
    ServerLogsWindow* serverLogsWindow() const { return m_serverLogs; }
    // Opens the servers' logs window, or brings it to the front.
    void showServerLogs();
    // Whether the first status probe has been requested.
    bool firstStatusRequested() const { return m_statusRequested; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void buildButtons();
    void scheduleRender();
    void requestFirstStatus();
    void fillRestoreMenu();
    void popUpRestoreMenu(IconButton* under);

    std::shared_ptr<PanelViewModel> m_model;
    QScrollArea* m_scroll = nullptr;
    Surface* m_column = nullptr;
    HeroHeader* m_header = nullptr;
    StatusStrip* m_strip = nullptr;
    static constexpr int kSectionCount = 4;
    GroupedPanel* m_sections[kSectionCount] = {};
    AdaptiveGridLayout* m_grids[kSectionCount] = {};
    std::vector<IconButton*> m_buttons;
    IconButton* m_undoButton = nullptr;
    IconButton* m_debuggingSwitch = nullptr;
    ProgressCard* m_progress = nullptr;
    WarningCard* m_permissionNotice = nullptr;
    WarningCard* m_errorNotice = nullptr;
    LogPanel* m_log = nullptr;
    QLabel* m_lastBackup = nullptr;
    QMenu* m_restoreMenu = nullptr;
    QAction* m_dropOthers = nullptr;
    QPointer<ServerLogsWindow> m_serverLogs;
    bool m_renderPending = false;
    bool m_statusRequested = false;
};
