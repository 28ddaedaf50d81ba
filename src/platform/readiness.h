#pragma once

#include "port_holder.h"

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace platform {

// Waiting until freshly launched servers accept connections on their ports.

struct ReadinessProbe {
    quint16 port = 0;
    std::chrono::milliseconds limit{5000};
    // True when the listener on the port is the server this run launched.
    std::function<bool(const PortHolder&)> isOwnServer;
    // True while what this run launched still runs; once false, the probe ends at once.
    std::function<bool()> launchAlive;
    // The processes that most likely listen once the port answers (the launched server),
    // asked first when the listener is named; may be empty.
    std::function<std::vector<pid_t>()> likelyHolders;
};

enum class Readiness {
    Ready,    // the port accepts connections and its listener is the launched server
    Ended,    // the launched server ended without becoming ready
    TimedOut, // the limit passed first
    Stopped,  // a stop was asked for first (see waitUntilReady's stopAsked)
};

struct ReadinessResult {
    Readiness state = Readiness::TimedOut;
    // The port's listener: the server when ready, else the other program there, if any.
    std::optional<PortHolder> holder;
};

// Probes every port at the same time with non-blocking connects to 127.0.0.1, each until it
// is ready, its server ended or its own limit passed; returns when all probes have ended.
// The results are in the order of the probes. stopAsked, when given, is asked every few tens
// of milliseconds; once it is true, every probe still waiting ends as Stopped.
std::vector<ReadinessResult> waitUntilReady(const std::vector<ReadinessProbe>& probes,
                                            const std::function<bool()>& stopAsked = {});

// Waits until nothing that waitsFor accepts listens on any of the ports, or until limit
// passed: without waitsFor, until nothing listens at all. waitsFor(i, holder) is asked about
// the listener on ports[i] (a few times a second, for naming one reads the process table).
// Returns, per port in order, the listener that is still there (nothing when the port is free).
std::vector<std::optional<PortHolder>>
waitUntilPortsFree(const std::vector<quint16>& ports, std::chrono::milliseconds limit,
                   const std::function<bool(size_t, const PortHolder&)>& waitsFor = {});

// Waits until none of the processes is alive any more, until limit passed, or until stopAsked
// (when given) is true.
void waitUntilEnded(const std::vector<pid_t>& pids, std::chrono::milliseconds limit,
                    const std::function<bool()>& stopAsked = {});

} // namespace platform
