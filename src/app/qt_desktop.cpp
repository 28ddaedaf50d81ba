#include "app/qt_desktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFileDialog>
#include <QProcess>
#include <QStandardPaths>

bool QtDesktop::openUrl(const QUrl& url) {
    return QDesktopServices::openUrl(url);
}

void QtDesktop::setClipboardText(const QString& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(text);
}

std::optional<QString> QtDesktop::chooseDirectory(const QString& prompt, const QString& message) {
    QFileDialog dialog(QApplication::activeWindow());
    dialog.setWindowTitle(message);
    dialog.setLabelText(QFileDialog::LookIn, message);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    dialog.setFileMode(QFileDialog::Directory);
    // Qt's own dialog honours the accept label and follows the panel's dark palette.
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty() || chosen.first().isEmpty())
        return std::nullopt;
    return chosen.first();
}

QStringList
QtDesktop::privacySettingsCommand(const QString& currentDesktop,
                                  const std::function<QString(const QString&)>& findExecutable) {
    const QStringList desktops = currentDesktop.toUpper().split(QLatin1Char(':'));
    auto named = [&](std::initializer_list<const char*> names) {
        for (const char* name : names) {
            if (desktops.contains(QString::fromLatin1(name)))
                return true;
        }
        return false;
    };
    if (named({"GNOME", "UNITY", "BUDGIE", "POP", "UBUNTU"})) {
        const QString program = findExecutable(QStringLiteral("gnome-control-center"));
        if (!program.isEmpty())
            return {program, QStringLiteral("privacy")};
    }
    if (named({"KDE"})) {
        for (const char* name : {"systemsettings", "systemsettings5"}) {
            const QString program = findExecutable(QString::fromLatin1(name));
            if (!program.isEmpty())
                return {program, QStringLiteral("kcm_recentFiles")};
        }
    }
    return {};
}

bool QtDesktop::openPrivacySettings() {
    const QStringList command = privacySettingsCommand(
        qEnvironmentVariable("XDG_CURRENT_DESKTOP"),
        [](const QString& name) { return QStandardPaths::findExecutable(name); });
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.first(), command.mid(1));
}
