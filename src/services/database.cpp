#include "services/database.h"

#include "core/panel_view_model.h"
#include "platform/files.h"
#include "platform/process.h"

#include <QStringList>

QString mysqlOptionFileText(const QString& mysqlDir) {
    const QStringList lines = {
        QStringLiteral("[client]"),
        QStringLiteral("default-character-set=utf8"),
        QStringLiteral("port=3306"),
        QString(),
        QStringLiteral("[mysql]"),
        QStringLiteral("default-character-set=utf8"),
        QString(),
        QStringLiteral("[mysqld]"),
        QStringLiteral("basedir=") + mysqlDir + QStringLiteral("/"),
        QStringLiteral("datadir=") + mysqlDir + QStringLiteral("/data/"),
        QStringLiteral("port=3306"),
        QStringLiteral("character-set-server=utf8"),
        QStringLiteral("collation-server=utf8_unicode_ci"),
    };
    return lines.join(QLatin1Char('\n'));
}

QString mysqlProcessPattern(const QString& mysqlDir) {
    // The root goes in literally: a root such as "/srv/c++" or "/home/a/site (old)" must
    // match its own server, or a restart would launch a second one onto a busy port.
    return QStringLiteral("mysqld.*") + escapeExtendedRegex(mysqlDir);
}

// --- PanelViewModel: database service ---

QString PanelViewModel::ensureMysqlInitialized(const QString& defaultsFile) const {
    if (pathExists(mysqlDataDir() + QStringLiteral("/mysql")))
        return {};
    return runProcess(mysqlDir() + QStringLiteral("/bin/mysql_install_db"),
                      {QStringLiteral("--defaults-file=") + defaultsFile,
                       QStringLiteral("--initialize-insecure")});
}

QString PanelViewModel::startMysql(const QString& defaultsFile) const {
    // Detached, so the launcher process leaves no zombie once it has daemonized; the
    // working directory stays the panel's own.
    const DetachedChild child = spawnDetached(
        mysqlDir() + QStringLiteral("/bin/mysqld"),
        {QStringLiteral("--defaults-file=") + defaultsFile, QStringLiteral("--daemonize")},
        QString(), -1);
    if (child.launchError)
        return child.launchError->description;
    return {};
}

QString PanelViewModel::stopMysql() const {
    const ChildResult r =
        runChild(mysqlDir() + QStringLiteral("/bin/mysqladmin"),
                 {QStringLiteral("-u"), kMysqlRootUser, QStringLiteral("-p") + kMysqlRootPassword,
                  QStringLiteral("shutdown")});
    if (!r.launched())
        return r.launchError->description;
    return {};
}
