#pragma once

#include "core/service_table.h"
#include "platform/result.h"

#include <QMetaType>
#include <QString>

#include <initializer_list>
#include <optional>
#include <vector>

// How a long operation ended, handed out once it has published its final report.

enum class Operation {
    StartAll,
    StopAll,
    UpdateOrRepair,
    UndoLastUpdate,
    BackupDatabase,
    RestoreDatabase,
    PhpDebugging,
};

struct ServiceOutcome {
    Service service = Service::Database;
    bool succeeded = false;
    // Why it did not succeed, when it did not: the first failing step, its text as reported.
    std::optional<Error> cause;
};

struct OperationOutcome {
    Operation operation = Operation::StartAll;
    // Start-all and stop-all: every service succeeded. Update: the site was synchronised and
    // found in place. Undo: the previous generation was put back. Backup: a snapshot was made
    // (or there was nothing to keep). Restore: the snapshot was loaded. Debugging: the switch
    // is as asked and a running site server was restarted with it.
    bool succeeded = false;
    // Start-all and stop-all: one per service, in table order. Debugging: the site's. The
    // others: none.
    std::vector<ServiceOutcome> services;
    // The final report, as published in the log.
    QString report;
    // Failures of steps the operation went past without reporting them (preparation and
    // clean-up); each was also logged as a warning when it happened.
    std::vector<Error> warnings;

    // The outcome of one service, or nullptr when the operation has none for it.
    const ServiceOutcome* serviceOutcome(Service service) const;
};

// One service's result from the failures of its steps, in order: the first one is the cause.
ServiceOutcome serviceOutcomeOf(Service service, std::initializer_list<std::optional<Error>> steps);
// The error of a result, or nothing.
template <class T> std::optional<Error> failureOf(const Result<T>& result) {
    return result ? std::nullopt : std::optional<Error>(result.error());
}
bool allSucceeded(const std::vector<ServiceOutcome>& services);

Q_DECLARE_METATYPE(OperationOutcome)
