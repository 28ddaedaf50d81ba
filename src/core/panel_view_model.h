#pragma once

#include "core/panel_config.h"
#include "platform/platform.h"
#include "platform/process.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

// Which of the three services were found running.
struct ServiceStatus {
    bool mysqlRunning = false;
    bool phpWebRunning = false;
    bool phpMyAdminRunning = false;
};

// The panel's one model and controller. It holds the state the window shows and every
// operation behind the window's buttons. Published fields are assigned on the main thread
// only, and each assignment emits changed() once. Long operations run their work on a worker
// thread and post each change of published state back to the main thread; the jobs hold the
// model (it is always owned by a shared_ptr, see create()).
//
// Members are defined in the .cpp of the subsystem that owns them (named per group below).
class PanelViewModel : public QObject, public std::enable_shared_from_this<PanelViewModel> {
    Q_OBJECT
    Q_PROPERTY(QString logs READ logs WRITE setLogs NOTIFY changed)
    Q_PROPERTY(QString errorSummary READ errorSummary NOTIFY changed)
    Q_PROPERTY(QString permissionHint READ permissionHint NOTIFY changed)
    Q_PROPERTY(double updateProgress READ updateProgress NOTIFY changed)
    Q_PROPERTY(QString updateProgressText READ updateProgressText NOTIFY changed)

public:
    // --- Construction and published state (core/panel_view_model.cpp) ---

    // The model is always owned by a shared_ptr whose last release deletes it on the main
    // thread, wherever that release happens.
    static std::shared_ptr<PanelViewModel> create(Platform platform, PanelConfig config = {});
    ~PanelViewModel() override;

    const Platform& platform() const { return m_platform; }
    const PanelConfig& config() const { return m_config; }
    QUrl updateZipBaseURL() const { return m_updateZipBaseURL; }

    ServiceStatus status() const { return m_status; }
    QString logs() const { return m_logs; }
    QString errorSummary() const { return m_errorSummary; }
    QString permissionHint() const { return m_permissionHint; }
    double updateProgress() const { return m_updateProgress; }
    QString updateProgressText() const { return m_updateProgressText; }

    // Assignments of published fields: main thread only, each emits changed() once. The log
    // editor writes logs; the model's operations write the rest.
    void setLogs(const QString& logs);
    void setErrorSummary(const QString& summary);
    void setPermissionHint(const QString& hint);
    void setUpdateProgress(double progress);
    void setUpdateProgressText(const QString& text);
    void setMysqlRunning(bool running);
    void setPhpWebRunning(bool running);
    void setPhpMyAdminRunning(bool running);

    // The user's picked panel root, read from and written to the preference store at once.
    QString savedRoot() const;
    void setSavedRoot(const QString& root);

    // --- Operations behind the window's buttons ---
    void refreshStatus();        // core/status.cpp
    void startAll();             // services/start_all.cpp
    void stopAll();              // services/stop_all.cpp
    void updateOrRepairFiles();  // update/update_pipeline.cpp
    void copyLogs();             // core/desktop_actions.cpp
    void openPhpMyAdmin();       // core/desktop_actions.cpp
    void openRuntimeDirectory(); // core/desktop_actions.cpp
    void openSite();             // core/desktop_actions.cpp
    void openPrivacySettings();  // core/desktop_actions.cpp
    void choosePanelRoot();      // core/desktop_actions.cpp

    // --- Panel root and runtime layout (core/runtime_root.cpp) ---
    // Resolved anew on every read, on any thread; installs the shipped runtime on first use.
    QString zeltoPanelRoot() const;
    bool isValidPanelRoot(const QString& path) const;
    std::optional<QString> ensureInstalledRuntimeRoot() const;
    std::optional<QString> bundledPanelRoot() const;
    QString autoDetectedPanelRoot() const;
    std::optional<QUrl> appBundleRoot() const;

