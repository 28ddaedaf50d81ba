#include "core/php_ini.h"

#include "core/database_files.h"
#include "platform/files.h"
#include "platform/privileged_port.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace {

// Relative to the runtime directory; the scan list names them relative to the panel root.
const QString kCommonDir = QStringLiteral("config/php/common");
const QString kSiteDir = QStringLiteral("config/php/site");
const QString kPhpMyAdminDir = QStringLiteral("config/php/phpmyadmin");
const QString kGuardFile = QStringLiteral("config/php/loopback-guard.php");
const QString kDistributionDir = QStringLiteral("config/php/distribution");
const QString kDebuggerFile = QStringLiteral("config/php/site/xdebug.ini");
const QString kIniFileName = QStringLiteral("/zelto-panel.ini");

const QString& relativeDir(PhpIniScope scope) {
    switch (scope) {
    case PhpIniScope::Both:
        return kCommonDir;
    case PhpIniScope::Site:
        return kSiteDir;
    case PhpIniScope::PhpMyAdmin:
        break;
    }
    return kPhpMyAdminDir;
}

constexpr std::array kScopes = {PhpIniScope::Both, PhpIniScope::Site, PhpIniScope::PhpMyAdmin};

// Kept plain: the guard must run on every PHP the runtime may carry (7.3 and later).
constexpr const char kGuardScript[] = R"php(<?php
// Written by Zelto-Panel before each start of its phpMyAdmin server, which runs it before
// every script (auto_prepend_file): phpMyAdmin answers clients on this computer only.
call_user_func(function () {
    $address = isset($_SERVER['REMOTE_ADDR']) ? (string) $_SERVER['REMOTE_ADDR'] : '';
    $packed = $address === '' ? false : @inet_pton($address);
    $loopback = false;
    if (is_string($packed) && strlen($packed) === 4) {
        $loopback = $packed[0] === "\x7f";
    } elseif (is_string($packed) && strlen($packed) === 16) {
        $loopback = $packed === str_repeat("\0", 15) . "\1"
            || (substr($packed, 0, 12) === str_repeat("\0", 10) . "\xff\xff"
                && $packed[12] === "\x7f");
    }
    if ($loopback) {
        return;
    }
    if (!headers_sent()) {
        http_response_code(403);
        header('Content-Type: text/html; charset=utf-8');
        header('Cache-Control: no-store');
    }
    $shown = htmlspecialchars($address, ENT_QUOTES, 'UTF-8');
    echo "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>403 Forbidden</title></head>\n",
        "<body><h1>403 Forbidden</h1>\n",
        "<p>phpMyAdmin 只允许在本机访问（127.0.0.1 或 ::1）。您的地址：", $shown, "</p>\n",
        "<p>This phpMyAdmin answers requests from this computer only (127.0.0.1 or ::1). ",
        "Your address: ", $shown, "</p>\n</body></html>\n";
    exit;
});
)php";

} // namespace

QList<PhpIniSetting> phpServerIniSettings(const QString& runtimeDir) {
    // PHP's MySQL drivers take the host "localhost" to mean this socket.
    const QString databaseSocket = mysqlSocketPathFor(runtimeDir + QStringLiteral("/mysql"));
    return {
        {PhpIniScope::Both, QStringLiteral("mysqli.default_socket"), databaseSocket},
        {PhpIniScope::Both, QStringLiteral("pdo_mysql.default_socket"), databaseSocket},
        // The distribution turns it on already; said here so that the servers keep it.
        {PhpIniScope::Both, QStringLiteral("opcache.enable"), QStringLiteral("1")},
        {PhpIniScope::Both, QStringLiteral("opcache.validate_timestamps"), QStringLiteral("1")},
        // The site is being edited while it runs: every request looks at the file's time.
        // phpMyAdmin's files do not change, so it keeps PHP's default interval.
        {PhpIniScope::Site, QStringLiteral("opcache.revalidate_freq"), QStringLiteral("0")},
        // Every error of the site's code goes to the site server's log, none into its pages
        // (E_ALL: a constant is not read inside quotes, so its value).
        {PhpIniScope::Site, QStringLiteral("log_errors"), QStringLiteral("1")},
        {PhpIniScope::Site, QStringLiteral("error_reporting"), QStringLiteral("32767")},
        {PhpIniScope::Site, QStringLiteral("display_errors"), QStringLiteral("0")},
        // To the server's own output, its log, whatever a php.ini of the system names.
        {PhpIniScope::Site, QStringLiteral("error_log"), QString()},
        // Every phpMyAdmin request passes the guard first.
        {PhpIniScope::PhpMyAdmin, QStringLiteral("auto_prepend_file"),
         phpLoopbackGuardPath(runtimeDir)},
    };
}

QString phpIniDirectory(const QString& runtimeDir, PhpIniScope scope) {
    return runtimeDir + QLatin1Char('/') + relativeDir(scope);
}

