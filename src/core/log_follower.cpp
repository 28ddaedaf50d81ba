#include "core/log_follower.h"

#include "platform/dispatcher.h"

#include <QPointer>

#include <utility>

namespace logs {

// What one read on a worker brings back to the main thread.
struct LogFollower::Delivery {
    Read read = Read::Since;
    LogChunk chunk;
    QString error; // of a clear that failed
};

LogFollower::LogFollower(std::shared_ptr<Dispatcher> dispatcher, std::function<QString()> pathOf,
                         QObject* parent)
    : QAbstractListModel(parent), m_dispatcher(std::move(dispatcher)), m_pathOf(std::move(pathOf)) {
    m_timer.setInterval(kPollInterval);
    connect(&m_timer, &QTimer::timeout, this, &LogFollower::poll);
}

LogFollower::~LogFollower() = default;

void LogFollower::start() {
    Q_ASSERT(m_dispatcher->isMainThread());
    if (m_timer.isActive())
        return;
    m_timer.start();
    poll();
}

void LogFollower::stop() {
    m_timer.stop();
}

void LogFollower::clearLog() {
    m_clearAsked = true;
    poll();
}

void LogFollower::poll() {
    // One read at a time: a tick while one is under way is skipped, a clear waits for it.
    if (m_reading)
        return;
    const Read read = m_clearAsked ? Read::Clear : (m_opened ? Read::Since : Read::End);
    if (read != Read::Clear && !m_timer.isActive())
        return;
    m_reading = true;
    m_clearAsked = false;
    m_dispatcher->runInBackground([read, pathOf = m_pathOf, from = m_position,
                                   dispatcher = m_dispatcher, self = QPointer(this)]() mutable {
        Delivery delivery{read, {}, {}};
        const QString path = pathOf();
        switch (read) {
        case Read::End:
            delivery.chunk = readLogEnd(path, kMaxLines);
            break;
        case Read::Since:
            delivery.chunk = readLogSince(path, from, kMaxLines);
            break;
        case Read::Clear:
            if (const Result<LogPosition> emptied = logs::clearLog(path))
                delivery.chunk.next = *emptied;
            else
                delivery.error = emptied.error().context();
            break;
        }
        // The follower is looked at on the main thread only: it may be gone by then.
        dispatcher->postToMain([self = std::move(self), delivery = std::move(delivery)] {
            if (self)
                self->deliver(delivery);
        });
    });
}

void LogFollower::deliver(const Delivery& delivery) {
    m_reading = false;
    switch (delivery.read) {
    case Read::End:
        m_opened = true;
        m_position = delivery.chunk.next;
        replaceLines(delivery.chunk.lines);
        break;
    case Read::Since:
        m_position = delivery.chunk.next;
        if (delivery.chunk.restarted)
            replaceLines(delivery.chunk.lines);
        else
            appendLines(delivery.chunk.lines);
        break;
    case Read::Clear:
        if (delivery.error.isEmpty()) {
            m_position = delivery.chunk.next;
            replaceLines({});
        }
        Q_EMIT cleared(delivery.error);
        break;
    }
    if (m_clearAsked)
        poll();
}

void LogFollower::replaceLines(QList<LogLine> lines) {
    if (lines.isEmpty() && m_lines.empty())
        return;
    beginResetModel();
    m_lines.assign(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end()));
    endResetModel();
    Q_EMIT linesChanged();
}

void LogFollower::appendLines(QList<LogLine> lines) {
    if (lines.isEmpty())
        return;
    // The oldest go first, so the list never holds more than kMaxLines.
    const int excess = int(m_lines.size()) + int(lines.size()) - kMaxLines;
    if (excess > 0) {
        const int dropped = std::min(excess, int(m_lines.size()));
        beginRemoveRows({}, 0, dropped - 1);
        m_lines.erase(m_lines.begin(), m_lines.begin() + dropped);
        endRemoveRows();
    }
    const int first = int(m_lines.size());
    beginInsertRows({}, first, first + int(lines.size()) - 1);
    for (LogLine& line : lines)
        m_lines.push_back(std::move(line));
    endInsertRows();
    Q_EMIT linesChanged();
}

void LogFollower::setSeverityMarkers(QString error, QString warning) {
    m_errorMarker = std::move(error);
    m_warningMarker = std::move(warning);
    if (!m_lines.empty())
        Q_EMIT dataChanged(index(0), index(int(m_lines.size()) - 1), {Qt::DisplayRole});
}

QString LogFollower::displayText(const LogLine& line) const {
    QString text = line.severity == Severity::Error     ? m_errorMarker
                   : line.severity == Severity::Warning ? m_warningMarker
                                                        : QString();
    if (!line.location.isEmpty())
        text += line.location + QStringLiteral(" · ");
    return text + line.text;
}

int LogFollower::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_lines.size());
}

QVariant LogFollower::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= int(m_lines.size()))
        return {};
    const LogLine& line = m_lines[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        return displayText(line);
    case SeverityRole:
        return int(line.severity);
    case LocationRole:
        return line.location;
    default:
        return {};
    }
}

} // namespace logs
