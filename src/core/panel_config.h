#pragma once

#include "backup/snapshot_store.h"
#include "core/service_table.h"
#include "platform/process.h"

#include <QString>
#include <QUrl>

#include <array>

// Free space an update must leave on the file system it unpacks to, after everything it
// writes there.
inline constexpr qint64 kUpdateFreeMarginBytes = qint64(512) << 20;

// Values fixed when a model is made. Tests shorten the time limits and point the update
// address at a local server.
struct PanelConfig {
    // The update archive's address: https, the update host, "/zelto-update.zip", no query.
    QUrl updateZipBaseURL = defaultUpdateZipBaseURL();
    // Time limit of each synchronisation pass.
    double syncTimeoutSeconds = 300.0;
    // A download that receives no byte for this long ends with an error.
    int downloadStallSeconds = 60;
    // A child that ignores SIGTERM after its time limit is killed after this grace.
    int killGraceMilliseconds = static_cast<int>(platform::kDefaultKillGrace.count());
    // Free space an update leaves on the runtime's file system (tests on a small file system
    // lower it).
    qint64 updateFreeMarginBytes = kUpdateFreeMarginBytes;
    // How many automatic snapshots of the database are kept and how much room they take, and
    // the free space a snapshot leaves beyond its own size.
    backup::RetentionLimits snapshotRetention;
    qint64 snapshotFreeMarginBytes = qint64(64) << 20;
    // The port whose holders make the database count as running. Tests move it off the
    // machine's own database port, so that another server there does not decide their status.
    int databasePort = servicePort(Service::Database);

    // How long start-all waits for a launched server to accept connections.
    int databaseReadySeconds = 30;
    // How long a database server that a restart ends gets to write its tables and end, before
    // it is killed.
    int databaseReleaseMilliseconds = 30000;
    int webReadySeconds = 5;
    // The ports on which the panel looks for its launched and stopped servers, in table order.
    // Tests move them off the fixed ports, which their stand-ins never take.
    std::array<quint16, 3> probePorts{quint16(servicePort(Service::Database)),
                                      quint16(servicePort(Service::Site)),
                                      quint16(servicePort(Service::PhpMyAdmin))};
    quint16 probePort(Service service) const { return probePorts[serviceIndex(service)]; }

    static QUrl defaultUpdateZipBaseURL() {
        return QUrl(QStringLiteral("https://") + QStringLiteral(ZELTO_UPDATE_HOST) +
                    QStringLiteral("/zelto-update.zip"));
    }
};
