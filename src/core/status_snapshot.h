#pragma once

#include "core/service_table.h"
#include "core/unexpected_stop.h"

#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// What one status probe found: taken on any thread, published on the main thread.
struct StatusSnapshot {
    QString permissionHint;
    ServiceStatus status;
    QString panelRoot;
    // Whether a previous generation of the site is kept (the undo button shows then).
    bool undoAvailable = false;
    // Lines after the status report for a web server that is not whole (a worker ended, or
    // its main process ended while its workers serve).
    QStringList serverNotes;
    // Whether debugging is switched on.
    bool phpDebugging = false;
    // The services that stopped by themselves, until their next start (services/
    // service_watch.cpp); and those of them that this probe found first, each found once.
    std::array<std::optional<UnexpectedStop>, kServices.size()> unexpectedStops;
    std::vector<UnexpectedStop> newUnexpectedStops;
};
