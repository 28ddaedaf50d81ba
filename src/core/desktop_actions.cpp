#include "core/diagnostics.h"
#include "core/panel_view_model.h"

void PanelViewModel::copyLogs() {
    m_platform.desktop->setClipboardText(m_logs);
}

void PanelViewModel::openPhpMyAdmin() {
    if (!isPhpMyAdminRunning()) {
        // A failed start shows as "stopped" in the refreshed status; its report goes to the
        // diagnostics, as this action writes no log of its own.
        if (const QString report = startPhpMyAdmin(); !report.isEmpty())
            reportIgnored(Error{report, phpMyAdminDir(), QStringLiteral("start")},
                          "open phpMyAdmin");
        refreshStatus();
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
