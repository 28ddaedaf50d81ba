#include "update/extraction.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"

#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <variant>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace update {

namespace {

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

QString libraryMessage(archive* a) {
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QString();
}

QString withEntryName(const char* name, const QString& message) {
    if (message.isEmpty())
        return message;
    return QString::fromUtf8(name ? name : "") + QStringLiteral(": ") + message;
}

// The reason an entry name must not be written below the extraction directory, in
// libarchive's own words for the same refusals, or nothing when the name is safe.
std::optional<QString> unsafeNameReason(std::string_view name) {
    if (name.empty())
        return QStringLiteral("Invalid empty pathname");
    if (name.front() == '/')
        return QStringLiteral("Path is absolute");
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        if (name.substr(start, end - start) == "..")
            return QStringLiteral("Path contains '..'");
        start = end + 1;
    }
    return std::nullopt;
}

// name without empty and "." components ("a//./b/" is "a/b"): the path the file system
// resolves. Names are known to hold no ".." by then.
std::string normalizedName(std::string_view name) {
    std::string out;
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string_view::npos)
            end = name.size();
        const std::string_view part = name.substr(start, end - start);
        if (!part.empty() && part != ".") {
            if (!out.empty())
                out += '/';
            out += part;
        }
        start = end + 1;
    }
    return out;
}

// The reason an entry that names the extraction directory itself ("." or "./") must not be
// written: anything but a directory would replace the directory (a link to elsewhere would
// take every later entry with it). Nothing when the entry names something below it.
std::optional<QString> replacesBaseReason(const std::string& normalName, unsigned fileType) {
    if (normalName.empty() && fileType != AE_IFDIR)
        return QStringLiteral("Entry would replace the extraction directory");
    return std::nullopt;
}

// The first of name and its parent directories that is one of links, or nothing.
std::optional<std::string> linkOnTheWay(const std::string& name,
                                        const std::unordered_set<std::string>& links) {
    if (links.empty())
        return std::nullopt;
    for (size_t slash = name.find('/'); slash != std::string::npos;
         slash = name.find('/', slash + 1)) {
        if (links.count(name.substr(0, slash)))
            return name.substr(0, slash);
    }
    if (links.count(name))
        return name;
    return std::nullopt;
}

bool isEmptyDirectory(const QByteArray& dir) {
    DIR* d = ::opendir(dir.constData());
    if (!d)
        return false;
    bool empty = true;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
            empty = false;
            break;
        }
    }
    ::closedir(d);
    return empty;
}

// A ZIP reader of archivePath that takes the entries from the central directory (the sizes it
// declares included), or nothing with the library's message.
Reader openZip(const QByteArray& archiveName, QString& message) {
    Reader reader(archive_read_new());
    if (!reader) {
        message = QStringLiteral("Out of memory");
        return {};
    }
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), archiveName.constData(), 256 * 1024) !=
        ARCHIVE_OK) {
        message = libraryMessage(reader.get());
        return {};
    }
    return reader;
}

QString megabytes(long double bytes) {
    return QString::number(static_cast<double>(bytes / (1024.0L * 1024.0L)), 'f', 1) +
           QStringLiteral(" MB");
}

// Space on the file system of dir that an extraction may fill: what is free to us minus the
// reserve. Nothing when the file system cannot be asked.
std::optional<long double> extractionAllowance(const QString& dir, const ExtractionLimits& limits,
                                               long double* freeBytes = nullptr,
                                               long double* reserve = nullptr) {
    const Result<platform::FileSystemSpace> space = platform::fileSystemSpace(dir);
    if (!space)
        return std::nullopt;
    const long double available = space->availableBytes;
    const long double size = space->sizeBytes;
    const long double kept = std::max(static_cast<long double>(limits.reserveBytes),
                                      size * static_cast<long double>(limits.reserveShare));
    if (freeBytes)
        *freeBytes = available;
    if (reserve)
        *reserve = kept;
    return available - kept;
}

// Reads every header of the archive without writing anything: refuses unsafe names and adds
// up the sizes that the entries declare.
std::variant<ArchiveSurvey, QString> surveyArchive(const QByteArray& archiveName) {
    QString message;
    Reader reader = openZip(archiveName, message);
    if (!reader)
        return message;
    ArchiveSurvey survey;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            return survey;
        if (r < ARCHIVE_WARN)
            return libraryMessage(reader.get());
        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        if (auto reason = unsafeNameReason(name))
            return withEntryName(name.c_str(), *reason);
        if (auto reason = replacesBaseReason(normalizedName(name), archive_entry_filetype(entry)))
            return withEntryName(name.c_str(), *reason);
        if (const char* link = archive_entry_hardlink(entry)) {
            if (auto reason = unsafeNameReason(link))
                return withEntryName(name.c_str(), *reason);
        }
        ++survey.entries;
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
            survey.declaredBytes += static_cast<long double>(archive_entry_size(entry));
    }
}

