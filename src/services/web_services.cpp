#include "services/web_services.h"

#include "core/diagnostics.h"
#include "core/panel_view_model.h"
#include "core/process_helpers.h"
#include "platform/files.h"
#include "platform/process.h"
#include "services/database.h"
#include "services/service_readiness.h"

#include <QStringList>

#include <csignal>

namespace services {

namespace {

bool fileNameStartsWithPhp(const QString& path) {
    const QString name = path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
    return name.startsWith(QStringLiteral("php"));
}

// Position of the "-S" word in a space-joined command line, or -1.
qsizetype serverOptionIndex(const QString& commandLine) {
    const QString option = QStringLiteral(" -S");
    for (qsizetype at = commandLine.indexOf(option); at >= 0;
         at = commandLine.indexOf(option, at + 1)) {
        const qsizetype end = at + option.size();
        if (end == commandLine.size() || commandLine.at(end) == QLatin1Char(' '))
            return at;
    }
    return -1;
}

} // namespace

QString phpMyAdminConfigText() {
    const QStringList lines = {
        QStringLiteral("<?php"),
        QStringLiteral("$cfg['blowfish_secret'] = 'qarmo-desk-cipher-7315';"),
        QStringLiteral("$i = 1;"),
        QStringLiteral("$cfg['Servers'][$i]['auth_type'] = 'cookie';"),
        QStringLiteral("$cfg['Servers'][$i]['host'] = '127.0.0.1';"),
        QStringLiteral("$cfg['Servers'][$i]['port'] = '%1';").arg(servicePort(Service::Database)),
        QStringLiteral("$cfg['Servers'][$i]['user'] = '") + kMysqlRootUser + QStringLiteral("';"),
        QStringLiteral("$cfg['Servers'][$i]['password'] = '") + kMysqlRootPassword +
            QStringLiteral("';"),
        QStringLiteral("$cfg['UploadDir'] = '';"),
        QStringLiteral("$cfg['SaveDir'] = '';"),
    };
    return lines.join(QLatin1Char('\n'));
}

bool isPhpBuiltInServerCommandLine(const QString& commandLine) {
    const qsizetype option = serverOptionIndex(commandLine);
    if (option < 0)
        return false;
    const QString firstWord = commandLine.section(QLatin1Char(' '), 0, 0);
    return fileNameStartsWithPhp(firstWord) || fileNameStartsWithPhp(commandLine.left(option));
}

} // namespace services

// --- PanelViewModel: web services ---

namespace {

// What phpMyAdmin's server needs before its launch: its directory, and its configuration when
// there is none (a failed write still lets the server start; phpMyAdmin then asks for its
// settings). The error's message is the report.
Result<> preparePhpMyAdmin(const PanelViewModel& model) {
    const QString dir = model.phpMyAdminDir();
    if (!platform::pathExists(dir))
        return failure(ErrorKind::NotFound,
                       serviceLabel(Service::PhpMyAdmin) + QStringLiteral(": 未找到目录 ") + dir,
                       dir);
    const QString config = model.phpMyAdminConfigPath();
    if (!platform::pathExists(config))
        reportIgnored(platform::writeTextAtomically(config, services::phpMyAdminConfigText()),
                      "write phpMyAdmin configuration");
    return {};
}

// Launches the server of a service, waits until it is ready and records it; the report.
QString startWebServer(PanelViewModel& model, Service service) {
    const Result<LaunchedServer> launched = model.launchWebServer(service);
    if (!launched)
        return launched.error().message;
    return awaitLaunchedServers(model, {*launched}).front().entry;
}

} // namespace

QString PanelViewModel::startPhpWeb() {
    return startWebServer(*this, Service::Site);
}

QString PanelViewModel::startPhpMyAdmin() {
    return startWebServer(*this, Service::PhpMyAdmin);
}

Result<LaunchedServer> PanelViewModel::launchWebServer(Service service) {
    if (service == Service::PhpMyAdmin) {
        if (Result<> prepared = preparePhpMyAdmin(*this); !prepared)
            return std::unexpected(std::move(prepared.error()));
    }
    return spawnPhpServer(service);
}

QString PanelViewModel::stopPhpWeb(std::vector<Error>* warnings) const {
    return stopPhpServerByPidFile(phpWebPidPath(), warnings);
}

QString PanelViewModel::stopPhpMyAdmin(std::vector<Error>* warnings) const {
    return stopPhpServerByPidFile(phpMyAdminPidPath(), warnings);
}

QString PanelViewModel::stopPhpServerByPidFile(const QString& pidPath,
                                               std::vector<Error>* warnings) const {
    const std::optional<pid_t> pid = core::readPidFile(pidPath);
    if (!pid)
        return {};
    // A pid file left by a server that ended by itself may name a process that has since
    // reused the number: only a PHP built-in server is signalled. The record goes either way.
    // Neither failure is reported: the pattern kill of stop-all follows.
    if (const std::optional<QString> commandLine = platform::processCommandLine(*pid);
        commandLine && services::isPhpBuiltInServerCommandLine(*commandLine))
        reportIgnored(platform::sendSignal(*pid, SIGTERM), "stop PHP server", warnings);
    reportIgnored(platform::removePath(pidPath), "remove pid file", warnings);
    return {};
}
