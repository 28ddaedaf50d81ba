#include "core/panel_view_model.h"
#include "core/process_helpers.h"

void PanelViewModel::copyLogs() {
    m_platform.desktop->setClipboardText(m_logs);
}

void PanelViewModel::openPhpMyAdmin() {
    if (!isPhpMyAdminRunning()) {
        // Started and waited for (a few seconds at most), so that the browser finds it; when it
        // does not come up, the reason follows the refreshed status in the log.
        const QString report = startPhpMyAdmin();
        refreshStatus();
        if (!report.isEmpty()) {
            setLogs(logs() + core::trimmedText(report) + QLatin1Char('\n'));
            updateErrorSummary();
        }
    }
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
    const std::optional<QString> chosen = m_platform.desktop->chooseDirectory(
        QStringLiteral("选择"), QStringLiteral("请选择 Zelto-panel 目录"));
    if (!chosen || chosen->isEmpty())
        return;
    if (isValidPanelRoot(*chosen)) {
        setSavedRoot(*chosen);
        refreshStatus();
        setLogs(QStringLiteral("已设置目录: ") + savedRoot());
    } else {
        setLogs(QStringLiteral("选择的目录不是有效的 Zelto-panel 根目录"));
    }
    updateErrorSummary();
}
