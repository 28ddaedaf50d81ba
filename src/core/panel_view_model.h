#pragma once

#include "backup/snapshot_store.h"
#include "core/operation_outcome.h"
#include "core/panel_config.h"
#include "core/php_ini.h"
#include "core/service_table.h"
#include "core/status_snapshot.h"
#include "core/unexpected_stop.h"
#include "platform/platform.h"
#include "platform/process.h"
#include "platform/process_table.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include <sys/types.h>

namespace backup {
struct RuntimeDatabase;
struct SnapshotSettings;
struct TakenSnapshot;
} // namespace backup

namespace update {
struct ArchiveSurvey;
struct RunAftermath;
enum class PackageData;
} // namespace update

// The panel's one model and controller. It holds the state the window shows and every
// operation behind the window's buttons. Published fields are assigned on the main thread
// only, and each assignment emits changed() once. Long operations run their work on a worker
// thread and post each change of published state back to the main thread; the jobs hold the
// model (it is always owned by a shared_ptr, see create()). Start-all, stop-all and the update
// end with finished(), emitted on the main thread right after their final report.
//
// Members are defined in the .cpp of the subsystem that owns them (named per group below).
class PanelViewModel : public QObject, public std::enable_shared_from_this<PanelViewModel> {
    Q_OBJECT
    Q_PROPERTY(QString logs READ logs WRITE setLogs NOTIFY changed)
    Q_PROPERTY(QString errorSummary READ errorSummary NOTIFY changed)
    Q_PROPERTY(QString permissionHint READ permissionHint NOTIFY changed)
    Q_PROPERTY(double updateProgress READ updateProgress NOTIFY changed)
    Q_PROPERTY(QString updateProgressText READ updateProgressText NOTIFY changed)
    Q_PROPERTY(bool undoAvailable READ undoAvailable NOTIFY changed)
    Q_PROPERTY(QStringList snapshotNames READ snapshotNames NOTIFY changed)
    Q_PROPERTY(bool phpDebugging READ phpDebugging NOTIFY changed)

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
    // True while a previous generation of the site is kept (the undo button shows then).
    bool undoAvailable() const { return m_undoAvailable; }
    // The database's snapshots as last listed, newest first (backup/backup_jobs.cpp).
    const QList<backup::SnapshotInfo>& snapshots() const { return m_snapshots; }
    QStringList snapshotNames() const;
    // Whether the site server loads the step debugger (services/php_debugging.cpp).
    bool phpDebugging() const { return m_phpDebugging; }
    // The service's server stopped by itself, and when and why, until its next start.
    std::optional<UnexpectedStop> unexpectedStop(Service service) const {
        return m_unexpectedStops[serviceIndex(service)];
    }
    // The operations begun and not yet finished (start-all, stop-all, the debugging switch,
    // update, undo, backup, restore); any thread.
    int operationsRunning() const { return m_operationsRunning.load(); }
    // An operation begun that ends with finish(); main thread.
    void noteOperationBegun();

    // Assignments of published fields: main thread only, each emits changed() once. The log
    // editor writes logs; the model's operations write the rest.
    void setLogs(const QString& logs);
    void setErrorSummary(const QString& summary);
    void setPermissionHint(const QString& hint);
    void setUpdateProgress(double progress);
    void setUpdateProgressText(const QString& text);
    void setServiceRunning(Service service, bool running);

    // The user's picked panel root, read from and written to the preference store at once.
    QString savedRoot() const;
    void setSavedRoot(const QString& root);

    // --- Operations behind the window's buttons ---
    ServiceStatus refreshStatus(); // core/status.cpp
    void startAll();               // services/start_all.cpp
    void stopAll();                // services/stop_all.cpp
    void updateOrRepairFiles();    // update/update_pipeline.cpp
    void undoLastUpdate();         // update/undo.cpp
    void backupDatabase();         // backup/backup_jobs.cpp
    // Puts snapshot name ("latest": the newest) back; with dropOthers, the databases created
    // since go too.
    void restoreDatabase(const QString& name, bool dropOthers = false); // backup/backup_jobs.cpp
    void openBackupsDirectory();                                        // backup/backup_jobs.cpp
    // Switches the step debugger of the site server on or off, remembered in the runtime, and
    // restarts the server when it runs (services/php_debugging.cpp).
    void setPhpDebugging(bool on);
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
    // A service's files below the panel root, from the service table ("" where it has none).
    QString servicePidPath(Service service) const;
    QString serviceLogPath(Service service) const;
    QString serviceDocumentRoot(Service service) const;
    QString mysqlDir() const;
    QString mysqlDataDir() const;
    QString mysqlCnfPath() const;
    // The database server's error log, runtime/mysql/mysqld.err.
    QString mysqlErrorLogPath() const;
    QString phpMyAdminDir() const;
    QString phpMyAdminConfigPath() const;
    QString wwwDir() const;