// --- Reading and writing on two threads ---
//
// Inflating and checking the data takes about as long as writing the files, so one thread
// reads the archive while the caller's thread writes what it has read. The reader hands over
// everything in archive order, its own refusals included, so the writer meets every failure
// exactly where a single thread would have met it and nothing after it is written.

struct EntryDeleter {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};

// One thing for the writer to do.
struct Step {
    enum class Kind { Header, Data, EndOfEntry, Failure };
    Kind kind = Kind::Header;
    std::unique_ptr<archive_entry, EntryDeleter> entry; // Header: ready to write
    std::string name;                                   // Header: the name in the archive
    qint64 declared = 0;                                // Header: the size it declares
    size_t at = 0;                                      // Data: where in the batch's bytes
    size_t size = 0;
    la_int64_t offset = 0; // Data: where in the file
    QString message;       // Failure: why the extraction stops
};

// Steps travel in batches, so that the threads meet a few hundred times, not once a block.
struct Batch {
    static constexpr size_t kBytes = 1 << 20;
    static constexpr size_t kSteps = 1024;
    std::vector<Step> steps;
    std::vector<char> bytes;
    bool last = false; // nothing follows

    bool full() const { return bytes.size() >= kBytes || steps.size() >= kSteps; }
};

// The batches between the two threads: a few in use, handed back and forth.
class BatchChannel {
public:
    explicit BatchChannel(int batches) {
        for (int i = 0; i < batches; ++i) {
            auto batch = std::make_unique<Batch>();
            batch->bytes.reserve(Batch::kBytes + 256 * 1024);
            m_empty.push_back(std::move(batch));
        }
    }
    // The reader's next batch to fill; nothing once the writer has stopped.
    std::unique_ptr<Batch> takeEmpty() { return take(m_empty); }
    void sendFull(std::unique_ptr<Batch> batch) { put(m_full, std::move(batch)); }
    // The writer's next batch to write.
    std::unique_ptr<Batch> takeFull() { return take(m_full); }
    void giveBack(std::unique_ptr<Batch> batch) {
        batch->steps.clear();
        batch->bytes.clear();
        batch->last = false;
        put(m_empty, std::move(batch));
    }
    // The writer ends early: the reader stops at its next batch.
    void stop() {
        const std::lock_guard lock(m_mutex);
        m_stopped = true;
        m_changed.notify_all();
    }

private:
    std::unique_ptr<Batch> take(std::deque<std::unique_ptr<Batch>>& from) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_stopped || !from.empty(); });
        if (from.empty())
            return nullptr;
        std::unique_ptr<Batch> batch = std::move(from.front());
        from.pop_front();
        return batch;
    }
    void put(std::deque<std::unique_ptr<Batch>>& to, std::unique_ptr<Batch> batch) {
        const std::lock_guard lock(m_mutex);
        to.push_back(std::move(batch));
        m_changed.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<Batch>> m_full;
    std::deque<std::unique_ptr<Batch>> m_empty;
    bool m_stopped = false;
};

