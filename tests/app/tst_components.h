#pragma once

#include <QObject>

// The panel's building blocks on their own: the adaptive grid, the progress card's
// arithmetic, the button title's fitting, wrapping notices, texts, icons and desktop helpers.
class TestComponents : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void columnCount_data();
    void columnCount();
    void gridPlacesItems_data();
    void gridPlacesItems();
    void percent_data();
    void percent();
    void progressCardShows_data();
    void progressCardShows();
    void buttonTitleFits_data();
    void buttonTitleFits();
    void buttonNeverWraps();
    void warningBodyWrapsAndIsNeverCut();
    void badgeFollowsState();
    void localeDisplayName_data();
    void localeDisplayName();
    void catalogsHaveEveryKey();
    void iconsRender();
    void privacySettingsCommand_data();
    void privacySettingsCommand();
    void continuousCornersStayInside();
};
