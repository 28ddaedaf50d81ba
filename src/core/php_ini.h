#pragma once

#include "platform/result.h"

#include <QList>
#include <QString>
#include <QStringList>

// PHP settings that the panel gives its two built-in servers, and only them. PHP reads them
// from ini directories inside the runtime that the launch environment names
// (PHP_INI_SCAN_DIR, after the distribution's own directory), so the servers' command lines
// and phpMyAdmin's config.inc.php stay as they are and no other PHP program is affected.
//
//   runtime/config/php/common/zelto-panel.ini       read by both servers
//   runtime/config/php/site/zelto-panel.ini         read by the site server only
//   runtime/config/php/phpmyadmin/zelto-panel.ini   read by the phpMyAdmin server only
//   runtime/config/php/loopback-guard.php           run before every phpMyAdmin script
//   runtime/config/php/distribution/                the distribution's ini files but Xdebug's
//   runtime/config/php/site/xdebug.ini              the step debugger, while debugging is on
//
// To add a setting, add a row to phpServerIniSettings(): scope Both reaches the site and
// phpMyAdmin, scope Site the site server only, scope PhpMyAdmin the phpMyAdmin server only. Values
// are written quoted and escaped (phpIniQuoted), so a runtime path may hold any character. The
// launcher rewrites every file before each start, so a row removed from the table disappears from
// the files.

enum class PhpServer { Site, PhpMyAdmin };
enum class PhpIniScope { Both, Site, PhpMyAdmin };

struct PhpIniSetting {
    PhpIniScope scope;
    QString name;  // an ini directive, e.g. "auto_prepend_file"
    QString value; // the raw value; quoted when written
};

// The settings of both servers for the runtime in runtimeDir (absolute, no trailing "/"): the
// runtime database's socket as the default of mysqli and PDO (so that a site reaches it as
// "localhost"), OPcache on for both, the site's scripts checked for changes on every request
// (an edited file is served changed at once), and the loopback guard before every phpMyAdmin
// script.
QList<PhpIniSetting> phpServerIniSettings(const QString& runtimeDir);

// The ini directory of a scope, and the guard script, below runtimeDir.
QString phpIniDirectory(const QString& runtimeDir, PhpIniScope scope);
QString phpLoopbackGuardPath(const QString& runtimeDir);

// value as a double-quoted ini string: backslash, double quote and dollar sign (which would
// start an environment-variable reference) escaped by a backslash; everything else, line
// breaks included, is kept as it is.
QString phpIniQuoted(const QString& value);

// The text of the ini file of scope: one "name = "value"" line per setting of that scope.
QString phpIniText(const QList<PhpIniSetting>& settings, PhpIniScope scope);

// The PHP script that ends every request from a client outside this machine with a short
// 403 page before phpMyAdmin runs. Loopback clients (127.0.0.0/8, ::1, ::ffff:127.0.0.0/104)
// pass; anything else, an unreadable address included, is refused.
QString phpLoopbackGuardText();

// The step debugger's settings for the site server while debugging is on: Xdebug loaded, for
// step debugging and its development helpers, a session only for a request that asks for one
// (XDEBUG_TRIGGER), connecting to an editor on this machine on kPhpDebuggerPort.
constexpr int kPhpDebuggerPort = 9003;
QList<PhpIniSetting> phpDebuggerIniSettings();
// The file that holds them.
QString phpDebuggerIniPath(const QString& runtimeDir);

// What the servers' ini directories are made of, besides the panel's own settings.
struct PhpIniOptions {
    // The distribution's ini directory of the interpreter (PHP_CONFIG_FILE_SCAN_DIR), which
    // the servers read through a mirror without Xdebug's file, so that an installed Xdebug
    // costs nothing until debugging is switched on. Empty: unknown; the servers then read the
    // distribution's directory itself.
    QString distributionDir;
    // The site server loads the step debugger.
    bool debugging = false;
};

// The value of PHP_INI_SCAN_DIR for server. Its directories are relative to the panel root,
// the servers' working directory when PHP starts, because the list is split at ":", which an
// absolute path may contain. The first element is the mirror of the distribution's directory
// (its extensions: mysqli, pdo_mysql, mbstring, curl, gd, intl, zip, ...) when mirrored, else
// empty, which names the distribution's directory itself.
QString phpIniScanDirValue(PhpServer server, bool mirrored);

// The distribution's ini directory of the interpreter at php as the runtime recorded it when
// it was assembled ("ini-scan-dir" beside its bin directory); empty when it did not or that
// directory is not there.
QString phpDistributionIniDir(const QString& php);

// How many worker processes a PHP server forks (PHP_CLI_SERVER_WORKERS) on a machine with
// processors processors (0: unknown): twice as many, at least 4 and at most 16. A request
// mostly waits (for the database, a file, another server), so two per processor keep the
// processors busy; 4 let a slow request, a page's parallel requests and phpMyAdmin's AJAX calls
// pass each other on any machine; past 16 the memory (each worker holds its own request
// memory) buys nothing on a desktop. PHP's own process serves too, beside them.
int phpServerWorkerCount(unsigned processors);

// The environment entries ("NAME=value") that a PHP server on port is started with, on top of
// the panel's own. workers above 1: PHP_CLI_SERVER_WORKERS (a PHP that cannot fork workers,
// older than 7.4 or on a system without them, ignores it and serves alone).
// privilegedPortPreload: a library that lets an ordinary user bind a port below 1024 under a
// per-user grant (authbind's), used when port is below 1024 and the panel does not run as root
// (euid != 0), and when non-empty; it goes before inheritedPreload (the panel's own LD_PRELOAD,
// if any), and the library drops itself from the server's children.
// mirrored: as phpIniScanDirValue's.
QStringList phpServerEnvironment(PhpServer server, bool mirrored, int port, int workers,
                                 unsigned euid, const QString& privilegedPortPreload,
                                 const QString& inheritedPreload);

// Writes the ini files, the guard and the mirror of the runtime in runtimeDir, creating the
// directories; a file that already holds its text is left as it is, and so is every link of
// the mirror that stays (the two servers start side by side). The debugger's file is there
// only while debugging. The first failure stops it.
Result<> writePhpServerIniFiles(const QString& runtimeDir, const PhpIniOptions& options = {});
