#include "update/set_aside.h"

#include "core/diagnostics.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <QFile>

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace {

// The trees being removed by this process.
std::mutex g_claimsMutex;
std::set<QString> g_claims;
// Set when the process is about to end.
std::atomic<bool> g_stopRemoving{false};

namespace fs = std::filesystem;

// Removes the tree at path, deepest entries first, until it is gone or the removals are
// stopped; false when they were. ec holds the first failure.
bool removeTree(const fs::path& path, std::error_code& ec) {
    const fs::file_status status = fs::symlink_status(path, ec);
    if (ec) {
        if (ec == std::errc::no_such_file_or_directory)
            ec.clear();
        return true;
    }
    if (fs::is_directory(status)) {
        for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) {
            if (g_stopRemoving.load(std::memory_order_relaxed))
                return false;
            if (!removeTree(it->path(), ec))
                return false;
            if (ec)
                return true;
        }
        if (ec)
            return true;
    }
    fs::remove(path, ec);
    if (ec == std::errc::no_such_file_or_directory)
        ec.clear();
    return true;
}

// The tree at path removed, or the reason why not; success also when the removals were
// stopped (what is left is removed by the next run).
Result<> removeUnlessStopped(const QString& path) {
    std::error_code ec;
    removeTree(fs::path(QFile::encodeName(path).toStdString()), ec);
    if (ec)
        return platform::errnoFailure(ec.value(), path, QStringLiteral("remove"));
    return {};
}

bool claim(const QString& path) {
    const std::lock_guard lock(g_claimsMutex);
    return g_claims.insert(path).second;
}

void release(const QString& path) {
    const std::lock_guard lock(g_claimsMutex);
    g_claims.erase(path);
}

} // namespace

namespace update {

Result<QString> setAside(const QString& path) {
    if (!platform::entryExists(path))
        return QString();
    // Names still being removed (by this process or another) are passed over.
    for (int n = 1; n <= 1000; ++n) {
        QString aside = path + QStringLiteral(".old-") + QString::number(n);
        if (platform::entryExists(aside))
            continue;
        if (!claim(aside))
            continue;
        Result<> moved = platform::renamePath(path, aside);
        if (moved)
            return aside;
        release(aside);
        // Taken meanwhile by another process's run.
        if (moved.error().code != EEXIST && moved.error().code != ENOTEMPTY)
            return std::unexpected(std::move(moved.error()));
    }
    return failure(ErrorKind::System, QStringLiteral("No free name to set aside"), path,
                   QStringLiteral("rename"));
}

QStringList claimSetAside(const QString& path) {
    const QFileInfo info(path);
    const QRegularExpression pattern(QRegularExpression::anchoredPattern(
        QRegularExpression::escape(info.fileName()) + QStringLiteral("\\.old(-\\d+)?")));
    QStringList claimed;
    const QStringList names =
        QDir(info.path())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                       QDir::Name);
    for (const QString& name : names) {
        const QString tree = info.path() + QLatin1Char('/') + name;
        if (pattern.match(name).hasMatch() && claim(tree))
            claimed.push_back(tree);
    }
    return claimed;
}

void stopRemovingSetAside() {
    g_stopRemoving.store(true);
}

void removeSetAside(const QStringList& trees) {
    for (const QString& tree : trees) {
        Result<> removed = removeUnlessStopped(tree);
        // A second try for what vanished under the first (another process removing it too).
        if (!removed && platform::entryExists(tree))
            removed = removeUnlessStopped(tree);
        if (!removed && platform::entryExists(tree))
            reportIgnored(removed.error(), "remove a tree set aside by an update");
        release(tree);
    }
}

} // namespace update