// Reads every entry of reader and hands it to the writer as steps: the header with its name
// below prefix, the data block by block, the end of the entry. Whatever refuses the archive
// (the library's complaints, warnings included; unsafe names; names through links the archive
// made; data beyond the declared size) becomes a failure step, the last.
void readEntries(archive* reader, const std::string& prefix, BatchChannel& channel) {
    platform::Utf8LocaleScope utf8; // names are converted on this thread
    std::unique_ptr<Batch> batch = channel.takeEmpty();
    if (!batch)
        return;
    // Sends the batch on; false when the writer has stopped.
    const auto send = [&] {
        const bool last = batch->last;
        channel.sendFull(std::move(batch));
        if (last)
            return false;
        batch = channel.takeEmpty();
        return batch != nullptr;
    };
    const auto stopWith = [&](QString message) {
        Step step;
        step.kind = Step::Kind::Failure;
        step.message = std::move(message);
        batch->steps.push_back(std::move(step));
        batch->last = true;
        send();
    };
    const auto throughLink = [&](const std::string& entryName, const std::string& path) {
        stopWith(withEntryName(entryName.c_str(),
                               QStringLiteral("Cannot extract through symlink ") +
                                   QFile::decodeName(QByteArray::fromStdString(prefix + path))));
    };

    std::unordered_set<std::string> links;
    for (;;) {
        archive_entry* entry = nullptr;
        int r = archive_read_next_header(reader, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return stopWith(libraryMessage(reader));

        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        // Checked again: the survey read the same archive, but a name is only ever prefixed
        // once it is known to be safe.
        if (auto reason = unsafeNameReason(name))
            return stopWith(withEntryName(name.c_str(), *reason));
        const std::string normal = normalizedName(name);
        if (auto reason = replacesBaseReason(normal, archive_entry_filetype(entry)))
            return stopWith(withEntryName(name.c_str(), *reason));
        if (linkOnTheWay(normal, links))
            return throughLink(name, name);
        if (const char* link = archive_entry_hardlink(entry)) {
            if (auto reason = unsafeNameReason(link))
                return stopWith(withEntryName(name.c_str(), *reason));
            if (linkOnTheWay(normalizedName(link), links))
                return throughLink(name, link);
            archive_entry_copy_hardlink(entry, (prefix + link).c_str());
        }
        // A link counts from its header on: when writing it fails, nothing follows it.
        if (archive_entry_filetype(entry) == AE_IFLNK)
            links.insert(normal);
        archive_entry_copy_pathname(entry, (prefix + name).c_str());

        // Keep the permission bits but never set-id ones; directories stay usable to the
        // panel so that the next run can walk and remove the tree.
        mode_t perm = archive_entry_perm(entry) & 0777;
        if (archive_entry_filetype(entry) == AE_IFDIR)
            perm |= S_IRWXU;
        archive_entry_set_perm(entry, perm);

        Step header;
        header.kind = Step::Kind::Header;
        header.entry.reset(archive_entry_clone(entry));
        if (!header.entry)
            return stopWith(QStringLiteral("Out of memory"));
        header.declared = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : 0;
        const qint64 declared = header.declared;
        header.name = name;
        batch->steps.push_back(std::move(header));

        // Any complaint of the reader, warnings included (a checksum that does not match, a
        // size other than the declared one), fails the extraction: the entry is corrupt.
        qint64 read = 0;
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            r = archive_read_data_block(reader, &block, &size, &offset);
            if (r == ARCHIVE_EOF)
                break;
            if (r != ARCHIVE_OK)
                return stopWith(withEntryName(name.c_str(), libraryMessage(reader)));
            read += static_cast<qint64>(size);
            if (read > declared)
                return stopWith(withEntryName(
                    name.c_str(),
                    QStringLiteral("解压出的数据超过声明的大小 %1 字节").arg(declared)));
            if (batch->full() && !send())
                return;
            Step data;
            data.kind = Step::Kind::Data;
            data.at = batch->bytes.size();
            data.size = size;
            data.offset = offset;
            const char* bytes = static_cast<const char*>(block);
            batch->bytes.insert(batch->bytes.end(), bytes, bytes + size);
            batch->steps.push_back(std::move(data));
        }
        Step end;
        end.kind = Step::Kind::EndOfEntry;
        batch->steps.push_back(std::move(end));
        if (batch->full() && !send())
            return;
    }
    batch->last = true;
    send();
}

// How often the free space is asked again while writing.
constexpr qint64 kSpaceRecheckBytes = 64LL * 1024 * 1024;

} // namespace

QString extractionFailureText(int status, const QString& message) {
    QString text = QStringLiteral("解压失败: ditto 退出码 ") + QString::number(status);
    const QString trimmed = core::trimmedText(message);
    if (!trimmed.isEmpty())
        text += QStringLiteral("，") + trimmed;
    return text;
}

Result<ArchiveSurvey> surveyZipArchive(const QString& archivePath) {
    // Archive names are UTF-8; libarchive converts them to the thread's locale.
    platform::Utf8LocaleScope utf8;
    std::variant<ArchiveSurvey, QString> surveyed = surveyArchive(QFile::encodeName(archivePath));
    if (QString* message = std::get_if<QString>(&surveyed))
        return failure(*message, archivePath, QStringLiteral("extract"), kArchiveErrorStatus);
    return std::get<ArchiveSurvey>(surveyed);
}

