#pragma once

#include "platform/dispatcher.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// The boundary between the panel's logic and the operating system. Each service is a small
// interface handed to the model at construction; the real implementations are the defaults
// and tests replace them (a desktop recorder, an in-memory preference store, temporary
// application directories, scripts standing in for system tools).

// Where the application lives. On Linux the directory holding the executable is the
// application and its "resources" directory is the resource directory.
class AppLocations {
public:
    virtual ~AppLocations() = default;
    // The application itself (the directory that is the application on Linux).
    virtual QString applicationPath() const = 0;
    // The application's resource directory, or nothing when the application has none.
    virtual std::optional<QString> resourcePath() const = 0;
};

// A persistent string store (the user's preferences).
class Preferences {
public:
    virtual ~Preferences() = default;
    virtual std::optional<QString> string(const QString& key) const = 0;
    virtual void setString(const QString& key, const QString& value) = 0;
};

// The desktop: browser, file browser, clipboard, folder chooser, system settings.
class Desktop {
public:
    virtual ~Desktop() = default;
    // Hands an address to the default handler (browser, file browser). Returns whether the
    // desktop accepted it.
    virtual bool openUrl(const QUrl& url) = 0;
    // Clears the clipboard and puts the text on it as plain text.
    virtual void setClipboardText(const QString& text) = 0;
    // Runs a modal chooser for one directory. Nothing when the user cancels.
    virtual std::optional<QString> chooseDirectory(const QString& prompt,
                                                   const QString& message) = 0;
    // Opens the desktop's privacy settings where the desktop has such a page; otherwise
    // does nothing. Returns whether something was opened.
    virtual bool openPrivacySettings() = 0;
};

// Paths of the system tools the panel starts. (Which processes hold a port and which command
// lines match, it reads itself where the system lets it, else it asks lsof, pgrep and ps:
// platform/process_table.h.)
struct SystemTools {
    QString pkill;
    QString rsync;
    QString lsof;
    QString pgrep;
    QString ps;
    // The compressor of the database's snapshots.
    QString zstd;
    // The library that lets an ordinary user's server bind a port below 1024 when a per-user
    // grant allows it (authbind's), preloaded into the phpMyAdmin server. Empty: none.
    QString privilegedPortPreload;

    // Debian's locations.
    static SystemTools debian();
    // The given pkill and rsync, without a preloaded library; lsof, pgrep and ps where Debian
    // has them.
    static SystemTools of(const QString& pkill, const QString& rsync);
};

struct Platform {
    std::shared_ptr<const AppLocations> locations;
    std::shared_ptr<Preferences> preferences;
    std::shared_ptr<Desktop> desktop;
    SystemTools tools;
    // The current local date and time, in the current time zone.
    std::function<QDateTime()> clock;
    // "arm64", "x86_64" or "未知".
    std::function<QString()> machineArchitecture;
    std::shared_ptr<Dispatcher> dispatcher;

    // The real services; the desktop comes from the graphical layer.
    static Platform system(std::shared_ptr<Desktop> desktop);
};

// The real implementations, also usable one by one.
namespace platform {
std::shared_ptr<const AppLocations> systemAppLocations();
std::shared_ptr<const AppLocations> fixedAppLocations(const QString& applicationPath,
                                                      std::optional<QString> resourcePath);
std::shared_ptr<Preferences> systemPreferences();
std::shared_ptr<Preferences> memoryPreferences();
QString systemMachineArchitecture();
} // namespace platform
