#pragma once

#include "core/service_table.h"
#include "platform/result.h"

#include <QList>
#include <QString>

#include <optional>

// The servers' own logs as the panel shows them: the end of a log read from the end (a huge
// log opens as fast as a small one), what was appended since, and each line's severity and
// the source position it names.
namespace logs {

enum class Severity { Plain, Warning, Error };

struct LogLine {
    QString text;
    Severity severity = Severity::Plain;
    QString location; // "file.php:12" where the line names a file and a line, else empty
};

// PHP's errors (fatal, parse, uncaught: errors; warning, deprecated, notice: warnings), the
// database's "[ERROR]" and "[Warning]", and answers with a status of 500 or more (errors).
LogLine classifyLine(const QString& text);
// The text marker of a severity, so that it shows without colour: "[错误] ", "[警告] " or "".
QString severityMarker(Severity severity);

// Where reading stopped: the offset after the last whole line, and which file that was.
struct LogPosition {
    qint64 offset = 0;
    quint64 device = 0;
    quint64 inode = 0;
};

struct LogChunk {
    QList<LogLine> lines;
    LogPosition next;
    // The file was truncated, replaced (rotated) or deleted since: read from its new start.
    bool restarted = false;
};

// The last maxLines whole lines of the file at path (none when it is missing), looked for in
// its last maxLines * 4 KiB at most. Bytes that are not UTF-8 show as replacement characters,
// zero bytes (a sparse file's holes) not at all.
LogChunk readLogEnd(const QString& path, int maxLines);
// The whole lines appended since from (at most the last maxLines of them).
LogChunk readLogSince(const QString& path, const LogPosition& from, int maxLines);
// Empties the log in place (the same file, so a server holding it open writes on into it);
// where reading goes on from. A missing log is already empty.
Result<LogPosition> clearLog(const QString& path);

} // namespace logs
