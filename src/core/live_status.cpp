#include "core/panel_view_model.h"
#include "core/status.h"
#include "platform/files.h"

#include <utility>

// --- PanelViewModel: status probed off the main thread, and the live status ---

void PanelViewModel::refreshStatusInBackground() {
    assertMainThread();
    // Queued here, so that the publications follow the order of the presses.
    probeInTurn([](PanelViewModel& model, const StatusSnapshot& snapshot) {
        model.publishStatus(snapshot);
    });
}

void PanelViewModel::probeInTurn(
    std::function<void(PanelViewModel&, const StatusSnapshot&)> publish,
    platform::JobPriority priority, std::function<void()> queued) {
    runInProbeTurn(
        [publish = std::move(publish), queued = std::move(queued)](PanelViewModel& m) {
            const StatusSnapshot snapshot = m.probeStatus();
            m.postToMain([snapshot, publish](PanelViewModel& model) { publish(model, snapshot); });
            if (queued)
                queued();
        },
        priority);
}

void PanelViewModel::runInProbeTurn(std::function<void(PanelViewModel&)> job,
                                    platform::JobPriority priority) {
    // The probes run one at a time, in the order queued, so their publications keep that
    // order.
    m_probes.enqueue(
        m_platform.dispatcher, [self = shared_from_this(), job = std::move(job)] { job(*self); },
        priority);
}

void PanelViewModel::setLiveStatus(bool on, std::chrono::milliseconds interval) {
    assertMainThread();
    if (!on) {
        m_liveTimer.stop();
        return;
    }
    m_liveTimer.setInterval(interval);
    if (!m_liveTimer.isActive()) {
        // Coarse: the operating system may gather this wake-up with others.
        m_liveTimer.setTimerType(Qt::CoarseTimer);
        connect(&m_liveTimer, &QTimer::timeout, this, &PanelViewModel::refreshLiveStatus,
                Qt::UniqueConnection);
        m_liveTimer.start();
    }
}

bool PanelViewModel::isLiveStatusOn() const {
    return m_liveTimer.isActive();
}

void PanelViewModel::refreshLiveStatus() {
    assertMainThread();
    if (m_liveProbeRunning)
        return; // the last one has not come back yet: a slow machine, skip a beat
    m_liveProbeRunning = true;
    const quint64 generation = m_statusGeneration;
    runInBackground([generation](PanelViewModel& m) {
        StatusSnapshot snapshot;
        snapshot.permissionHint = m.permissionAccessHint();
        for (const Service service : kServices)
            snapshot.status.setRunning(service, m.isServiceRunning(service));
        snapshot.phpDebugging = platform::entryExists(m.phpDebuggingMarkerPath());
        m.findUnexpectedStops(snapshot);
        m.postToMain([generation, snapshot](PanelViewModel& model) {
            model.m_liveProbeRunning = false;
            // A full status published since this probe began is newer than it.
            if (generation == model.m_statusGeneration)
                model.publishChangedStatus(snapshot);
        });
    });
}

void PanelViewModel::publishChangedStatus(const StatusSnapshot& snapshot) {
    // Only what changed, in the order of a full refresh; the log and its summary stay.
    if (snapshot.permissionHint != m_permissionHint)
        setPermissionHint(snapshot.permissionHint);
    for (const Service service : kServices) {
        if (snapshot.status.isRunning(service) != m_status.isRunning(service))
            setServiceRunning(service, snapshot.status.isRunning(service));
    }
    // Switched by another panel or the command line; a switch of this one's shows as asked
    // until it is done.
    if (m_phpDebuggingSwitches == 0)
        setPhpDebuggingShown(snapshot.phpDebugging);
    publishUnexpectedStops(snapshot);
}
