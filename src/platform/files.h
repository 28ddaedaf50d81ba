#pragma once

#include <QString>

#include <optional>

// File operations with the semantics the panel relies on.

// True when anything (file, directory, or a link that leads somewhere) exists at path.
bool pathExists(const QString& path);
// True when a directory (or a link to one) exists at path.
bool isDirectory(const QString& path);
// True when path is a regular file (or a link to one) that the panel may execute.
bool isExecutableFile(const QString& path);

// Creates the directory with any missing parents. "" on success (also when it existed),
// otherwise the system's description of the failure.
QString createDirectories(const QString& path);

// Writes text as UTF-8 to a temporary file beside path that then replaces path, so readers
// see the old or the whole new file. "" on success, otherwise the failure's description.
QString writeTextAtomically(const QString& path, const QString& text);

// The file's text when it exists, can be read and is valid UTF-8; nothing otherwise.
std::optional<QString> readUtf8File(const QString& path);

// Removes a file, a link or a whole directory tree. "" on success or when nothing was there.
QString removePath(const QString& path);

// Copies the tree at from to to (which must not exist), keeping permission bits and copying
// symbolic links as links. "" on success, otherwise the failure's description.
QString copyTree(const QString& from, const QString& to);

// Renames within one file system. "" on success, otherwise the failure's description.
QString renamePath(const QString& from, const QString& to);
