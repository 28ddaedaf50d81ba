#include "core/runtime_root.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <mutex>

namespace core {

using platform::pathExists;

bool isValidPanelRootPath(const QString& root) {
    return pathExists(root + QStringLiteral("/runtime/mysql/bin/mysqld")) &&
           pathExists(root + QStringLiteral("/runtime/php")) &&
           pathExists(root + QStringLiteral("/runtime/phpmyadmin"));
}

namespace {

// A step of the installation whose failure leaves the user's data where it was (in the aside
// directory): it does not fail the installation, but it shows in the log.
void keepGoing(const Result<>& result, const char* step) {
    reportIgnored(result, step);
}

// Exchanges the entry rel of the new runtime with the same entry of the old one, so the
// user's data ends up in the new runtime and the shipped copy in the aside directory.
void carryOver(const QString& aside, const QString& fresh, const QString& rel) {
    const QString old = aside + QLatin1Char('/') + rel;
    const QString shipped = fresh + QLatin1Char('/') + rel;
    if (!pathExists(old))
        return;
    if (!pathExists(shipped)) {
        keepGoing(platform::createDirectories(QFileInfo(shipped).path()), "carry over data");
        keepGoing(platform::renamePath(old, shipped), "carry over data");
        return;
    }
    const QString parked = old + QStringLiteral(".shipped");
    if (!reportIgnored(platform::renamePath(shipped, parked), "carry over data"))
        return;
    if (!reportIgnored(platform::renamePath(old, shipped), "carry over data")) {
        // Put the shipped copy back; the old data stays aside.
        keepGoing(platform::renamePath(parked, shipped), "restore shipped data");
        return;
    }
    keepGoing(platform::renamePath(parked, old), "set shipped data aside");
}

QString freeAsideName(const QString& base) {
    QString candidate = base;
    for (int i = 2; pathExists(candidate); ++i)
        candidate = base + QLatin1Char('-') + QString::number(i);
    return candidate;
}

} // namespace

Result<> installRuntime(const QString& sourceRuntime, const QString& installedRoot,
                        const QString& asideSuffix) {
    if (isValidPanelRootPath(installedRoot))
        return {};
    // A shipped runtime that lacks one of the three entries can never make a valid root:
    // copying it would only move the user's runtime aside again on every read.
    if (!pathExists(sourceRuntime) || !isValidPanelRootPath(QFileInfo(sourceRuntime).path()))
        return failure(ErrorKind::NotFound, QStringLiteral("no complete runtime to install"),
                       sourceRuntime, QStringLiteral("find shipped runtime"));
    if (Result<> made = platform::createDirectories(installedRoot); !made)
        return made;

    // Two threads of this process, or two panel processes, must not copy at the same time.
    static std::mutex processLock;
    std::lock_guard guard(processLock);
    // The lock lives inside the installed root, which exists and must be writable anyway: its
    // parent need not be.
    QLockFile fileLock(installedRoot + QStringLiteral("/.install.lock"));
    fileLock.setStaleLockTime(0);
    if (!fileLock.lock())
        return failure(QStringLiteral("cannot take the installation lock"), fileLock.fileName(),
                       QStringLiteral("lock"));
    // Another thread or process may have finished the installation while we waited.
    if (isValidPanelRootPath(installedRoot))
        return {};

    const QString target = installedRoot + QStringLiteral("/runtime");
    QString aside;
    if (platform::entryExists(target)) {
        aside = freeAsideName(installedRoot + QStringLiteral("/runtime.invalid-") + asideSuffix);
        if (Result<> moved = platform::renamePath(target, aside); !moved)
            return moved;
    }
    if (Result<> copied = platform::copyTree(sourceRuntime, target); !copied) {
        // Leave the installed root as it was: the partial copy goes, the old runtime returns.
        keepGoing(platform::removePath(target), "remove partial runtime");
        if (!aside.isEmpty())
            keepGoing(platform::renamePath(aside, target), "restore runtime");
        return copied;
    }
    if (!aside.isEmpty() && platform::isDirectory(aside)) {
        carryOver(aside, target, QStringLiteral("mysql/data"));
        carryOver(aside, target, QStringLiteral("www"));
    }
    if (!isValidPanelRootPath(installedRoot))
        return failure(ErrorKind::Corrupt, QStringLiteral("installed runtime is incomplete"),
                       target, QStringLiteral("install"));
    return {};
}

} // namespace core

// --- PanelViewModel: panel root and layout ---

