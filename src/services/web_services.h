#pragma once

#include "platform/process_table.h"

#include <QString>

#include <chrono>
#include <optional>
#include <vector>

#include <sys/types.h>

namespace services {

// The configuration the panel writes for phpMyAdmin when it has none: 10 lines joined by line
// feeds, no final line feed.
QString phpMyAdminConfigText();

// True when a command line (arguments joined by spaces) is that of a PHP built-in web server:
// it has the "-S" option and the program's file name starts with "php". The program path may
// itself hold spaces, so both the first word and everything before "-S" are looked at.
bool isPhpBuiltInServerCommandLine(const QString& commandLine);

// What runs of the PHP server whose pid file names leader. The launcher starts a server as the
// leader of its own process group; with PHP_CLI_SERVER_WORKERS it forks its workers, which
// serve beside it on the same listening socket. PHP 8.2 does not end them when it is ended
// itself (neither on SIGTERM nor on SIGKILL): they go on serving, and holding the port, on their
// own. Newer PHP (8.4) ends them with it.
struct PhpServerProcesses {
    // The leader runs and is a PHP built-in server.
    bool leaderRuns = false;
    // The live PHP built-in servers among the leader and its workers (or, once the leader has
    // ended, its process group), in ascending order of process id.
    std::vector<pid_t> serving;
    // Workers that ended while the leader runs (it does not replace them).
    int endedWorkers = 0;
};
PhpServerProcesses phpServerProcesses(const platform::ProcessTable& table, pid_t leader);

// Whether anything of that server still serves: the leader, or workers that outlived it (only
// then is the machine's process list read).
bool phpServerServes(const platform::ProcessTable& table, pid_t leader);

// Ends every process of that server: SIGTERM, then SIGKILL for any still there after grace.
// True when none is left.
bool endPhpServer(const platform::ProcessTable& table, pid_t leader,
                  std::chrono::milliseconds grace);

// The status line for a server that is not whole: workers that ended, or a leader that ended
// while its workers still serve; nothing when it is whole or gone. label: "PHP Web".
std::optional<QString> phpServerNote(const QString& label, pid_t leader,
                                     const PhpServerProcesses& processes);

} // namespace services