    // --- Process and file helpers (core/process_helpers.cpp) ---
    // Report texts: "" for success (runProcess: the output), else the failure's text.
    QString runProcess(const QString& executable, const QStringList& args) const;
    QString killByPattern(const QString& pattern) const;
    Result<> killMatching(const QString& pattern) const;
    bool isRunning(const QStringList& command) const;
    std::optional<QString> readTextFile(const QString& path) const;
    QString makeDir(const QString& path) const;
    QString tryWrite(const QString& path, const QString& content) const;
    // The first process holding a socket on the database's port, as lsof -ti lists them.
    std::optional<pid_t> mysqlPidFromPort() const;

    // --- PHP server launcher (core/php_launcher.cpp) ---
    static const QStringList phpCandidates;
    QStringList phpBinCandidates() const;
    QString phpBinDisplay() const;
    // Starts the PHP built-in server of a service (its port, document root, log file and label
    // from the service table) and, on success, tells what was launched; the pid file is written
    // once the server is found ready (services/service_readiness.h). "" on success, else the
    // report of the failure.
    QString launchPhpServer(Service service, LaunchedServer& launched);
    // The same launch: what was launched, or why not, with the report in the place of the
    // error's message (kind NotFound when no PHP interpreter is found).
    Result<LaunchedServer> spawnPhpServer(Service service);
    // The note for a launch failure whose full description (detail) names a processor mismatch.
    std::optional<QString> phpArchMismatchMessage(const QString& phpPath,
                                                  const QString& detail) const;

    // --- Status probing and diagnostics (core/status.cpp) ---
    void updateErrorSummary();
    QString permissionCheckHint() const;
    // The same hint from what the system tells of the directories, without writing to them:
    // for the live status, which must not touch the runtime every second.
    QString permissionAccessHint() const;
    bool isServiceRunning(Service service) const;
    bool isMariaDBRunning() const;
    bool isPhpWebRunning() const;
    bool isPhpMyAdminRunning() const;
    // refreshStatus() in two halves: the probe (any thread) and its publications (main thread).
    StatusSnapshot probeStatus() const;
    // Fills in the snapshot's unexpected stops from its services found stopped
    // (services/service_watch.cpp).
    void findUnexpectedStops(StatusSnapshot& snapshot) const;
    void publishStatus(const StatusSnapshot& snapshot);
    // How many full status reports (publishStatus) this model has published.
    quint64 statusPublications() const { return m_statusGeneration; }

    // --- Status off the main thread and the live status (core/live_status.cpp) ---
    // What the window's refresh does: refreshStatus() with its probe on a worker; its
    // publications follow on the main thread, in the order the refreshes were asked for.
    void refreshStatusInBackground();
    // What the window's buttons do: openPhpMyAdmin() and choosePanelRoot() with their start
    // and probe on a worker (the folder dialog stays on the main thread); the publications are
    // those of the synchronous calls, in the same order (core/desktop_actions.cpp).
    void openPhpMyAdminInBackground();
    void choosePanelRootInBackground();
    // While on, the three services are probed every interval on a worker, and the three status
    // fields and the permission hint are published when (and only when) they change; the log
    // is never touched.
    void setLiveStatus(bool on, std::chrono::milliseconds interval = std::chrono::seconds(1));
    bool isLiveStatusOn() const;
    // One beat of the live status.
    void refreshLiveStatus();

    // --- Log blocks (core/log_block.cpp) ---
    static QString buildLogBlock(const QString& title, const QStringList& entries,
                                 const QStringList& footer);

    // --- Database service (services/database.cpp) ---
    // Runs the installer unless the data directory is initialised (then: no output).
    Result<platform::ChildExit> initializeMysql(const QString& defaultsFile) const;
    QString ensureMysqlInitialized(const QString& defaultsFile) const;
    Result<pid_t> launchMysql(const QString& defaultsFile) const;
    QString startMysql(const QString& defaultsFile) const;
    // The administration program's shutdown request (its launch's failure only).
    Result<platform::ChildExit> shutdownMysql() const;
    QString stopMysql() const;

