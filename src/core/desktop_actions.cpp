#include "core/panel_view_model.h"
#include "core/process_helpers.h"

void PanelViewModel::copyLogs() {
    m_platform.desktop->setClipboardText(m_logs);
}

void PanelViewModel::openPhpMyAdmin() {
    if (isPhpMyAdminRunning()) {
        openPhpMyAdminAddress();
        return;
    }
    // Started and waited for (a few seconds at most), so that the browser finds it; when it
    // does not come up, the reason follows the refreshed status in the log.
    const QString report = startPhpMyAdmin();
    publishOpenedPhpMyAdmin(probeStatus(), report);
}

void PanelViewModel::openPhpMyAdminInBackground() {
    assertMainThread();
    // One opening at a time, in the order of the presses: a second press finds the server
    // the first one started, as it would if the first had held the main thread.
    m_phpMyAdminOpenings.enqueueHolding(
        m_platform.dispatcher, [self = shared_from_this()](platform::SerialQueue::Turn turn) {
            PanelViewModel& m = *self;
            if (m.isPhpMyAdminRunning()) {
                m.postToMain([](PanelViewModel& model) { model.openPhpMyAdminAddress(); });
                return;
            }
            const QString report = m.startPhpMyAdmin();
            // The status is probed in turn with the window's other probes (the wait for the
            // start holds none of them up), so the publications keep the order of the probes.
            // The next opening begins once this one's publication is queued.
            m.probeInTurn(
                [report](PanelViewModel& model, const StatusSnapshot& snapshot) {
                    model.publishOpenedPhpMyAdmin(snapshot, report);
                },
                platform::JobPriority::Normal, [turn]() mutable { turn.end(); });
        });
}

void PanelViewModel::publishOpenedPhpMyAdmin(const StatusSnapshot& snapshot,
                                             const QString& report) {
    publishStatus(snapshot);
    if (!report.isEmpty()) {
        setLogs(logs() + core::trimmedText(report) + QLatin1Char('\n'));
        updateErrorSummary();
    }
    openPhpMyAdminAddress();
}

void PanelViewModel::openPhpMyAdminAddress() {
    m_platform.desktop->openUrl(QUrl(serviceHttpAddress(Service::PhpMyAdmin)));
}

void PanelViewModel::openSite() {
    m_platform.desktop->openUrl(QUrl(serviceHttpAddress(Service::Site)));
}

void PanelViewModel::openRuntimeDirectory() {
    m_platform.desktop->openUrl(QUrl::fromLocalFile(runtimeDir()));
}

void PanelViewModel::openPrivacySettings() {
    m_platform.desktop->openPrivacySettings();
}

void PanelViewModel::choosePanelRoot() {
    if (pickPanelRoot())
        publishChosenPanelRoot(probeStatus());
}

void PanelViewModel::choosePanelRootInBackground() {
    assertMainThread();
    // The folder dialog and the check of the pick stay here; the probe under the new root
    // (whose first resolution may install the runtime) runs on a worker.
    if (!pickPanelRoot())
        return;
    probeInTurn([](PanelViewModel& model, const StatusSnapshot& snapshot) {
        model.publishChosenPanelRoot(snapshot);
    });
}

bool PanelViewModel::pickPanelRoot() {
    const std::optional<QString> chosen = m_platform.desktop->chooseDirectory(
        QStringLiteral("选择"), QStringLiteral("请选择 Zelto-panel 目录"));
    if (!chosen || chosen->isEmpty())
        return false;
    if (!isValidPanelRoot(*chosen)) {
        setLogs(QStringLiteral("选择的目录不是有效的 Zelto-panel 根目录"));
        updateErrorSummary();
        return false;
    }
    setSavedRoot(*chosen);
    return true;
}

void PanelViewModel::publishChosenPanelRoot(const StatusSnapshot& snapshot) {
    publishStatus(snapshot);
    setLogs(QStringLiteral("已设置目录: ") + savedRoot());
    updateErrorSummary();
    refreshSnapshotsInBackground(); // the new root's backups
}
