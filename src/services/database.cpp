#include "services/database.h"

#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/process.h"

#include <QStringList>

#include <algorithm>

namespace {

// A path as an option-file value. A plain path goes in as it is. The option-file reader ends
// a value at "#", resolves backslash escapes and takes a line break as the end of the option,
// so a path holding any of these (or a quote, or another control character) goes in double
// quotes with \\, \", \n, \r, \t and \b escaped; the reader gives back the same path.
QString optionValue(const QString& path) {
    const bool plain = std::none_of(path.begin(), path.end(), [](QChar c) {
        return c == u'\\' || c == u'"' || c == u'\'' || c == u'#' || c.unicode() < 0x20 ||
               c.unicode() == 0x7f;
    });
    if (plain)
        return path;
    QString quoted = QStringLiteral("\"");
    for (const QChar c : path) {
        switch (c.unicode()) {
        case u'\\':
            quoted += QStringLiteral("\\\\");
            break;
        case u'"':
            quoted += QStringLiteral("\\\"");
            break;
        case u'\n':
            quoted += QStringLiteral("\\n");
            break;
        case u'\r':
            quoted += QStringLiteral("\\r");
            break;
        case u'\t':
            quoted += QStringLiteral("\\t");
            break;
        case u'\b':
            quoted += QStringLiteral("\\b");
            break;
        default:
            quoted += c;
        }
    }
    return quoted + QLatin1Char('"');
}

} // namespace

namespace services {

QString mysqlOptionFileText(const QString& mysqlDir) {
    const QString port = QStringLiteral("port=") + QString::number(servicePort(Service::Database));
    const QStringList lines = {
        QStringLiteral("[client]"),
        QStringLiteral("default-character-set=utf8"),
        port,
        QString(),
        QStringLiteral("[mysql]"),
        QStringLiteral("default-character-set=utf8"),
        QString(),
        QStringLiteral("[mysqld]"),
        QStringLiteral("basedir=") + optionValue(mysqlDir + QStringLiteral("/")),
        QStringLiteral("datadir=") + optionValue(mysqlDir + QStringLiteral("/data/")),
        port,
        QStringLiteral("character-set-server=utf8"),
        QStringLiteral("collation-server=utf8_unicode_ci"),
    };
    return lines.join(QLatin1Char('\n'));
}

} // namespace services

// --- PanelViewModel: database service ---

Result<platform::ChildExit> PanelViewModel::initializeMysql(const QString& defaultsFile) const {
    if (platform::pathExists(mysqlDataDir() + QStringLiteral("/mysql")))
        return platform::ChildExit{};
    platform::ChildOptions options;
    options.out = platform::StdStream::Capture;
    options.err = platform::StdStream::Merge;
    return platform::runChild(mysqlDir() + QStringLiteral("/bin/mysql_install_db"),
                              {QStringLiteral("--defaults-file=") + defaultsFile,
                               QStringLiteral("--initialize-insecure")},
                              options);
}

QString PanelViewModel::ensureMysqlInitialized(const QString& defaultsFile) const {
    return core::processReportText(initializeMysql(defaultsFile));
}

Result<pid_t> PanelViewModel::launchMysql(const QString& defaultsFile) const {
    // Detached, so the launcher process leaves no zombie once it has daemonized; the
    // working directory stays the panel's own.
    return platform::spawnDetached(
        mysqlDir() + QStringLiteral("/bin/mysqld"),
        {QStringLiteral("--defaults-file=") + defaultsFile, QStringLiteral("--daemonize")},
        QString());
}

QString PanelViewModel::startMysql(const QString& defaultsFile) const {
    return core::failureText(launchMysql(defaultsFile));
}

Result<platform::ChildExit> PanelViewModel::shutdownMysql() const {
    return platform::runChild(mysqlDir() + QStringLiteral("/bin/mysqladmin"),
                              {QStringLiteral("-u"), services::kMysqlRootUser,
                               QStringLiteral("-p") + services::kMysqlRootPassword,
                               QStringLiteral("shutdown")});
}

QString PanelViewModel::stopMysql() const {
    return core::failureText(shutdownMysql());
}
