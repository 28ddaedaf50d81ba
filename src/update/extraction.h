#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Unpacking the update archive and stripping the metadata that the macOS archiver adds.

// Unpacks the ZIP archive at archivePath into the existing directory extractDir, keeping file
// modes (without set-id bits) and times but not ownership. No entry is ever written outside
// extractDir: absolute names, ".." components and writes through symbolic links are refused,
// and the extraction stops there. Nothing on success, else
// "解压失败: ditto 退出码 1" followed by "，" and the library's message when it has one.
std::optional<QString> extractZipArchive(const QString& archivePath, const QString& extractDir);

// The failure text of an extraction with the given status and message (the message is
// trimmed; a blank one adds nothing).
QString extractionFailureText(int status, const QString& message);

// The artefacts below dir in removal order: every entry named "__MACOSX" or beginning with
// "._", found by a pre-order walk that includes hidden entries and does not enter "__MACOSX",
// then stably sorted by path length, longest first.
QStringList macOSXArtifacts(const QString& dir);

// Removes the artefacts of macOSXArtifacts(dir) in order, each with everything below it.
// "" on success, else the description of the first removal that failed (the rest stay).
QString removeMacOSXArtifacts(const QString& dir);
