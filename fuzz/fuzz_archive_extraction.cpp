// Unpacking an update archive into a temporary directory: no entry, however named or linked,
// may write outside the extraction directory.
//
// Input: first byte even, the rest is the archive as it is; odd, the rest describes entries
// from which a ZIP archive is written: per entry a kind byte, a name, and contents (a link's
// target). A name or target starting with "@" stands for the sandbox's "outside" directory,
// so absolute paths into it are reachable.

#include "fuzz_sandbox.h"
#include "fuzz_support.h"
#include "update/extraction.h"

#include <archive.h>
#include <archive_entry.h>

#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

FuzzSandbox sandbox;

QByteArray expand(QByteArray text) {
    if (text.startsWith('@'))
        text = QByteArray::fromStdString((sandbox.root / "outside").string()) + text.mid(1);
    return text;
}

QByteArray zipFromEntries(FuzzInput& in) {
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    archive* a = archive_write_new();
    archive_write_set_format_zip(a);
    if (archive_write_open_memory(a, buffer.data(), buffer.size(), &used) != ARCHIVE_OK) {
        archive_write_free(a);
        return {};
    }
    for (int n = 0; n < 16 && !in.empty(); ++n) {
        const uint8_t kind = in.byte();
        const QByteArray name = expand(in.bytes(48));
        const QByteArray contents = in.bytes(64);
        archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, name.constData());
        archive_entry_set_mtime(e, 1700000000, 0);
        switch (kind % 4) {
        case 0:
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, kind & 0x10 ? 04755 : 0644);
            archive_entry_set_size(e, contents.size());
            break;
        case 1:
            archive_entry_set_filetype(e, AE_IFDIR);
            archive_entry_set_perm(e, kind & 0x10 ? 0555 : 0755);
            break;
        case 2:
            archive_entry_set_filetype(e, AE_IFLNK);
            archive_entry_set_perm(e, 0777);
            archive_entry_set_symlink(e, expand(contents).constData());
            break;
        default:
            archive_entry_set_filetype(e, AE_IFREG);
            archive_entry_set_perm(e, 0644);
            archive_entry_set_hardlink(e, expand(contents).constData());
            break;
        }
        if (archive_write_header(a, e) == ARCHIVE_OK && kind % 4 == 0)
            archive_write_data(a, contents.constData(), contents.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
    return QByteArray(buffer.data(), static_cast<qsizetype>(used));
}

// Every path under dir, links not followed.
std::vector<fs::path> listing(const fs::path& dir) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path());
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    const QByteArray archiveBytes = in.byte() % 2 ? zipFromEntries(in) : in.rest();

    const fs::path work = sandbox.root / "work";
    const fs::path outside = sandbox.root / "outside";
    FuzzSandbox::reset(work);
    FuzzSandbox::reset(outside);
    const fs::path extractDir = work / "extract";
    fs::create_directories(extractDir);
    const fs::path archivePath = work / "update.zip";
    std::ofstream(archivePath, std::ios::binary)
        .write(archiveBytes.constData(), archiveBytes.size());

    const Result<> extracted =
        update::extractZipArchive(FuzzSandbox::qt(archivePath), FuzzSandbox::qt(extractDir));
    if (!extracted)
        FUZZ_CHECK(extracted.error().exitStatus == update::kArchiveErrorStatus);

    // Nothing appeared outside the extraction directory, nothing was written through a link.
    FUZZ_CHECK(listing(outside).empty());
    for (const fs::path& p : listing(work))
        FUZZ_CHECK(p == archivePath || p == extractDir || isWithin(p.parent_path(), extractDir));
    for (const fs::path& p : listing(extractDir)) {
        std::error_code ec;
        const fs::file_status st = fs::symlink_status(p, ec);
        // No set-id bits survive.
        FUZZ_CHECK(ec || (st.permissions() & (fs::perms::set_uid | fs::perms::set_gid)) ==
                             fs::perms::none);
    }
    (void)update::macOSXArtifacts(FuzzSandbox::qt(extractDir));
    return 0;
}
