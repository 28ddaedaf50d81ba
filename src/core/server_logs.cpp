#include "core/server_logs.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace logs {

namespace {

constexpr qint64 kBlockBytes = qint64(64) * 1024;
// The most one read takes in, per line asked for: a log with no line breaks in its last
// gigabytes (a sparse file, a binary dump) is not read whole for a few lines.
constexpr qint64 kBytesPerLine = 4096;

qint64 windowFor(int maxLines) {
    return std::max<qint64>(kBlockBytes, qint64(std::max(maxLines, 1)) * kBytesPerLine);
}

struct OpenLog {
    int fd = -1;
    struct stat st {};
    ~OpenLog() {
        if (fd >= 0)
            ::close(fd);
    }
};

bool openLog(const QString& path, OpenLog& log) {
    log.fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    return log.fd >= 0 && ::fstat(log.fd, &log.st) == 0;
}

QByteArray readRange(int fd, qint64 from, qint64 size) {
    QByteArray bytes(size, Qt::Uninitialized);
    qint64 got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, bytes.data() + got, size_t(size - got), off_t(from + got));
        if (n <= 0)
            break;
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

// A line that goes on the message before it: PHP's "Stack trace:", its "#0 …" frames and the
// "  thrown in …" that ends it.
bool continuesMessage(const QString& text) {
    static const QRegularExpression continuation(
        QStringLiteral("^(?:Stack trace:|#\\d+ |\\s+thrown in )"));
    return continuation.match(text).hasMatch();
}

// The whole lines of bytes (which end at a line break), the last maxLines of them.
QList<LogLine> linesOf(const QByteArray& bytes, int maxLines) {
    QList<QByteArray> raw = bytes.split('\n');
    raw.removeLast(); // after the last line break
    if (raw.size() > maxLines)
        raw = raw.mid(raw.size() - maxLines);
    QList<LogLine> lines;
    lines.reserve(raw.size());
    for (QByteArray& line : raw) {
        if (line.endsWith('\r'))
            line.chop(1);
        // Zeros are no text: a hole left where a server went on writing at its old offset
        // after the log was truncated under it.
        line.removeIf([](char c) { return c == 0; });
        LogLine classified = classifyLine(QString::fromUtf8(line));
        // An uncaught exception's trace is one message over several lines: they share its
        // severity, so that they stay with it among the errors only and in a copy.
        if (classified.severity == Severity::Plain && !lines.isEmpty() &&
            lines.back().severity != Severity::Plain && continuesMessage(classified.text))
            classified.severity = lines.back().severity;
        lines.push_back(std::move(classified));
    }
    return lines;
}

LogPosition positionOf(const OpenLog& log, qint64 offset) {
    return {offset, quint64(log.st.st_dev), quint64(log.st.st_ino)};
}

} // namespace

LogLine classifyLine(const QString& text) {
    static const QRegularExpression phpError(QStringLiteral(
        "PHP (Fatal error|Parse error|Recoverable fatal error|Catchable fatal error)|Uncaught "));
    static const QRegularExpression phpWarning(
        QStringLiteral("PHP (Warning|Deprecated|Notice|Strict Standards):"));
    static const QRegularExpression serverError(QStringLiteral("\\[(5\\d\\d)\\]: "));
    static const QRegularExpression location(
        QStringLiteral(" in ((?:/.*?|\\S+?)\\.(?:php|inc|phtml))(?: on line |:)(\\d+)"));
    LogLine line{text, Severity::Plain, {}};
    if (phpError.match(text).hasMatch() || text.contains(QLatin1String("[ERROR]")) ||
        serverError.match(text).hasMatch())
        line.severity = Severity::Error;
    else if (phpWarning.match(text).hasMatch() || text.contains(QLatin1String("[Warning]")))
        line.severity = Severity::Warning;
    if (const QRegularExpressionMatch m = location.match(text); m.hasMatch())
        line.location = m.captured(1) + QLatin1Char(':') + m.captured(2);
    return line;
}

QString severityMarker(Severity severity) {
    switch (severity) {
    case Severity::Error:
        return QStringLiteral("[错误] ");
    case Severity::Warning:
        return QStringLiteral("[警告] ");
    case Severity::Plain:
        break;
    }
    return {};
}

LogChunk readLogEnd(const QString& path, int maxLines) {
    LogChunk chunk;
    OpenLog log;
    if (!openLog(path, log))
        return chunk;
    const qint64 size = log.st.st_size;
    const qint64 earliest = std::max<qint64>(0, size - windowFor(maxLines));
    // Back from the end, a block at a time, until the lines asked for (and the break before
    // the first of them) are in, or the window is.
    qint64 from = size;
    qsizetype breaks = 0;
    QList<QByteArray> blocks;
    while (from > earliest && breaks <= maxLines) {
        const qint64 block = std::min(kBlockBytes, from - earliest);
        QByteArray bytes = readRange(log.fd, from - block, block);
        // A block of zeros is a hole (a sparse file, or a log truncated under a server that
        // went on writing at its old offset): the log is not looked at before it.
        if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return c == 0; }))
            break;
        from -= block;
        breaks += bytes.count('\n');
        blocks.prepend(std::move(bytes));
    }
    QByteArray tail = blocks.join();
    tail.truncate(tail.lastIndexOf('\n') + 1);
    const qint64 next = from + tail.size();
    // The window may begin inside a line: its end is still shown, unless it is nothing but a
    // hole (the zeros of a sparse file).
    if (from > 0 && breaks > 0 && breaks <= maxLines) {
        const qsizetype firstBreak = tail.indexOf('\n');
        if (std::all_of(tail.cbegin(), tail.cbegin() + firstBreak, [](char c) { return c == 0; }))
            tail.remove(0, firstBreak + 1);
    }
    chunk.lines = linesOf(tail, maxLines);
    chunk.next = positionOf(log, next);
    return chunk;
}

LogChunk readLogSince(const QString& path, const LogPosition& from, int maxLines) {
    OpenLog log;
    if (!openLog(path, log))
        return {{}, {}, from.offset > 0 || from.inode != 0};
    const bool sameFile =
        quint64(log.st.st_ino) == from.inode && quint64(log.st.st_dev) == from.device;
    if (!sameFile || log.st.st_size < from.offset) {
        LogChunk chunk = readLogEnd(path, maxLines);
        chunk.restarted = true;
        return chunk;
    }
    // Far more appended than asked for: only its end, as when the log is opened.
    if (log.st.st_size - from.offset > windowFor(maxLines))
        return readLogEnd(path, maxLines);
    LogChunk chunk;
    const qint64 offset = from.offset;
    QByteArray appended = readRange(log.fd, offset, log.st.st_size - offset);
    const qsizetype lastBreak = appended.lastIndexOf('\n');
    appended.truncate(lastBreak + 1);
    chunk.lines = linesOf(appended, maxLines);
    chunk.next = positionOf(log, offset + appended.size());
    return chunk;
}

Result<LogPosition> clearLog(const QString& path) {
    // Truncated in place, never replaced: a server writing to it goes on writing to it.
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? Result<LogPosition>(LogPosition{})
                               : platform::errnoFailure(errno, path, QStringLiteral("open"));
    struct stat st {};
    const bool ok = ::ftruncate(fd, 0) == 0 && ::fstat(fd, &st) == 0;
    const int code = errno;
    ::close(fd);
    if (!ok)
        return platform::errnoFailure(code, path, QStringLiteral("ftruncate"));
    return LogPosition{0, quint64(st.st_dev), quint64(st.st_ino)};
}

} // namespace logs
