#include "update/site_root.h"

#include "core/process_helpers.h"
#include "platform/files.h"

#include <QFile>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace update {

namespace {

using platform::fromFsPath;
using platform::toFsPath;

bool isHiddenName(const fs::path& path) {
    const std::string name = path.filename().string();
    return !name.empty() && name.front() == '.';
}

bool has(const QString& dir, const char* relative) {
    return platform::pathExists(dir + QLatin1Char('/') + QLatin1String(relative));
}

} // namespace

int wwwCompleteness(const QString& dir) {
    int score = 0;
    if (has(dir, "install/index.php"))
        score += 800;
    if (has(dir, "include"))
        score += 200;
    if (has(dir, "LibZelto"))
        score += 200;
    if (has(dir, "Data") || has(dir, "data"))
        score += 50;
    return score;
}

bool looksLikeWebRoot(const QString& dir) {
    if (!has(dir, "index.php"))
        return false;
    return has(dir, "include") || has(dir, "LibZelto") || has(dir, "Data") || has(dir, "data");
}

std::optional<QString> wwwWithIndex(const QString& dir) {
    std::error_code ec;
    fs::recursive_directory_iterator it(toFsPath(dir),
                                        fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return std::nullopt;

    std::optional<QString> best;
    int bestScore = 0;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        const fs::path& path = it->path();
        if (isHiddenName(path)) {
            // Hidden folders are not entered.
            it.disable_recursion_pending();
            continue;
        }
        if (path.filename() != "www")
            continue;
        // A link named www may lead anywhere, out of the archive too: never the site.
        std::error_code linkError;
        if (it->is_symlink(linkError) || linkError)
            continue;
        const QString candidate = fromFsPath(path);
        if (!has(candidate, "index.php"))
            continue;
        const int score = wwwCompleteness(candidate);
        if (!best || score > bestScore ||
            (score == bestScore && core::characterCount(candidate) > core::characterCount(*best))) {
            best = candidate;
            bestScore = score;
        }
    }
    return best;
}

std::optional<QString> resolveUpdateWebSource(const QString& extractDir) {
    QString current = extractDir;
    for (int examined = 0; examined < kSiteRootDescentLimit; ++examined) {
        if (auto www = wwwWithIndex(current))
            return www;
        if (looksLikeWebRoot(current))
            return current;

        std::error_code ec;
        fs::directory_iterator it(toFsPath(current), ec);
        if (ec)
            return std::nullopt;
        std::optional<fs::path> onlyDirectory;
        int directories = 0;
        for (const fs::directory_iterator end; it != end; it.increment(ec)) {
            if (ec)
                return std::nullopt;
            if (isHiddenName(it->path()))
                continue;
            // A link counts as no directory, whatever it leads to.
            std::error_code statError;
            const fs::file_status st = it->symlink_status(statError);
            if (statError || st.type() != fs::file_type::directory)
                continue;
            ++directories;
            onlyDirectory = it->path();
        }
        if (directories != 1 || has(current, "index.php"))
            return std::nullopt;
        current = fromFsPath(*onlyDirectory);
    }
    return std::nullopt;
}

} // namespace update