bool PanelViewModel::isValidPanelRoot(const QString& path) const {
    return core::isValidPanelRootPath(path);
}

std::optional<QUrl> PanelViewModel::appBundleRoot() const {
    QString app = m_platform.locations->applicationPath();
    while (app.size() > 1 && app.endsWith(QLatin1Char('/')))
        app.chop(1);
    QString parent = QFileInfo(app).path();
    if (parent.endsWith(QLatin1Char('/')))
        parent.chop(1);
    return QUrl::fromLocalFile(parent + QStringLiteral("/Zelto-panel"));
}

QString PanelViewModel::autoDetectedPanelRoot() const {
    return appBundleRoot()->toLocalFile();
}

std::optional<QString> PanelViewModel::ensureInstalledRuntimeRoot() const {
    QString installed = appBundleRoot()->toLocalFile();
    if (isValidPanelRoot(installed))
        return installed;
    const std::optional<QString> resources = m_platform.locations->resourcePath();
    if (!resources)
        return std::nullopt;
    const QString suffix = m_platform.clock().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    const Result<> done =
        core::installRuntime(*resources + QStringLiteral("/runtime"), installed, suffix);
    if (done)
        return installed;
    // Without a shipped runtime there is nothing to report: the root is looked for elsewhere.
    if (done.error().kind != ErrorKind::NotFound)
        reportIgnored(done.error(), "install runtime");
    return std::nullopt;
}

std::optional<QString> PanelViewModel::bundledPanelRoot() const {
    std::optional<QString> resources = m_platform.locations->resourcePath();
    if (!resources)
        return std::nullopt;
    if (platform::pathExists(*resources + QStringLiteral("/runtime/mysql/bin/mysqld")))
        return resources;
    return std::nullopt;
}

QString PanelViewModel::zeltoPanelRoot() const {
    if (auto installed = ensureInstalledRuntimeRoot())
        return *installed;
    if (auto bundled = bundledPanelRoot(); bundled && isValidPanelRoot(*bundled))
        return *bundled;
    if (QString saved = savedRoot(); !saved.isEmpty() && isValidPanelRoot(saved))
        return saved;
    return autoDetectedPanelRoot();
}

QString PanelViewModel::underRoot(const QString& relative) const {
    return zeltoPanelRoot() + relative;
}

QString PanelViewModel::runtimeDir() const {
    return underRoot(QStringLiteral("/runtime"));
}
QString PanelViewModel::cfgDir() const {
    return underRoot(QStringLiteral("/runtime/config"));
}
QString PanelViewModel::servicePidPath(Service service) const {
    const char* file = serviceInfo(service).pidFile;
    return file ? underRoot(QString::fromLatin1(file)) : QString();
}
QString PanelViewModel::serviceLogPath(Service service) const {
    const char* file = serviceInfo(service).logFile;
    return file ? underRoot(QString::fromLatin1(file)) : QString();
}
QString PanelViewModel::serviceDocumentRoot(Service service) const {
    const char* dir = serviceInfo(service).documentRoot;
    return dir ? underRoot(QString::fromLatin1(dir)) : QString();
}
QString PanelViewModel::phpWebPidPath() const {
    return servicePidPath(Service::Site);
}
QString PanelViewModel::phpWebLogPath() const {
    return serviceLogPath(Service::Site);
}
QString PanelViewModel::phpMyAdminPidPath() const {
    return servicePidPath(Service::PhpMyAdmin);
}
QString PanelViewModel::phpMyAdminLogPath() const {
    return serviceLogPath(Service::PhpMyAdmin);
}
QString PanelViewModel::mysqlDir() const {
    return underRoot(QStringLiteral("/runtime/mysql"));
}
QString PanelViewModel::mysqlDataDir() const {
    return underRoot(QStringLiteral("/runtime/mysql/data"));
}
QString PanelViewModel::mysqlCnfPath() const {
    return underRoot(QStringLiteral("/runtime/mysql/my_runtime.cnf"));
}
QString PanelViewModel::mysqlErrorLogPath() const {
    return serviceLogPath(Service::Database);
}
QString PanelViewModel::phpMyAdminDir() const {
    return serviceDocumentRoot(Service::PhpMyAdmin);
}
QString PanelViewModel::phpMyAdminConfigPath() const {
    return phpMyAdminDir() + QStringLiteral("/config.inc.php");
}
QString PanelViewModel::wwwDir() const {
    return serviceDocumentRoot(Service::Site);
}