    // --- Web services (services/web_services.cpp) ---
    // Start the server and wait until it is ready; the report then names why it is not.
    QString startPhpWeb();
    QString startPhpMyAdmin();
    // Start-all's half of those: launches the server and tells what was launched (the caller
    // waits for it), or why not, with the report in the place of the error's message.
    Result<LaunchedServer> launchWebServer(Service service);
    // Always "": what they go past (the signal, the pid file's removal) is logged as a warning
    // and added to warnings when given.
    QString stopPhpWeb(std::vector<Error>* warnings = nullptr) const;
    QString stopPhpMyAdmin(std::vector<Error>* warnings = nullptr) const;

    // --- Update and repair (update/) ---
    QUrl updateZipDownloadURL() const;
    QString updateArchivePath() const;
    QString updateExtractDir() const;
    // Runs the whole pipeline on the calling (worker) thread; progress(fraction, text) is
    // called on that thread. The report text; a failed run's report is the error's text.
    // after receives what the run leaves to do once its report is out, and why it cannot be
    // undone when it went on without keeping the site.
    Result<QString> downloadUpdateOnly(const std::function<void(double, const QString&)>& progress,
                                       update::RunAftermath& after);
    // Removes trees set aside by update::setAside() or claimed by update::claimSetAside() on a
    // worker at the lowest priority; returns at once.
    void removeInBackground(QStringList setAside);
    // The extraction of the update archive into extractDir. progress(done, total) follows the
    // entries written. surveyed, when given, is update::surveyZipArchive(archivePath) taken
    // beforehand. packageCopies: update::ExtractionLimits::copies.
    Result<> extractUpdateArchive(const QString& archivePath, const QString& extractDir,
                                  const std::function<void(qint64, qint64)>& progress = {},
                                  const Result<update::ArchiveSurvey>* surveyed = nullptr,
                                  int packageCopies = 1) const;
    // The same, as its report: nothing on success, else the failure message.
    std::optional<QString>
    unzipUpdateArchive(const QString& archivePath, const QString& extractDir,
                       const std::function<void(qint64, qint64)>& progress = {},
                       const Result<update::ArchiveSurvey>* surveyed = nullptr) const;
    // The failure's message is its report: the directory's, or the pass's that failed (kind
    // ToolFailed with rsync's exit status, TimedOut, or the reason rsync could not start).
    // packageData says which directory of source the second pass takes as its data.
    Result<> syncDirectoryContents(const QString& source, const QString& target,
                                   update::PackageData packageData,
                                   const std::function<void(int, int, const QString&)>& step);
    QString runProcessWithTimeout(const QString& executable, const QStringList& args,
                                  double timeoutSeconds) const;

    // --- Undo of the last update (update/undo.cpp) ---
    // Where the site's previous generation is kept: below the installed root, beside the site.
    QString previousSiteGenerationDir() const;
    // Publishes whether a previous generation exists (main thread; emits only on a change).
    void refreshUndoAvailable();
    void setUndoAvailable(bool available);

    // --- Step debugging (services/php_debugging.cpp) ---
    // Present while debugging is switched on.
    QString phpDebuggingMarkerPath() const;
    void setPhpDebuggingShown(bool on);
    // The end of a switch: its status, its report and its outcome.
    void publishPhpDebuggingSwitched(const StatusSnapshot& snapshot,
                                     const OperationOutcome& outcome);
    // Puts the previous generation back into the site on the calling (worker) thread;
    // progress(fraction, text) is called on that thread. The report text; a failed undo's
    // report is the error's text.
    Result<QString>
    restorePreviousSiteGeneration(const std::function<void(double, const QString&)>& progress);

    // --- Database snapshots (backup/backup_jobs.cpp) ---
    // Beside the runtime below the panel root, so that a new runtime or an update never
    // touches them.
    QString backupsDir() const;
    backup::RuntimeDatabase runtimeDatabase() const;
    backup::SnapshotSettings snapshotSettings() const;
    // The snapshot an update, an undo or a restore takes before it changes anything, on the
    // calling (worker) thread; progress(text) follows the dump; the retention spares keep.
    Result<backup::TakenSnapshot>
    snapshotBeforeChange(backup::Reason reason, const std::function<void(const QString&)>& progress,
                         const QStringList& keep = {}) const;
    // Where an update records the snapshot it took, for the undo's report.
    QString updateSnapshotRecordPath() const;
    // Lists the snapshots on a worker and publishes them; returns at once.
    void refreshSnapshotsInBackground();
    // Main thread; emits changed() when the list differs.
    void setSnapshots(QList<backup::SnapshotInfo> snapshots);

