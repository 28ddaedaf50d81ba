#pragma once

#include <QObject>

// The main panel and its window, driving a model in a sandbox.
class TestPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void freshPanelShowsInitialState();
    void firstShowAsksForStatusOnce();
    void progressCardVisibility_data();
    void progressCardVisibility();
    void noticesAppearAndDisappear();
    void readinessLine_data();
    void readinessLine();
    void badgesAndCardsFollowStatus_data();
    void badgesAndCardsFollowStatus();
    void gridsAdaptToWidth_data();
    void gridsAdaptToWidth();
    void buttonsCallTheirOperation_data();
    void buttonsCallTheirOperation();
    void bothPhpMyAdminButtonsOpenIt();
    void startAllButton();
    void stopAllButton();
    void updateButton();
    void keyboardActivatesButtons();
    void everyButtonAndCardIsNamed();
    void typingChangesLogs();
    void modelLogReachesEditor();
    void windowShell();
    void newWindowHasItsOwnModel();
    void closingWindowLeavesJobToFinish();
    void draggingBackgroundMovesWindow();
    void screenshots();
};
