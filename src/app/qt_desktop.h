#pragma once

#include "platform/platform.h"

#include <QStringList>

// The desktop as Qt reaches it on Linux: the default handlers for addresses and files, the
// system clipboard, Qt's folder chooser and, where the desktop has one, its privacy settings.
class QtDesktop final : public Desktop {
public:
    bool openUrl(const QUrl& url) override;
    void setClipboardText(const QString& text) override;
    std::optional<QString> chooseDirectory(const QString& prompt, const QString& message) override;
    bool openPrivacySettings() override;

    // The program and arguments that open the privacy settings of the desktop named by
    // currentDesktop (as in XDG_CURRENT_DESKTOP), with programs looked up by findExecutable;
    // empty when there is no such page.
    static QStringList
    privacySettingsCommand(const QString& currentDesktop,
                           const std::function<QString(const QString&)>& findExecutable);
};
