#pragma once

#include "test_support.h"

#include <QString>
#include <QUrl>

#include <memory>

class QWidget;

// A sandbox for the panel: the installed root is valid, every system tool is a script that
// records its arguments and finds nothing, and the update server is a closed local port.
struct PanelSandbox {
    explicit PanelSandbox(bool validRoot = true);

    // updateUrl empty: a closed local port, so that a download fails at once.
    std::shared_ptr<PanelViewModel> makeModel(const QUrl& updateUrl = {}) const;
    // How many times a tool (pkill, pgrep, lsof) was started.
    int toolCalls(const QString& tool) const;

    TestSandbox sandbox;
};

namespace apptest {

// Sets up the application as the program does (style, palette, names), in English.
void configureTestApplication();
// Writes widget as <build>/screenshots/<name>.png; returns the path.
QString saveScreenshot(QWidget* widget, const QString& name);

} // namespace apptest