Result<> extractZipArchive(const QString& archivePath, const QString& extractDir,
                           const ExtractionLimits& limits, const ExtractionProgress& progress,
                           const Result<ArchiveSurvey>* surveyedBefore) {
    auto fail = [&archivePath](const QString& message) {
        return failure(message, archivePath, QStringLiteral("extract"), kArchiveErrorStatus);
    };

    // Entries are written by full path below the extraction directory (never by changing the
    // working directory: other threads rely on it). The directory's path is resolved first so
    // that the check against writing through links does not trip over links above it.
    const QString base = QFileInfo(extractDir).canonicalFilePath();
    if (base.isEmpty() || !platform::isDirectory(base))
        return fail(QStringLiteral("Extraction directory not found: ") + extractDir);
    const QByteArray baseName = QFile::encodeName(base);
    const std::string prefix = baseName.toStdString() + '/';
    const QByteArray archiveName = QFile::encodeName(archivePath);

    // Archive names are UTF-8; libarchive converts them to the thread's locale.
    platform::Utf8LocaleScope utf8;

    // Before anything is written: every name must be safe, and what the entries declare must
    // fit on the file system with the reserve left free.
    std::optional<Result<ArchiveSurvey>> surveyedHere;
    if (!surveyedBefore)
        surveyedHere = surveyZipArchive(archivePath);
    const Result<ArchiveSurvey>& surveyed = surveyedBefore ? *surveyedBefore : *surveyedHere;
    if (!surveyed)
        return fail(surveyed.error().message);
    const ArchiveSurvey survey = *surveyed;
    long double freeBytes = 0;
    long double reserve = 0;
    const std::optional<long double> allowance =
        extractionAllowance(base, limits, &freeBytes, &reserve);
    if (!allowance)
        return fail(QStringLiteral("无法读取可用空间: ") + base);
    if (survey.declaredBytes > *allowance)
        return fail(
            QStringLiteral("更新包解压后需要 %1，磁盘剩余 %2，须保留 %3 空闲")
                .arg(megabytes(survey.declaredBytes), megabytes(freeBytes), megabytes(reserve)));

    QString openMessage;
    Reader reader = openZip(archiveName, openMessage);
    if (!reader)
        return fail(openMessage);
    Writer writer(archive_write_disk_new());
    if (!writer)
        return fail(QStringLiteral("Out of memory"));
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
    const std::jthread reading([&] { readEntries(reader.get(), prefix, channel); });
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
                return fail(step.message);
            case Step::Kind::Header:
                name = std::move(step.name);
                if (archive_write_header(writer.get(), step.entry.get()) < ARCHIVE_WARN)
                    return fail(withEntryName(name.c_str(), libraryMessage(writer.get())));
                break;
            case Step::Kind::Data:
                sinceSpaceCheck += static_cast<qint64>(step.size);
                if (archive_write_data_block(writer.get(), batch->bytes.data() + step.at, step.size,
                                             step.offset) < ARCHIVE_WARN)
                    return fail(withEntryName(name.c_str(), libraryMessage(writer.get())));
                if (sinceSpaceCheck >= kSpaceRecheckBytes) {
                    // Others may fill the disk meanwhile; the reserve is kept all the same.
                    sinceSpaceCheck = 0;
                    const std::optional<long double> left =
                        extractionAllowance(base, limits, &freeBytes, &reserve);
                    if (left && *left < 0)
                        return fail(QStringLiteral("磁盘剩余 %1，须保留 %2 空闲")
                                        .arg(megabytes(freeBytes), megabytes(reserve)));
                }
                break;
            case Step::Kind::EndOfEntry:
                if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN)
                    return fail(withEntryName(name.c_str(), libraryMessage(writer.get())));
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
        return fail(libraryMessage(writer.get()));
    return {};
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

std::optional<QString>
PanelViewModel::unzipUpdateArchive(const QString& archivePath, const QString& extractDir,
                                   const std::function<void(qint64, qint64)>& progress,
                                   const Result<update::ArchiveSurvey>* surveyed) const {
    update::ExtractionLimits limits;
    limits.reserveBytes = m_config.extractionReserveBytes;
    limits.reserveShare = m_config.extractionReserveShare;
    const Result<> extracted =
        update::extractZipArchive(archivePath, extractDir, limits, progress, surveyed);
    if (extracted)
        return std::nullopt;
    return update::extractionFailureText(extracted.error().code, extracted.error().message);
}
