#pragma once

#include "core/panel_config.h"
#include "platform/result.h"

#include <QString>
#include <QStringList>

#include <functional>

namespace update {

// Unpacking the update archive and stripping the metadata that the macOS archiver adds.

// How much of its file system an update may fill: what it writes there must leave the margin
// free.
struct ExtractionLimits {
    qint64 marginBytes = kUpdateFreeMarginBytes;
    // How often the package's files land on the extraction's file system: once unpacked, and
    // once more when the site lives there too (the synchronisation writes every changed file
    // anew, while the previous generation keeps the old one).
    int copies = 1;
};

// Called after each entry written, with the entries done and their total.
using ExtractionProgress = std::function<void(qint64 done, qint64 total)>;

// What the headers of an archive declare.
struct ArchiveSurvey {
    qint64 entries = 0;
    long double declaredBytes = 0; // the sizes of all entries together
};

// The space an update needs on a file system that takes copies of the package (before the
// margin): what the entries declare, plus a block of 4 KiB for each entry (file systems
// allocate whole blocks; a directory takes one too), as many times as copies.
long double updateSpaceNeeded(const ArchiveSurvey& survey, int copies);

// Reads every header of the ZIP archive at archivePath without unpacking anything. Fails, as
// an extraction would, on an archive that cannot be read (Corrupt; NotFound when there is
// none) and on an unsafe entry name (Refused: absolute, or with a ".." component).
Result<ArchiveSurvey> surveyZipArchive(const QString& archivePath);

// Unpacks the ZIP archive at archivePath into the existing directory extractDir, keeping file
// modes (without set-id bits) and times but not ownership. Before anything is written, every
// entry name is checked (absolute names and ".." components are refused) and the sizes the
// entries declare are added up: an archive whose updateSpaceNeeded() and the margin together
// exceed the free space of the file system is refused. While writing, an entry that expands
// beyond its declared size, a corrupt entry (checksum or size wrong, even where the library
// calls that a warning), a write through a symbolic link, or the free space falling below the
// margin stops the extraction there. A failure's message is the reason (possibly empty); its kind
// is Refused for a check's refusal (a name, a link, the space), Corrupt for the archive's own
// faults, NotFound for a missing archive or directory and System for the writing; its exitStatus is
// always kArchiveErrorStatus, whatever the kind. surveyedBefore, when given, is
// surveyZipArchive(archivePath) taken beforehand (while the directory was being prepared, say), and
// is used instead of surveying again.
Result<> extractZipArchive(const QString& archivePath, const QString& extractDir,
                           const ExtractionLimits& limits = {},
                           const ExtractionProgress& progress = {},
                           const Result<ArchiveSurvey>* surveyedBefore = nullptr);

// The status a failed extraction reports, in the place of an unpacking tool's exit status.
inline constexpr int kArchiveErrorStatus = 1;

// error as a failure of the extraction of archivePath: its path, its call ("extract") and
// kArchiveErrorStatus set.
Error archiveFailure(Error error, const QString& archivePath);

// The failure text of an extraction with the given status and message (the message is
// trimmed; a blank one adds nothing): "解压失败: ditto 退出码 <status>" followed by "，" and
// the message.
QString extractionFailureText(int status, const QString& message);

// The artefacts below dir in removal order: every entry named "__MACOSX" or beginning with
// "._", found by a pre-order walk that includes hidden entries and does not enter "__MACOSX",
// then stably sorted by path length, longest first.
QStringList macOSXArtifacts(const QString& dir);

// Removes the artefacts of macOSXArtifacts(dir) in order, each with everything below it.
// Stops at the first removal that fails (the rest stay).
Result<> removeMacOSXArtifacts(const QString& dir);

} // namespace update