    QString runtimeDir() const;
    QString cfgDir() const;
    QString phpWebPidPath() const;
    QString phpWebLogPath() const;
    QString phpMyAdminPidPath() const;
    QString phpMyAdminLogPath() const;
    QString mysqlDir() const;
    QString mysqlDataDir() const;
    QString mysqlCnfPath() const;
    QString phpMyAdminDir() const;
    QString phpMyAdminConfigPath() const;
    QString wwwDir() const;

    // --- Process and file helpers (core/process_helpers.cpp) ---
    QString runProcess(const QString& executable, const QStringList& args) const;
    QString killByPattern(const QString& pattern) const;
    bool isRunning(const QStringList& command) const;
    std::optional<QString> readTextFile(const QString& path) const;
    QString makeDir(const QString& path) const;
    QString tryWrite(const QString& path, const QString& content) const;
    std::optional<pid_t> mysqlPidFromPort3306() const;

    // --- PHP server launcher (core/php_launcher.cpp) ---
    static const QStringList phpCandidates;
    QStringList phpBinCandidates() const;
    QString phpBinDisplay() const;
    QString launchPhpServer(const QString& port, const QString& documentRoot,
                            const QString& pidPath, const QString& logPath, const QString& label);
    std::optional<QString> phpArchMismatchMessage(const QString& phpPath,
                                                  const LaunchError& error) const;

    // --- Status probing and diagnostics (core/status.cpp) ---
    void updateErrorSummary();
    QString permissionCheckHint() const;
    bool isMariaDBRunning() const;
    bool isPhpWebRunning() const;
    bool isPhpMyAdminRunning() const;

    // --- Log blocks (core/log_block.cpp) ---
    static QString buildLogBlock(const QString& title, const QStringList& entries,
                                 const QStringList& footer);

    // --- Database service (services/database.cpp) ---
    QString ensureMysqlInitialized(const QString& defaultsFile) const;
    QString startMysql(const QString& defaultsFile) const;
    QString stopMysql() const;

    // --- Web services (services/web_services.cpp) ---
    QString startPhpWeb();
    QString startPhpMyAdmin();
    QString stopPhpWeb() const;
    QString stopPhpMyAdmin() const;

    // --- Update and repair (update/) ---
    QUrl updateZipDownloadURL() const;
    // Runs the whole pipeline on the calling (worker) thread; progress(fraction, text) is
    // called on that thread. Returns the report text.
    QString downloadUpdateOnly(const std::function<void(double, const QString&)>& progress);
    // nothing on success, else the failure message. progress(done, total) follows the
    // entries written.
    std::optional<QString>
    unzipUpdateArchive(const QString& archivePath, const QString& extractDir,
                       const std::function<void(qint64, qint64)>& progress = {}) const;
    // "" on success, else the description of the first removal that failed.
    QString removeMacOSXArtifacts(const QString& extractDir) const;
    std::optional<QString> resolveUpdateWebSource(const QString& extractDir) const;
    // "" on success, else the failure's description.
    QString syncDirectoryContents(const QString& source, const QString& target,
                                  const std::function<void(int, int, const QString&)>& step);
    QString runProcessWithTimeout(const QString& executable, const QStringList& args,
                                  double timeoutSeconds) const;

    // --- Dispatch ---
    // Queue fn on the main thread / run it on a worker. Both keep the model alive until fn
    // has run.
    void postToMain(std::function<void(PanelViewModel&)> fn);
    void runInBackground(std::function<void(PanelViewModel&)> fn);

Q_SIGNALS:
    // Emitted once per assignment of a published field.
    void changed();

private:
    PanelViewModel(Platform platform, PanelConfig config);
    void assertMainThread() const;
    // Root and its relative path: the root resolved anew, then the relative part.
    QString underRoot(const QString& relative) const;
    bool isPidFileServerRunning(const QString& pidPath) const;
    QString stopPhpServerByPidFile(const QString& pidPath) const;

    Platform m_platform;
    PanelConfig m_config;
    QUrl m_updateZipBaseURL;

    ServiceStatus m_status;
    QString m_logs;
    QString m_errorSummary;
    QString m_permissionHint;
    double m_updateProgress = 0.0;
    QString m_updateProgressText;
};
