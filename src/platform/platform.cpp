#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QSettings>
#include <QSysInfo>

#include <map>
#include <mutex>

namespace {

class FixedAppLocations final : public AppLocations {
public:
    FixedAppLocations(QString app, std::optional<QString> resources)
        : m_app(std::move(app)), m_resources(std::move(resources)) {}
    QString applicationPath() const override { return m_app; }
    std::optional<QString> resourcePath() const override { return m_resources; }

private:
    QString m_app;
    std::optional<QString> m_resources;
};

// The application is the directory that holds the executable.
class ExecutableAppLocations final : public AppLocations {
public:
    QString applicationPath() const override { return QCoreApplication::applicationDirPath(); }
    std::optional<QString> resourcePath() const override {
        return applicationPath() + QStringLiteral("/resources");
    }
};

class SettingsPreferences final : public Preferences {
public:
    std::optional<QString> string(const QString& key) const override {
        QSettings settings;
        const QVariant v = settings.value(key);
        if (!v.isValid())
            return std::nullopt;
        return v.toString();
    }
    void setString(const QString& key, const QString& value) override {
        QSettings settings;
        settings.setValue(key, value);
        settings.sync();
    }
};

class MemoryPreferences final : public Preferences {
public:
    std::optional<QString> string(const QString& key) const override {
        std::lock_guard lock(m_mutex);
        auto it = m_values.find(key);
        if (it == m_values.end())
            return std::nullopt;
        return it->second;
    }
    void setString(const QString& key, const QString& value) override {
        std::lock_guard lock(m_mutex);
        m_values[key] = value;
    }

private:
    mutable std::mutex m_mutex;
    std::map<QString, QString> m_values;
};

} // namespace

SystemTools SystemTools::debian() {
    SystemTools t = of(QStringLiteral("/usr/bin/pkill"), QStringLiteral("/usr/bin/rsync"));
    t.privilegedPortPreload = QStringLiteral("/usr/lib/authbind/libauthbind.so.1");
    return t;
}

SystemTools SystemTools::of(const QString& pkill, const QString& rsync) {
    SystemTools t;
    t.pkill = pkill;
    t.rsync = rsync;
    t.lsof = QStringLiteral("/usr/bin/lsof");
    t.pgrep = QStringLiteral("/usr/bin/pgrep");
    t.ps = QStringLiteral("/usr/bin/ps");
    t.zstd = QStringLiteral("/usr/bin/zstd");
    return t;
}

namespace platform {

std::shared_ptr<const AppLocations> systemAppLocations() {
    return std::make_shared<ExecutableAppLocations>();
}

std::shared_ptr<const AppLocations> fixedAppLocations(const QString& applicationPath,
                                                      std::optional<QString> resourcePath) {
    return std::make_shared<FixedAppLocations>(applicationPath, std::move(resourcePath));
}

std::shared_ptr<Preferences> systemPreferences() {
    return std::make_shared<SettingsPreferences>();
}

std::shared_ptr<Preferences> memoryPreferences() {
    return std::make_shared<MemoryPreferences>();
}

QString systemMachineArchitecture() {
    QString arch = QSysInfo::currentCpuArchitecture();
    if (arch == QLatin1String("x86_64"))
        return arch;
    if (arch == QLatin1String("arm64") || arch == QLatin1String("aarch64"))
        return QStringLiteral("arm64");
    return QStringLiteral("未知");
}

} // namespace platform

Platform Platform::system(std::shared_ptr<Desktop> desktop) {
    Platform p;
    p.locations = platform::systemAppLocations();
    p.preferences = platform::systemPreferences();
    p.desktop = std::move(desktop);
    p.tools = SystemTools::debian();
    p.clock = [] { return QDateTime::currentDateTime(); };
    p.machineArchitecture = platform::systemMachineArchitecture;
    p.dispatcher = platform::qtDispatcher();
    return p;
}
