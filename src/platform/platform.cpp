#include "platform/platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QSettings>
#include <QSysInfo>
#include <QThread>
#include <QThreadPool>

#include <deque>
#include <functional>
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

// The main thread's share of the dispatcher: the calls queued for it, run one per event.
// The calls pass from thread to thread under a lock of the program's own, so that every
// thread checker sees the hand-over (Qt's event queue hands over under locks of its own that
// such tools may not see into).
class MainQueue final : public QObject {
public:
    static constexpr QEvent::Type kRun = QEvent::User;

    void push(std::function<void()> fn) {
        {
            const std::lock_guard lock(m_mutex);
            m_calls.push_back(std::move(fn));
        }
        QCoreApplication::postEvent(this, new QEvent(kRun));
    }
    // Drops the calls that will never run (the application is going away): on the main
    // thread, like the calls themselves.
    void clear() {
        std::deque<std::function<void()>> dropped;
        const std::lock_guard lock(m_mutex);
        dropped.swap(m_calls);
    }

protected:
    void customEvent(QEvent* event) override {
        if (event->type() != kRun)
            return;
        std::function<void()> fn;
        {
            const std::lock_guard lock(m_mutex);
            if (m_calls.empty())
                return;
            fn = std::move(m_calls.front());
            m_calls.pop_front();
        }
        fn();
    }

private:
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_calls;
};

class QtDispatcher final : public Dispatcher {
public:
    QtDispatcher() {
        // Long jobs block their thread on child processes and downloads; several may run at
        // once (start-all beside an update), so the pool is not bounded by the core count.
        m_pool.setMaxThreadCount(16);
        m_pool.setExpiryTimeout(30000);
        if (QCoreApplication* app = QCoreApplication::instance())
            m_main.moveToThread(app->thread());
    }
    ~QtDispatcher() override { m_pool.waitForDone(); }

    // Lets the running jobs finish, ends every worker thread and drops the calls queued for
    // the main thread that will never run.
    void drain() {
        m_pool.waitForDone();
        m_main.clear();
    }

    void postToMain(std::function<void()> fn) override {
        // After the application object is gone (process exit) there is no main loop left
        // to run the call; it is dropped.
        if (QCoreApplication::instance())
            m_main.push(std::move(fn));
    }
    void runInBackground(std::function<void()> fn) override { m_pool.start(std::move(fn)); }
    bool isMainThread() const override {
        return QCoreApplication::instance() &&
               QThread::currentThread() == QCoreApplication::instance()->thread();
    }

private:
    QThreadPool m_pool;
    MainQueue m_main;
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

std::shared_ptr<Dispatcher> qtDispatcher() {
    // One pool for the process: every model's jobs share it.
    static const std::shared_ptr<QtDispatcher> dispatcher = [] {
        // The worker threads end with the application object, before the libraries' exit
        // handlers run: OpenSSL, for one, frees a thread's state (error queue, random
        // generator) only when the thread ends before its own clean-up.
        qAddPostRoutine([] { dispatcher->drain(); });
        return std::make_shared<QtDispatcher>();
    }();
    return dispatcher;
}

QString systemMachineArchitecture() {
    const QString arch = QSysInfo::currentCpuArchitecture();
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
