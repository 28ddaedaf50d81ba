#include "core/panel_view_model.h"

void PanelViewModel::copyLogs() {
    m_platform.desktop->setClipboardText(m_logs);
}

void PanelViewModel::openPhpMyAdmin() {
    if (!isPhpMyAdminRunning()) {
        startPhpMyAdmin(); // a failed start shows as "stopped" in the refreshed status
        refreshStatus();
    }
    m_platform.desktop->openUrl(QUrl(QStringLiteral("http://localhost:900")));
}

void PanelViewModel::openSite() {
    m_platform.desktop->openUrl(QUrl(QStringLiteral("http://localhost:8000")));
}

void PanelViewModel::openRuntimeDirectory() {
    m_platform.desktop->openUrl(QUrl::fromLocalFile(zeltoPanelRoot() + QStringLiteral("/runtime")));
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
