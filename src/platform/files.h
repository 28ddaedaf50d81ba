#pragma once

#include "platform/result.h"

#include <QByteArray>
#include <QString>

#include <filesystem>
#include <functional>
#include <optional>

#include <locale.h>

// File operations with the semantics the panel relies on.
namespace platform {

// True when anything (file, directory, or a link that leads somewhere) exists at path.
bool pathExists(const QString& path);
// True when anything at all is at path, a dangling link included (the link itself counts).
bool entryExists(const QString& path);
// True when a directory (or a link to one) exists at path.
bool isDirectory(const QString& path);
// True when something other than a real directory (a file, or a link of any kind) is at path.
bool isNonDirectoryEntry(const QString& path);
// True when path is a regular file (or a link to one) that the panel may execute.
bool isExecutableFile(const QString& path);

// Whether this process may create files in the directory at path, asked of the system without
// creating one (its permissions, a read-only or immutable file system): the error that creating
// a file there would meet, as far as the system can tell beforehand.
Result<> checkDirectoryWritable(const QString& path);

// Creates the directory with any missing parents; also succeeds when it existed.
Result<> createDirectories(const QString& path);

// Writes text as UTF-8 to a temporary file beside path that then replaces path, so readers
// see the old or the whole new file.
Result<> writeTextAtomically(const QString& path, const QString& text);

// The same, unless path already holds exactly that text: then nothing is written.
Result<> writeTextAtomicallyIfChanged(const QString& path, const QString& text);

// The same replacement without waiting for the disk: for a file that only tests whether a
// directory can be written and is removed at once, or one written anew before every use,
// where a flush to disk would cost milliseconds and keep nothing safe.
Result<> writeTextAtomicallyUnsynced(const QString& path, const QString& text);

// The file's text when it exists, can be read and is valid UTF-8.
Result<QString> readUtf8File(const QString& path);

// Decodes strictly: bytes that are not valid UTF-8 give nothing.
std::optional<QString> decodeUtf8(const QByteArray& bytes);

// Removes a file, a link or a whole directory tree; also succeeds when nothing was there.
Result<> removePath(const QString& path);

// Copies the tree at from to to (which must not exist), keeping permission bits and copying
// symbolic links as links.
Result<> copyTree(const QString& from, const QString& to);

// Renames within one file system.
Result<> renamePath(const QString& from, const QString& to);

// Makes the directory to hold one symbolic link per entry of the directory from whose name
// keep accepts (each to that entry's absolute path, under the same name) and nothing else.
// Only what differs changes, and a link is made under a temporary name and renamed into
// place, so that a program reading to meanwhile sees every link that stays. A missing from
// leaves to empty.
Result<> mirrorAsLinks(const QString& from, const QString& to,
                       const std::function<bool(const QString& name)>& keep);

// The space of the file system that holds path.
struct FileSystemSpace {
    long double availableBytes = 0; // free to the panel (not the part kept for the superuser)
    long double sizeBytes = 0;
};
Result<FileSystemSpace> fileSystemSpace(const QString& path);

// The file-system path of a panel path (in the file-name encoding), and back.
std::filesystem::path toFsPath(const QString& path);
QString fromFsPath(const std::filesystem::path& path);

// Switches the calling thread to a UTF-8 character type (C.UTF-8) for as long as this lives,
// for libraries that convert names through the thread's locale even where the process runs in
// the C locale.
class Utf8LocaleScope {
public:
    Utf8LocaleScope();
    ~Utf8LocaleScope();
    Utf8LocaleScope(const Utf8LocaleScope&) = delete;
    Utf8LocaleScope& operator=(const Utf8LocaleScope&) = delete;

private:
    locale_t m_locale = nullptr;
    locale_t m_previous = nullptr;
};

} // namespace platform
