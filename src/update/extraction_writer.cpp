#include "update/extraction.h"

#include "platform/file_descriptor.h"
#include "platform/files.h"
#include "update/extraction_names.h"
#include "update/extraction_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <archive.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <dirent.h>

// Writing an extraction: the checks of the space it may fill, and the writer that takes the
// reader's steps (update/extraction_reader.h) on the caller's thread.

namespace update {

namespace {

using namespace archive_reading;
using entry_names::withEntryName;

struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Writer = std::unique_ptr<archive, WriterDeleter>;

bool isEmptyDirectory(const QByteArray& dir) {
    const platform::DirStream d = platform::DirStream::open(dir.constData());
    if (!d.isOpen())
        return false;
    while (const dirent* e = ::readdir(d.get())) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            return false;
    }
    return true;
}

QString megabytes(long double bytes) {
    return QString::number(static_cast<double>(bytes / (1024.0L * 1024.0L)), 'f', 1) +
           QStringLiteral(" MB");
}

// The free space of the file system of dir, to us; nothing when it cannot be asked.
std::optional<long double> freeSpace(const QString& dir) {
    const Result<platform::FileSystemSpace> space = platform::fileSystemSpace(dir);
    if (!space)
        return std::nullopt;
    return space->availableBytes;
}

// How often the free space is asked again while writing.
constexpr qint64 kSpaceRecheckBytes = 64LL * 1024 * 1024;

} // namespace

long double updateSpaceNeeded(const ArchiveSurvey& survey, int copies) {
    constexpr long double kBlock = 4096;
    return (survey.declaredBytes + static_cast<long double>(survey.entries) * kBlock) *
           std::max(copies, 1);
}

Result<> extractZipArchive(const QString& archivePath, const QString& extractDir,
                           const ExtractionLimits& limits, const ExtractionProgress& progress,
                           const Result<ArchiveSurvey>* surveyedBefore) {
    auto fail = [&archivePath](Error error) {
        return std::unexpected(archiveFailure(std::move(error), archivePath));
    };
    const auto writeFailure = [&fail](const std::string& name, archive* writer) {
        Error error = libraryError(writer, ErrorKind::System);
        error.message = withEntryName(name.c_str(), error.message);
        return fail(std::move(error));
    };
    const auto refused = [&fail](const QString& message) {
        return fail(Error{message, {}, {}, 0, ErrorKind::Refused, 0});
    };

    // Entries are written by full path below the extraction directory (never by changing the
    // working directory: other threads rely on it). The directory's path is resolved first so
    // that the check against writing through links does not trip over links above it.
    const QString base = QFileInfo(extractDir).canonicalFilePath();
    if (base.isEmpty() || !platform::isDirectory(base))
        return fail(Error{QStringLiteral("Extraction directory not found: ") + extractDir,
                          {},
                          {},
                          0,
                          ErrorKind::NotFound,
                          0});
    const QByteArray baseName = QFile::encodeName(base);
    const std::string prefix = baseName.toStdString() + '/';
    const QByteArray archiveName = QFile::encodeName(archivePath);

    // Archive names are UTF-8; libarchive converts them to the thread's locale.
    platform::Utf8LocaleScope utf8;

    // Before anything is written: every name must be safe, and what the run writes must fit
    // on the file system with the margin left free.
    std::optional<Result<ArchiveSurvey>> surveyedHere;
    const Result<ArchiveSurvey>& surveyed =
        surveyedBefore ? *surveyedBefore : surveyedHere.emplace(surveyZipArchive(archivePath));
    if (!surveyed)
        return fail(surveyed.error());
    const ArchiveSurvey survey = *surveyed;
    const long double margin = static_cast<long double>(std::max<qint64>(0, limits.marginBytes));
    std::optional<long double> freeBytes = freeSpace(base);
    if (!freeBytes)
        return fail(Error{QStringLiteral("无法读取可用空间: ") + base, {}, {}, 0});
    if (const long double needed = updateSpaceNeeded(survey, limits.copies);
        needed + margin > *freeBytes)
        return refused(QStringLiteral("更新包解压后需要 %1，磁盘剩余 %2，须保留 %3 空闲")
                           .arg(megabytes(needed), megabytes(*freeBytes), megabytes(margin)));

    Result<Reader> reader = openZip(archiveName);
    if (!reader)
        return fail(reader.error());
    Writer writer(archive_write_disk_new());
    if (!writer)
        return fail(Error{QStringLiteral("Out of memory"), {}, {}, ENOMEM});
    // Absolute names are refused by unsafeNameReason() before the directory is prefixed, as
    // the library's own refusal of absolute paths would also refuse the prefixed names.
    //
    // Writes through symbolic links: into an empty directory, the only links are those this
    // archive makes, so they are remembered and every name is checked against them without
    // asking the file system. The library's own check walks every component of every
    // (absolute) name with two system calls each, which made extraction markedly slower than
    // unpacking by hand; it stays for a directory that already holds something.
    const bool ownLinksOnly = isEmptyDirectory(baseName);
    int options = ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_SECURE_NODOTDOT;
    if (!ownLinksOnly)
        options |= ARCHIVE_EXTRACT_SECURE_SYMLINKS;
    archive_write_disk_set_options(writer.get(), options);

    // The archive is read on a thread of its own; this one writes. The reader stops at its
    // next batch once the writer has stopped, and is joined before the archive is freed.
    BatchChannel channel(4);
    const std::jthread reading([&] { readEntries(reader->get(), prefix, channel); });
    const auto stopReading = qScopeGuard([&] { channel.stop(); });

    std::string name; // of the entry being written
    qint64 done = 0;
    qint64 sinceSpaceCheck = 0;
    for (bool last = false; !last;) {
        std::unique_ptr<Batch> batch = channel.takeFull();
        last = batch->last;
        for (Step& step : batch->steps) {
            switch (step.kind) {
            case Step::Kind::Failure:
                return fail(std::move(step.failure));
            case Step::Kind::Header:
                name = std::move(step.name);
                if (archive_write_header(writer.get(), step.entry.get()) < ARCHIVE_WARN)
                    return writeFailure(name, writer.get());
                break;
            case Step::Kind::Data:
                sinceSpaceCheck += static_cast<qint64>(step.size);
                if (archive_write_data_block(writer.get(), batch->bytes.data() + step.at, step.size,
                                             step.offset) < ARCHIVE_WARN)
                    return writeFailure(name, writer.get());
                if (sinceSpaceCheck >= kSpaceRecheckBytes) {
                    // Others may fill the disk meanwhile; the margin is kept all the same.
                    sinceSpaceCheck = 0;
                    freeBytes = freeSpace(base);
                    if (freeBytes && *freeBytes < margin)
                        return refused(QStringLiteral("磁盘剩余 %1，须保留 %2 空闲")
                                           .arg(megabytes(*freeBytes), megabytes(margin)));
                }
                break;
            case Step::Kind::EndOfEntry:
                if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
                    return writeFailure(name, writer.get());
                ++done;
                if (progress)
                    progress(done, survey.entries);
                break;
            }
        }
        channel.giveBack(std::move(batch));
    }
    // Directory modes and times are applied last.
    if (archive_write_close(writer.get()) < ARCHIVE_WARN)
        return fail(libraryError(writer.get(), ErrorKind::System));
    return {};
}

} // namespace update
