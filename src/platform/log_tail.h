#pragma once

#include <QString>
#include <QStringList>

// What a server wrote to its log file during one launch.

namespace platform {

// The size of the file at path in bytes; 0 when there is none. Taken before a launch, it
// marks where the launch's own lines begin.
qint64 fileSizeOf(const QString& path);

// The last maxLines non-blank lines written to the file at path after it was offset bytes
// long (a file that has since shrunk is read from its start), oldest first, trimmed. Bytes
// that are not UTF-8 are replaced.
QStringList linesWrittenSince(const QString& path, qint64 offset, int maxLines);

} // namespace platform
