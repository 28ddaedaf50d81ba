#pragma once

#include "platform/platform.h"

#include <functional>
#include <optional>
#include <vector>

// The desktop for a front end that may run where there is none (a terminal, a server, a
// job). Addresses go to the session's opener when there is a graphical session; either way
// they are recorded, so that the caller can print what was not opened. There is no modal
// chooser: the directory it would return is given beforehand. The clipboard is a record.
class HeadlessDesktop final : public Desktop {
public:
    struct Opened {
        QUrl url;
        bool handedToDesktop = false;
    };
    // opener hands an address to the desktop and says whether it took it.
    using Opener = std::function<bool(const QUrl&)>;

    explicit HeadlessDesktop(Opener opener = sessionOpener());

    bool openUrl(const QUrl& url) override;
    void setClipboardText(const QString& text) override;
    std::optional<QString> chooseDirectory(const QString& prompt, const QString& message) override;
    bool openPrivacySettings() override;

    // What the next chooseDirectory returns (nothing: as if cancelled). Used once.
    void setChooserAnswer(std::optional<QString> directory);
    const std::vector<Opened>& opened() const { return m_opened; }
    const std::optional<QString>& clipboardText() const { return m_clipboard; }

    // xdg-open, when a graphical session is present (DISPLAY or WAYLAND_DISPLAY set) and the
    // program is installed; otherwise an opener that takes nothing.
    static Opener sessionOpener();

private:
    Opener m_opener;
    std::vector<Opened> m_opened;
    std::optional<QString> m_clipboard;
    std::optional<QString> m_chooserAnswer;
};
