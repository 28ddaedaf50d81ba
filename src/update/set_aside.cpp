#include "update/set_aside.h"

#include "core/diagnostics.h"
#include "platform/files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <mutex>
#include <set>

namespace {

// The trees being removed by this process.
std::mutex g_claimsMutex;
std::set<QString> g_claims;

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
        const QString aside = path + QStringLiteral(".old-") + QString::number(n);
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

void removeSetAside(const QStringList& trees) {
    for (const QString& tree : trees) {
        Result<> removed = platform::removePath(tree);
        // A second try for what vanished under the first (another process removing it too).
        if (!removed && platform::entryExists(tree))
            removed = platform::removePath(tree);
        if (!removed && platform::entryExists(tree))
            reportIgnored(removed.error(), "remove a tree set aside by an update");
        release(tree);
    }
}

} // namespace update
