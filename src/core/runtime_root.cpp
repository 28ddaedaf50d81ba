#include "core/runtime_root.h"

#include "core/panel_view_model.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>

#include <mutex>

bool isValidPanelRootPath(const QString& root) {
    return pathExists(root + QStringLiteral("/runtime/mysql/bin/mysqld")) &&
           pathExists(root + QStringLiteral("/runtime/php")) &&
           pathExists(root + QStringLiteral("/runtime/phpmyadmin"));
}

namespace {

// Exchanges the entry rel of the new runtime with the same entry of the old one, so the
// user's data ends up in the new runtime and the shipped copy in the aside directory.
void carryOver(const QString& aside, const QString& fresh, const QString& rel) {
    const QString old = aside + QLatin1Char('/') + rel;
    const QString shipped = fresh + QLatin1Char('/') + rel;
    if (!pathExists(old))
        return;
    if (!pathExists(shipped)) {
        createDirectories(QFileInfo(shipped).path());
        renamePath(old, shipped);
        return;
    }
    const QString parked = old + QStringLiteral(".shipped");
    if (!renamePath(shipped, parked).isEmpty())
        return;
    if (!renamePath(old, shipped).isEmpty()) {
        renamePath(parked, shipped); // put the shipped copy back; the old data stays aside
        return;
    }
    renamePath(parked, old);
}

QString freeAsideName(const QString& base) {
    QString candidate = base;
    for (int i = 2; pathExists(candidate); ++i)
        candidate = base + QLatin1Char('-') + QString::number(i);
    return candidate;
}

} // namespace

bool installRuntime(const QString& sourceRuntime, const QString& installedRoot,
                    const QString& asideSuffix) {
    if (isValidPanelRootPath(installedRoot))
        return true;
    if (!pathExists(sourceRuntime))
        return false;
    // A shipped runtime that lacks one of the three entries can never make a valid root:
    // copying it would only move the user's runtime aside again on every read.
    if (!isValidPanelRootPath(QFileInfo(sourceRuntime).path()))
        return false;
    if (!createDirectories(installedRoot).isEmpty())
        return false;

    // Two threads of this process, or two panel processes, must not copy at the same time.
    static std::mutex processLock;
    std::lock_guard guard(processLock);
    // The lock lives inside the installed root, which exists and must be writable anyway: its
    // parent need not be.
    QLockFile fileLock(installedRoot + QStringLiteral("/.install.lock"));
    fileLock.setStaleLockTime(0);
    if (!fileLock.lock())
        return false;
    // Another thread or process may have finished the installation while we waited.
    if (isValidPanelRootPath(installedRoot))
        return true;

    const QString target = installedRoot + QStringLiteral("/runtime");
    QString aside;
    if (pathExists(target) || QFileInfo(target).isSymLink()) {
        aside = freeAsideName(installedRoot + QStringLiteral("/runtime.invalid-") + asideSuffix);
        if (!renamePath(target, aside).isEmpty())
            return false;
    }
    if (!copyTree(sourceRuntime, target).isEmpty()) {
        // Leave the installed root as it was: the partial copy goes, the old runtime returns.
        removePath(target);
        if (!aside.isEmpty())
            renamePath(aside, target);
        return false;
    }
    if (!aside.isEmpty() && isDirectory(aside)) {
        carryOver(aside, target, QStringLiteral("mysql/data"));
        carryOver(aside, target, QStringLiteral("www"));
    }
    return isValidPanelRootPath(installedRoot);
}

// --- PanelViewModel: panel root and layout ---

bool PanelViewModel::isValidPanelRoot(const QString& path) const {
    return isValidPanelRootPath(path);
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
    const QString installed = appBundleRoot()->toLocalFile();
    if (isValidPanelRoot(installed))
        return installed;
    const std::optional<QString> resources = m_platform.locations->resourcePath();
    if (!resources)
        return std::nullopt;
    const QString suffix = m_platform.clock().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (installRuntime(*resources + QStringLiteral("/runtime"), installed, suffix))
        return installed;
    return std::nullopt;
}

std::optional<QString> PanelViewModel::bundledPanelRoot() const {
    const std::optional<QString> resources = m_platform.locations->resourcePath();
    if (!resources)
        return std::nullopt;
    if (pathExists(*resources + QStringLiteral("/runtime") + QStringLiteral("/mysql/bin/mysqld")))
        return *resources;
    return std::nullopt;
}

QString PanelViewModel::zeltoPanelRoot() const {
    if (auto installed = ensureInstalledRuntimeRoot())
        return *installed;
    if (auto bundled = bundledPanelRoot(); bundled && isValidPanelRoot(*bundled))
        return *bundled;
    if (const QString saved = savedRoot(); !saved.isEmpty() && isValidPanelRoot(saved))
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
QString PanelViewModel::phpWebPidPath() const {
    return underRoot(QStringLiteral("/runtime/config/php-web.pid"));
}
QString PanelViewModel::phpWebLogPath() const {
    return underRoot(QStringLiteral("/runtime/config/php-web.log"));
}
QString PanelViewModel::phpMyAdminPidPath() const {
    return underRoot(QStringLiteral("/runtime/config/phpmyadmin.pid"));
}
QString PanelViewModel::phpMyAdminLogPath() const {
    return underRoot(QStringLiteral("/runtime/config/phpmyadmin.log"));
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
QString PanelViewModel::phpMyAdminDir() const {
    return underRoot(QStringLiteral("/runtime/phpmyadmin"));
}
QString PanelViewModel::phpMyAdminConfigPath() const {
    return underRoot(QStringLiteral("/runtime/phpmyadmin/config.inc.php"));
}
QString PanelViewModel::wwwDir() const {
    return underRoot(QStringLiteral("/runtime/www"));
}