    // --- Dispatch (core/panel_view_model.cpp, platform/dispatcher.h) ---
    // Queue fn on the main thread / run it on a worker. Both keep the model alive until fn
    // has run.
    void postToMain(std::function<void(PanelViewModel&)> fn);
    void runInBackground(std::function<void(PanelViewModel&)> fn);
    // Runs a start-all or stop-all on a worker once every run asked for earlier, by any model
    // of this process, has ended: its turn ends when the Turn it is handed has gone. The runs
    // of other processes are kept apart by the runs' file lock.
    void runStartStop(std::function<void(PanelViewModel&, platform::SerialQueue::Turn)> job);

    // Emits finished(outcome) on the main thread; the caller has just published the
    // outcome's report.
    void finish(const OperationOutcome& outcome);
    // Returns at once. On a worker, once every probe asked for earlier has been made: probes
    // the status, queues publish with the snapshot on the main thread and then, still on the
    // worker, calls queued. Probes made this way never overlap, and their publications keep
    // the order in which they were asked for.
    void probeInTurn(std::function<void(PanelViewModel&, const StatusSnapshot&)> publish,
                     platform::JobPriority priority = platform::JobPriority::Normal,
                     std::function<void()> queued = {});
    // Runs job on a worker in turn with the status probes (probeInTurn); returns at once.
    void runInProbeTurn(std::function<void(PanelViewModel&)> job,
                        platform::JobPriority priority = platform::JobPriority::Normal);

Q_SIGNALS:
    // Emitted once per assignment of a published field.
    void changed();
    // Emitted once per start-all, stop-all, update, undo, backup and restore, right after its
    // final report.
    void finished(const OperationOutcome& outcome);
    // Emitted once per unexpected stop that a status probe of this model found first.
    void serviceStoppedUnexpectedly(const UnexpectedStop& stop);
    // Emitted when an operation begins and when it has finished (operationsRunning()).
    void operationsChanged();

private:
    PanelViewModel(Platform platform, PanelConfig config);
    void assertMainThread() const;
    // Root and its relative path: the root resolved anew, then the relative part.
    QString underRoot(const QString& relative) const;
    bool isPidFileServerRunning(const QString& pidPath) const;
    QString stopPhpServerByPidFile(const QString& pidPath, std::vector<Error>* warnings) const;
    // runProcessWithTimeout's run, before it becomes one text.
    Result<platform::ChildExit> runChildWithTimeout(const QString& executable,
                                                    const QStringList& args,
                                                    double timeoutSeconds) const;
    void publishChangedStatus(const StatusSnapshot& snapshot);
    void publishUnexpectedStops(const StatusSnapshot& snapshot);
    // The halves of the desktop actions that are shared by their two ways.
    void publishOpenedPhpMyAdmin(const StatusSnapshot& snapshot, const QString& report);
    void openPhpMyAdminAddress();
    bool pickPanelRoot(); // true: a valid root was picked and saved
    void publishChosenPanelRoot(const StatusSnapshot& snapshot);

    Platform m_platform;
    PanelConfig m_config;
    QUrl m_updateZipBaseURL;

    ServiceStatus m_status;
    QString m_logs;
    QString m_errorSummary;
    QString m_permissionHint;
    double m_updateProgress = 0.0;
    QString m_updateProgressText;
    bool m_undoAvailable = false;
    bool m_phpDebugging = false;
    std::array<std::optional<UnexpectedStop>, kServices.size()> m_unexpectedStops;
    std::atomic<int> m_operationsRunning{0};
    int m_phpDebuggingSwitches = 0; // switches asked for and not yet done
    QList<backup::SnapshotInfo> m_snapshots;

    // Which processes hold the database's port and which command lines match; it remembers
    // the port's last holder, so a running database is confirmed in one read.
    platform::ProcessTable m_processes;
    // The status probes and their publications; the openings of phpMyAdmin.
    platform::SerialQueue m_probes;
    platform::SerialQueue m_phpMyAdminOpenings;
    QTimer m_liveTimer;
    bool m_liveProbeRunning = false; // main thread only
    quint64 m_statusGeneration = 0;  // full status publications so far; main thread only
};
