#include "update/extraction.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "update/extraction_reader.h"

#include <QFile>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

namespace fs = std::filesystem;

namespace update {

QString extractionFailureText(int status, const QString& message) {
    QString text = QStringLiteral("解压失败: ditto 退出码 ") + QString::number(status);
    const QString trimmed = core::trimmedText(message);
    if (!trimmed.isEmpty())
        text += QStringLiteral("，") + trimmed;
    return text;
}

Error archiveFailure(Error error, const QString& archivePath) {
    error.path = archivePath;
    error.call = QStringLiteral("extract");
    error.exitStatus = kArchiveErrorStatus;
    return error;
}

Result<ArchiveSurvey> surveyZipArchive(const QString& archivePath) {
    // Archive names are UTF-8; libarchive converts them to the thread's locale.
    platform::Utf8LocaleScope utf8;
    Result<ArchiveSurvey> surveyed = archive_reading::surveyArchive(QFile::encodeName(archivePath));
    if (!surveyed)
        return std::unexpected(archiveFailure(std::move(surveyed.error()), archivePath));
    return surveyed;
}

QStringList macOSXArtifacts(const QString& dir) {
    QStringList found;
    std::error_code ec;
    fs::recursive_directory_iterator it(platform::toFsPath(dir),
                                        fs::directory_options::skip_permission_denied, ec);
    if (ec)
        return found;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec)
            break;
        const std::string name = it->path().filename().string();
        if (name == "__MACOSX") {
            // Removed as a whole: its contents are neither visited nor listed.
            it.disable_recursion_pending();
            found.push_back(platform::fromFsPath(it->path()));
        } else if (name.starts_with("._")) {
            found.push_back(platform::fromFsPath(it->path()));
        }
    }
    // Deepest first, so nothing is removed after a directory that holds it.
    std::stable_sort(found.begin(), found.end(), [](const QString& a, const QString& b) {
        return core::characterCount(a) > core::characterCount(b);
    });
    return found;
}

Result<> removeMacOSXArtifacts(const QString& dir) {
    for (const QString& artifact : macOSXArtifacts(dir)) {
        if (!platform::entryExists(artifact))
            continue; // already gone with an earlier one
        if (Result<> removed = platform::removePath(artifact); !removed)
            return removed;
    }
    return {};
}

} // namespace update

// --- PanelViewModel: archive extraction ---

Result<> PanelViewModel::extractUpdateArchive(const QString& archivePath, const QString& extractDir,
                                              const std::function<void(qint64, qint64)>& progress,
                                              const Result<update::ArchiveSurvey>* surveyed,
                                              int packageCopies) const {
    update::ExtractionLimits limits;
    limits.marginBytes = m_config.updateFreeMarginBytes;
    limits.copies = packageCopies;
    return update::extractZipArchive(archivePath, extractDir, limits, progress, surveyed);
}

std::optional<QString>
PanelViewModel::unzipUpdateArchive(const QString& archivePath, const QString& extractDir,
                                   const std::function<void(qint64, qint64)>& progress,
                                   const Result<update::ArchiveSurvey>* surveyed) const {
    const Result<> extracted = extractUpdateArchive(archivePath, extractDir, progress, surveyed);
    if (extracted)
        return std::nullopt;
    return update::extractionFailureText(extracted.error().exitStatus, extracted.error().message);
}
