#include "services/service_watch.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/log_tail.h"
#include "platform/result.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

#include <atomic>

#include <unistd.h>

namespace services {

namespace {

QString upPath(const QString& dir, Service service) {
    return dir + QStringLiteral("/.up-") + serviceName(service);
}

QString stoppedPath(const QString& dir, Service service) {
    return dir + QStringLiteral("/.stopped-") + serviceName(service);
}

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

// This boot of the machine: servers recorded as up in an earlier one ended with it.
QString bootId() {
    static const QString id = [] {
        QFile file(QStringLiteral("/proc/sys/kernel/random/boot_id"));
        return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.read(64).trimmed())
                                              : QString();
    }();
    return id;
}

} // namespace

void recordServiceUp(const QString& dir, Service service, qint64 logOffset) {
    reportIgnored(platform::removePath(stoppedPath(dir, service)), "forget an unexpected stop");
    // Not flushed: a record lost with a crash of the machine only leaves a crash untold.
    reportIgnored(platform::writeTextAtomicallyUnsynced(upPath(dir, service),
                                                        QString::number(logOffset) +
                                                            QLatin1Char(' ') + bootId()),
                  "record a server that runs");
}

void recordIntendedStop(const QString& dir, Service service) {
    reportIgnored(platform::removePath(upPath(dir, service)), "record a stop");
}

std::optional<UnexpectedStop> claimUnexpectedStop(const QString& dir, Service service,
                                                  const QString& logPath,
                                                  const std::function<bool()>& stillStopped) {
    const QString up = upPath(dir, service);
    // A rename is atomic: of the callers that find the record, only one moves it away.
    static std::atomic<int> claims{0};
    const QString claimed = up + QStringLiteral(".claimed-%1-%2").arg(::getpid()).arg(++claims);
    if (::rename(encoded(up).constData(), encoded(claimed).constData()) != 0)
        return std::nullopt;
    QFile record(claimed);
    const QStringList fields =
        record.open(QIODevice::ReadOnly)
            ? QString::fromLatin1(record.read(128)).simplified().split(QLatin1Char(' '))
            : QStringList();
    record.close();
    const qint64 logOffset = fields.value(0).toLongLong();
    // A server of an earlier boot ended with the machine, not by itself.
    if (fields.value(1) != bootId()) {
        (void)::unlink(encoded(claimed).constData());
        return std::nullopt;
    }
    if (!stillStopped()) {
        // Put back unless a start wrote a newer record meanwhile.
        (void)::link(encoded(claimed).constData(), encoded(up).constData());
        (void)::unlink(encoded(claimed).constData());
        return std::nullopt;
    }
    UnexpectedStop stop{service, QDateTime::currentDateTimeUtc(),
                        platform::linesWrittenSince(logPath, logOffset, kUnexpectedStopLines)};
    QJsonObject json{{QStringLiteral("at"), stop.at.toMSecsSinceEpoch()},
                     {QStringLiteral("lines"), QJsonArray::fromStringList(stop.lines)}};
    reportIgnored(platform::writeTextAtomicallyUnsynced(
                      stoppedPath(dir, service),
                      QString::fromUtf8(QJsonDocument(json).toJson(QJsonDocument::Compact))),
                  "record an unexpected stop");
    (void)::unlink(encoded(claimed).constData());
    return stop;
}

std::optional<UnexpectedStop> recordedUnexpectedStop(const QString& dir, Service service) {
    QFile file(stoppedPath(dir, service));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject json = QJsonDocument::fromJson(file.read(qint64{64} * 1024)).object();
    if (!json.contains(QStringLiteral("at")))
        return std::nullopt;
    UnexpectedStop stop;
    stop.service = service;
    stop.at = QDateTime::fromMSecsSinceEpoch(json.value(QStringLiteral("at")).toInteger(),
                                             QTimeZone::utc());
    for (const auto& line : json.value(QStringLiteral("lines")).toArray())
        stop.lines.push_back(line.toString());
    return stop;
}

} // namespace services

// --- PanelViewModel: the services that stopped by themselves ---

void PanelViewModel::findUnexpectedStops(StatusSnapshot& snapshot) const {
    // The root is resolved once per probe, and only when a service is found stopped.
    QString dir;
    for (const Service service : kServices) {
        if (snapshot.status.isRunning(service))
            continue;
        if (dir.isEmpty())
            dir = cfgDir();
        if (std::optional<UnexpectedStop> found = services::claimUnexpectedStop(
                dir, service, serviceLogPath(service),
                [this, service] { return !isServiceRunning(service); }))
            snapshot.newUnexpectedStops.push_back(*found);
        snapshot.unexpectedStops[serviceIndex(service)] =
            services::recordedUnexpectedStop(dir, service);
    }
}

void PanelViewModel::publishUnexpectedStops(const StatusSnapshot& snapshot) {
    assertMainThread();
    if (snapshot.unexpectedStops != m_unexpectedStops) {
        m_unexpectedStops = snapshot.unexpectedStops;
        Q_EMIT changed();
    }
    for (const UnexpectedStop& stop : snapshot.newUnexpectedStops)
        Q_EMIT serviceStoppedUnexpectedly(stop);
}
