#include "platform/headless_desktop.h"

#include <QProcess>
#include <QStandardPaths>

#include <utility>

HeadlessDesktop::HeadlessDesktop(Opener opener) : m_opener(std::move(opener)) {}

bool HeadlessDesktop::openUrl(const QUrl& url) {
    const bool handed = m_opener && m_opener(url);
    m_opened.push_back({url, handed});
    return handed;
}

void HeadlessDesktop::setClipboardText(const QString& text) {
    m_clipboard = text;
}

std::optional<QString> HeadlessDesktop::chooseDirectory(const QString&, const QString&) {
    return std::exchange(m_chooserAnswer, std::nullopt);
}

bool HeadlessDesktop::openPrivacySettings() {
    return false;
}

void HeadlessDesktop::setChooserAnswer(std::optional<QString> directory) {
    m_chooserAnswer = std::move(directory);
}

HeadlessDesktop::Opener HeadlessDesktop::sessionOpener() {
    const bool graphical =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QString program =
        graphical ? QStandardPaths::findExecutable(QStringLiteral("xdg-open")) : QString();
    if (program.isEmpty())
        return [](const QUrl&) { return false; };
    return [program](const QUrl& url) {
        return QProcess::startDetached(program, {url.toString(QUrl::FullyEncoded)});
    };
}
