#include "update/extraction.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"

#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <clocale>
#include <locale.h>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

// Extraction failures carry this status, in the place of the exit status of an unpacking
// tool.
constexpr int kArchiveErrorStatus = 1;

struct ReaderDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
using Reader = std::unique_ptr<archive, ReaderDeleter>;
using Writer = std::unique_ptr<archive, WriterDeleter>;

// Archive names are UTF-8; libarchive converts them to the thread's locale, which must then
// be a UTF-8 one even where the process runs in the C locale. The switch is per thread.
class Utf8LocaleScope {
public:
    Utf8LocaleScope() {
        m_locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
        if (m_locale)
            m_previous = uselocale(m_locale);
    }
    ~Utf8LocaleScope() {
        if (m_locale) {
            uselocale(m_previous);
            freelocale(m_locale);
        }
    }
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
};

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

// Copies the data of the current entry from reader to writer.
int copyEntryData(archive* reader, archive* writer) {
    const void* block = nullptr;
    size_t size = 0;
    la_int64_t offset = 0;
    for (;;) {
        int r = archive_read_data_block(reader, &block, &size, &offset);
        if (r == ARCHIVE_EOF)
            return ARCHIVE_OK;
        if (r < ARCHIVE_WARN)
            return r;
        la_ssize_t written = archive_write_data_block(writer, block, size, offset);
        if (written < ARCHIVE_WARN)
            return static_cast<int>(written);
    }
}

} // namespace

QString extractionFailureText(int status, const QString& message) {
    QString text = QStringLiteral("解压失败: ditto 退出码 ") + QString::number(status);
    const QString trimmed = trimmedText(message);
    if (!trimmed.isEmpty())
        text += QStringLiteral("，") + trimmed;
    return text;
}

std::optional<QString> extractZipArchive(const QString& archivePath, const QString& extractDir) {
    auto fail = [](const QString& message) {
        return std::optional<QString>(extractionFailureText(kArchiveErrorStatus, message));
    };

    // Entries are written by full path below the extraction directory (never by changing the
    // working directory: other threads rely on it). The directory's path is resolved first so
    // that the check against writing through links does not trip over links above it.
    const QString base = QFileInfo(extractDir).canonicalFilePath();
    if (base.isEmpty() || !isDirectory(base))
        return fail(QStringLiteral("Extraction directory not found: ") + extractDir);
    const std::string prefix = QFile::encodeName(base).toStdString() + '/';

    Utf8LocaleScope utf8;
    Reader reader(archive_read_new());
    Writer writer(archive_write_disk_new());
    if (!reader || !writer)
        return fail(QStringLiteral("Out of memory"));
    archive_read_support_format_zip(reader.get());
    // Absolute names are refused by unsafeNameReason() before the directory is prefixed, as
    // the library's own refusal of absolute paths would also refuse the prefixed names.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_PERM |
                                                     ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS);

    const QByteArray archiveName = QFile::encodeName(archivePath);
    if (archive_read_open_filename(reader.get(), archiveName.constData(), 64 * 1024) != ARCHIVE_OK)
        return fail(libraryMessage(reader.get()));

    for (;;) {
        archive_entry* entry = nullptr;
        int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN)
            return fail(libraryMessage(reader.get()));

        const char* rawName = archive_entry_pathname(entry);
        const std::string name = rawName ? rawName : "";
        if (auto reason = unsafeNameReason(name))
            return fail(withEntryName(name.c_str(), *reason));
        if (const char* link = archive_entry_hardlink(entry)) {
            if (auto reason = unsafeNameReason(link))
                return fail(withEntryName(name.c_str(), *reason));
            archive_entry_copy_hardlink(entry, (prefix + link).c_str());
        }
        archive_entry_copy_pathname(entry, (prefix + name).c_str());

        // Keep the permission bits but never set-id ones; directories stay usable to the
        // panel so that the next run can walk and remove the tree.
        mode_t perm = archive_entry_perm(entry) & 0777;
        if (archive_entry_filetype(entry) == AE_IFDIR)
            perm |= S_IRWXU;
        archive_entry_set_perm(entry, perm);

        r = archive_write_header(writer.get(), entry);
        if (r < ARCHIVE_WARN)
            return fail(withEntryName(name.c_str(), libraryMessage(writer.get())));
        // Always copied: an entry of a streamed archive may not know its size in advance.
        r = copyEntryData(reader.get(), writer.get());
        if (r < ARCHIVE_WARN) {
            // The failing side is the one that left a message.
            QString message = libraryMessage(writer.get());
            if (message.isEmpty())
                message = libraryMessage(reader.get());
            return fail(withEntryName(name.c_str(), message));
        }
        r = archive_write_finish_entry(writer.get());
        if (r < ARCHIVE_WARN)
            return fail(withEntryName(name.c_str(), libraryMessage(writer.get())));
    }
    // Directory modes and times are applied last.
    if (archive_write_close(writer.get()) < ARCHIVE_WARN)
        return fail(libraryMessage(writer.get()));
    return std::nullopt;
}

QStringList macOSXArtifacts(const QString& dir) {
    QStringList found;
    std::error_code ec;
    fs::recursive_directory_iterator it(fs::path(QFile::encodeName(dir).toStdString()),
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
            found.push_back(QFile::decodeName(QByteArray(it->path().c_str())));
        } else if (name.starts_with("._")) {
            found.push_back(QFile::decodeName(QByteArray(it->path().c_str())));
        }
    }
    // Deepest first, so nothing is removed after a directory that holds it.
    std::stable_sort(found.begin(), found.end(),
                     [](const QString& a, const QString& b) { return a.size() > b.size(); });
    return found;
}

QString removeMacOSXArtifacts(const QString& dir) {
    for (const QString& artifact : macOSXArtifacts(dir)) {
        struct stat st;
        if (::lstat(QFile::encodeName(artifact).constData(), &st) != 0)
            continue; // already gone with an earlier one
        if (QString error = removePath(artifact); !error.isEmpty())
            return error;
    }
    return {};
}

// --- PanelViewModel: archive extraction and clean-up ---

std::optional<QString> PanelViewModel::unzipUpdateArchive(const QString& archivePath,
                                                          const QString& extractDir) const {
    return extractZipArchive(archivePath, extractDir);
}

QString PanelViewModel::removeMacOSXArtifacts(const QString& extractDir) const {
    return ::removeMacOSXArtifacts(extractDir);
}