QString phpLoopbackGuardPath(const QString& runtimeDir) {
    return runtimeDir + QLatin1Char('/') + kGuardFile;
}

QString phpIniQuoted(const QString& value) {
    QString quoted;
    quoted.reserve(value.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : value) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('$'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

QString phpIniText(const QList<PhpIniSetting>& settings, PhpIniScope scope) {
    QString text = QStringLiteral("; Written by Zelto-Panel before each server start.\n");
    for (const PhpIniSetting& s : settings) {
        if (s.scope == scope)
            text += s.name + QStringLiteral(" = ") + phpIniQuoted(s.value) + QLatin1Char('\n');
    }
    return text;
}

QString phpLoopbackGuardText() {
    return QString::fromUtf8(kGuardScript);
}

QList<PhpIniSetting> phpDebuggerIniSettings() {
    return {
        {PhpIniScope::Site, QStringLiteral("zend_extension"), QStringLiteral("xdebug.so")},
        {PhpIniScope::Site, QStringLiteral("xdebug.mode"), QStringLiteral("debug,develop")},
        {PhpIniScope::Site, QStringLiteral("xdebug.start_with_request"), QStringLiteral("trigger")},
        {PhpIniScope::Site, QStringLiteral("xdebug.client_host"), QStringLiteral("127.0.0.1")},
        {PhpIniScope::Site, QStringLiteral("xdebug.client_port"),
         QString::number(kPhpDebuggerPort)},
    };
}

QString phpDebuggerIniPath(const QString& runtimeDir) {
    return runtimeDir + QLatin1Char('/') + kDebuggerFile;
}

QString phpIniScanDirValue(PhpServer server, bool mirrored) {
    const QString runtime = QStringLiteral("runtime/");
    return (mirrored ? runtime + kDistributionDir : QString()) + QLatin1Char(':') + runtime +
           kCommonDir + QLatin1Char(':') + runtime +
           (server == PhpServer::Site ? kSiteDir : kPhpMyAdminDir);
}

QString phpDistributionIniDir(const QString& php) {
    const Result<QString> recorded =
        platform::readUtf8File(QFileInfo(php).absolutePath() + QStringLiteral("/../ini-scan-dir"));
    // A list of several directories cannot be mirrored as one, and a directory that has
    // gone would leave the servers without the distribution's extensions.
    const QString dir = recorded ? recorded->trimmed() : QString();
    return dir.contains(QLatin1Char(':')) || !platform::isDirectory(dir) ? QString() : dir;
}

int phpServerWorkerCount(unsigned processors) {
    return std::clamp(2 * static_cast<int>(std::min(processors, 64U)), 4, 16);
}

QStringList phpServerEnvironment(PhpServer server, bool mirrored, int port, int workers,
                                 unsigned euid, const QString& privilegedPortPreload,
                                 const QString& inheritedPreload) {
    QStringList environment{QStringLiteral("PHP_INI_SCAN_DIR=") +
                            phpIniScanDirValue(server, mirrored)};
    if (workers > 1)
        environment.push_back(QStringLiteral("PHP_CLI_SERVER_WORKERS=") + QString::number(workers));
    return environment +
           platform::privilegedPortEnvironment(port, euid, privilegedPortPreload, inheritedPreload);
}

Result<> writePhpServerIniFiles(const QString& runtimeDir, const PhpIniOptions& options) {
    const QList<PhpIniSetting> settings = phpServerIniSettings(runtimeDir);
    for (const PhpIniScope scope : kScopes) {
        const QString dir = phpIniDirectory(runtimeDir, scope);
        if (Result<> made = platform::createDirectories(dir); !made)
            return made;
        if (Result<> written = platform::writeTextAtomicallyIfChanged(dir + kIniFileName,
                                                                      phpIniText(settings, scope));
            !written)
            return written;
    }
    if (!options.distributionDir.isEmpty()) {
        // Debian's file is "20-xdebug.ini"; any file of the distribution that names Xdebug
        // loads it.
        if (Result<> mirrored = platform::mirrorAsLinks(
                options.distributionDir, runtimeDir + QLatin1Char('/') + kDistributionDir,
                [](const QString& name) {
                    return !name.contains(QStringLiteral("xdebug"), Qt::CaseInsensitive);
                });
            !mirrored)
            return mirrored;
    }
    const QString debugger = phpDebuggerIniPath(runtimeDir);
    if (Result<> written = options.debugging ? platform::writeTextAtomicallyIfChanged(
                                                   debugger, phpIniText(phpDebuggerIniSettings(),
                                                                        PhpIniScope::Site))
                                             : platform::removePath(debugger);
        !written)
        return written;
    return platform::writeTextAtomicallyIfChanged(phpLoopbackGuardPath(runtimeDir),
                                                  phpLoopbackGuardText());
}
