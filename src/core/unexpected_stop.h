#pragma once

#include "core/service_table.h"

#include <QDateTime>
#include <QStringList>

// A service that stopped while the runtime held it for running: no stop of a panel or of the
// command line asked for it (a crash, a kill by hand, the machine's memory running out).
struct UnexpectedStop {
    Service service = Service::Database;
    // When it was first found stopped.
    QDateTime at;
    // The last lines (at most three) that its server wrote to its log since it started.
    QStringList lines;

    bool operator==(const UnexpectedStop&) const = default;
};
