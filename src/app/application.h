#pragma once

#include <QLocale>

#include <functional>
#include <memory>

class PanelViewModel;
class PanelWindow;
class QApplication;

namespace app {

// Names, style, dark palette, fonts and texts of the application; call once after the
// QApplication exists.
void configureApplication(QApplication& application);
// Puts the dark palette and style sheet on the application (part of configureApplication).
void applyDarkTheme(QApplication& application);
// Loads the texts for a locale: Chinese for any Chinese locale, English otherwise, with Qt's
// own texts in the same language. Replaces texts loaded before. Returns whether the panel's
// catalog was loaded.
bool installTranslations(const QLocale& locale);

using ModelFactory = std::function<std::shared_ptr<PanelViewModel>()>;

// Opens a window with a new model from factory; its new-window shortcut opens further
// windows the same way, each with a model of its own.
PanelWindow* openPanelWindow(const ModelFactory& factory);

// The program: one window with the real platform; returns the exit code.
int run(int argc, char** argv);

} // namespace app
