#include "log_tail.h"

#include <QFile>
#include <QFileInfo>

namespace platform {

qint64 fileSizeOf(const QString& path) {
    const QFileInfo info(path);
    return info.exists() ? info.size() : 0;
}

QStringList linesWrittenSince(const QString& path, qint64 offset, int maxLines) {
    QFile file(path);
    if (maxLines <= 0 || !file.open(QIODevice::ReadOnly))
        return {};
    if (offset < 0 || offset > file.size())
        offset = 0;
    // Only the end matters: a server that wrote megabytes during one launch is read from
    // near its end (a few lines of a few kilobytes each at most).
    const qint64 window = qint64(maxLines) * 4096;
    const bool cut = file.size() - offset > window;
    if (cut)
        offset = file.size() - window;
    if (!file.seek(offset))
        return {};
    QStringList pieces = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (cut)
        pieces.removeFirst(); // the rest of a line that began before the window
    QStringList lines;
    for (const QString& line : pieces) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty())
            lines.push_back(trimmed);
    }
    if (lines.size() > maxLines)
        lines = lines.mid(lines.size() - maxLines);
    return lines;
}

} // namespace platform
