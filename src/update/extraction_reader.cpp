#include "update/extraction_reader.h"

#include "platform/files.h"
#include "update/extraction_names.h"

#include <QFile>

#include <cerrno>
#include <unordered_set>

#include <sys/stat.h>

namespace update::archive_reading {

using namespace entry_names;

QString libraryMessage(archive* a) {
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QString();
}

Error libraryError(archive* a, ErrorKind kind) {
    Error error{libraryMessage(a), {}, {}, 0, kind, 0};
    if (kind == ErrorKind::System && archive_errno(a) > 0)
        error.code = archive_errno(a);
    return error;
}

Result<Reader> openZip(const QByteArray& archiveName) {
    Reader reader(archive_read_new());
    if (!reader)
        return std::unexpected(Error{QStringLiteral("Out of memory"), {}, {}, ENOMEM});
    archive_read_support_format_zip_seekable(reader.get());
    if (archive_read_open_filename(reader.get(), archiveName.constData(), size_t{256} * 1024) !=
        ARCHIVE_OK) {
        // A file that cannot be opened is the system's failure; anything else, the archive's.
        const int code = archive_errno(reader.get());
        const bool unopened = code == ENOENT || code == EACCES || code == EISDIR || code == ENOTDIR;
        Error error = libraryError(reader.get(), unopened ? ErrorKind::System : ErrorKind::Corrupt);
        if (code == ENOENT)
            error.kind = ErrorKind::NotFound;
        return std::unexpected(std::move(error));
    }
    return reader;
}

Result<ArchiveSurvey> surveyArchive(const QByteArray& archiveName) {
    Result<Reader> reader = openZip(archiveName);
    if (!reader)
        return std::unexpected(reader.error());
    ArchiveSurvey survey;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(reader->get(), &entry);
        if (r == ARCHIVE_EOF)
            return survey;
        if (r < ARCHIVE_WARN)
            return std::unexpected(libraryError(reader->get(), ErrorKind::Corrupt));
        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        if (auto reason = unsafeNameReason(name))
            return std::unexpected(refusedEntry(name.c_str(), *reason));
        if (auto reason = replacesBaseReason(normalizedName(name), archive_entry_filetype(entry)))
            return std::unexpected(refusedEntry(name.c_str(), *reason));
        if (const char* link = archive_entry_hardlink(entry)) {
            if (auto reason = unsafeNameReason(link))
                return std::unexpected(refusedEntry(name.c_str(), *reason));
        }
        ++survey.entries;
        if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0)
            survey.declaredBytes += static_cast<long double>(archive_entry_size(entry));
    }
}

BatchChannel::BatchChannel(int batches) {
    for (int i = 0; i < batches; ++i) {
        auto batch = std::make_unique<Batch>();
        batch->bytes.reserve(Batch::kBytes + size_t{256} * 1024);
        m_empty.push_back(std::move(batch));
    }
}

void BatchChannel::giveBack(std::unique_ptr<Batch> batch) {
    batch->steps.clear();
    batch->bytes.clear();
    batch->last = false;
    put(m_empty, std::move(batch));
}

void BatchChannel::stop() {
    const std::lock_guard lock(m_mutex);
    m_stopped = true;
    m_changed.notify_all();
}

std::unique_ptr<Batch> BatchChannel::take(std::deque<std::unique_ptr<Batch>>& from) {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [&] { return m_stopped || !from.empty(); });
    if (from.empty())
        return nullptr;
    std::unique_ptr<Batch> batch = std::move(from.front());
    from.pop_front();
    return batch;
}

void BatchChannel::put(std::deque<std::unique_ptr<Batch>>& to, std::unique_ptr<Batch> batch) {
    const std::lock_guard lock(m_mutex);
    to.push_back(std::move(batch));
    m_changed.notify_all();
}

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
    const auto stopWith = [&](Error failure) {
        Step step;
        step.kind = Step::Kind::Failure;
        step.failure = std::move(failure);
        batch->steps.push_back(std::move(step));
        batch->last = true;
        send();
    };
    const auto corrupt = [](const std::string& entryName, const QString& message) {
        return Error{withEntryName(entryName.c_str(), message), {}, {}, 0, ErrorKind::Corrupt, 0};
    };
    const auto throughLink = [&](const std::string& entryName, const std::string& path) {
        stopWith(refusedEntry(entryName.c_str(),
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
            return stopWith(libraryError(reader, ErrorKind::Corrupt));

        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        // Checked again: the survey read the same archive, but a name is only ever prefixed
        // once it is known to be safe.
        if (auto reason = unsafeNameReason(name))
            return stopWith(refusedEntry(name.c_str(), *reason));
        const std::string normal = normalizedName(name);
        if (auto reason = replacesBaseReason(normal, archive_entry_filetype(entry)))
            return stopWith(refusedEntry(name.c_str(), *reason));
        if (linkOnTheWay(normal, links))
            return throughLink(name, name);
        if (const char* link = archive_entry_hardlink(entry)) {
            if (auto reason = unsafeNameReason(link))
                return stopWith(refusedEntry(name.c_str(), *reason));
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
            return stopWith(Error{QStringLiteral("Out of memory"), {}, {}, ENOMEM});
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
                return stopWith(corrupt(name, libraryMessage(reader)));
            read += static_cast<qint64>(size);
            if (read > declared)
                return stopWith(corrupt(
                    name, QStringLiteral("解压出的数据超过声明的大小 %1 字节").arg(declared)));
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

} // namespace update::archive_reading
