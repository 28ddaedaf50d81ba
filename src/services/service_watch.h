#pragma once

#include "core/unexpected_stop.h"

#include <QString>

#include <functional>
#include <optional>

// What the runtime knows of its servers beyond what runs now: which ones a start brought up
// and no stop ended since, and which of those then stopped by themselves. Every window, panel
// and command line of the runtime reads and writes the same records, in its configuration
// directory dir:
//   .up-<service>       a server that a start brought up, with the size its log had then;
//   .stopped-<service>  the stop found since, until the next start of the service.

namespace services {

// The lines of a stop record that name a cause, at most.
inline constexpr int kUnexpectedStopLines = 3;

// A start brought the service's server up; its log held logOffset bytes before the launch. An
// earlier unexpected stop is forgotten.
void recordServiceUp(const QString& dir, Service service, qint64 logOffset);
// A stop of the panel's is about to end the service's server: its end is not unexpected.
// Written before anything is ended.
void recordIntendedStop(const QString& dir, Service service);

// For a service found stopped: when a start brought it up and nothing since meant to stop it,
// takes that record (of every caller in every process, one gets it), asks stillStopped once
// more (a start may have come between), records the stop with the last lines that logPath
// got since the start, and returns it. Otherwise nothing.
std::optional<UnexpectedStop> claimUnexpectedStop(const QString& dir, Service service,
                                                  const QString& logPath,
                                                  const std::function<bool()>& stillStopped);
// The service's recorded stop, until its next start.
std::optional<UnexpectedStop> recordedUnexpectedStop(const QString& dir, Service service);

} // namespace services
