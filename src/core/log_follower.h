#pragma once

#include "core/server_logs.h"

#include <QAbstractListModel>
#include <QTimer>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

class Dispatcher;

namespace logs {

// One server's log as the window shows it: a list of its last lines that follows the file.
// start() reads the end of the log on a worker, then reads what was appended every
// pollInterval, again on a worker and never two reads at once; each read's lines arrive on
// the main thread in one batch. The oldest lines go once there are more than kMaxLines. A
// truncated, rotated or deleted log is shown anew from its new start. All members are for
// the main thread.
class LogFollower : public QAbstractListModel {
    Q_OBJECT
public:
    static constexpr int kMaxLines = 2000;
    static constexpr std::chrono::milliseconds kPollInterval{250};

    enum Role { SeverityRole = Qt::UserRole + 1, LocationRole };

    // pathOf names the log; it is asked on a worker before each read (the panel root may
    // change while the window is open).
    LogFollower(std::shared_ptr<Dispatcher> dispatcher, std::function<QString()> pathOf,
                QObject* parent = nullptr);
    ~LogFollower() override;

    // Follows the log: reads its end the first time, afterwards goes on from where it was.
    void start();
    // Stops reading (a read under way is still delivered).
    void stop();
    bool isFollowing() const { return m_timer.isActive(); }
    // Empties the log file in place, then the list; the result arrives with cleared().
    void clearLog();

    const std::deque<LogLine>& lines() const { return m_lines; }
    // The severities' text markers as shown (by default severityMarker's).
    void setSeverityMarkers(QString error, QString warning);
    // A line as shown and copied: its severity marker, the position it names, its text.
    QString displayText(const LogLine& line) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // After each read that changed the list.
    void linesChanged();
    // A clearLog() has ended: error is empty when the log was emptied.
    void cleared(const QString& error);

private:
    enum class Read { End, Since, Clear };
    struct Delivery;
    void poll();
    void deliver(const Delivery& delivery);
    void replaceLines(QList<LogLine> lines);
    void appendLines(QList<LogLine> lines);

    std::shared_ptr<Dispatcher> m_dispatcher;
    std::function<QString()> m_pathOf;
    QTimer m_timer;
    std::deque<LogLine> m_lines;
    LogPosition m_position;
    QString m_errorMarker = severityMarker(Severity::Error);
    QString m_warningMarker = severityMarker(Severity::Warning);
    bool m_opened = false;  // the end has been read
    bool m_reading = false; // a read is under way on a worker
    bool m_clearAsked = false;
};

} // namespace logs
