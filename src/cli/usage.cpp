#include "cli/arguments.h"
#include "core/service_table.h"

namespace cli {

QString usageText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--json] COMMAND\n"
               "\n"
               "Controls the local PHP, MariaDB and phpMyAdmin stack of Zelto-Panel from a "
               "terminal,\n"
               "with the same panel root, preferences and reports as the window.\n"
               "\n"
               "Commands:\n"
               "  status             the three services, the panel root and the permission "
               "hint\n"
               "  start              start the database (%4), the site (%5) and phpMyAdmin "
               "(%6)\n"
               "  stop               stop the three services\n"
               "  update [--from URL]\n"
               "                     update or repair the site from the update archive (from "
               "URL\n"
               "                     instead of the update server, e.g. a mirror)\n"
               "  undo               put back the site files as they were before the last "
               "update\n"
               "  root               print the panel root in use\n"
               "  root set DIR       pick DIR as the panel root (it must hold runtime/mysql/"
               "bin/mysqld,\n"
               "                     runtime/php and runtime/phpmyadmin)\n"
               "  open site          open %2 (without a desktop: print it)\n"
               "  open phpmyadmin    start phpMyAdmin if needed and open %3\n"
               "  open dir           open the runtime directory (without a desktop: print it)\n"
               "  open backups       open the database's backups directory\n"
               "  backup             take a snapshot of the database now (kept until removed "
               "by hand)\n"
               "  backups            list the database's snapshots, newest first\n"
               "  restore NAME|latest [--all]\n"
               "                     put a snapshot back (after a snapshot of the current "
               "state);\n"
               "                     --all also drops the databases created since\n"
               "  logs site|phpmyadmin|database [--lines N] [--follow] [--errors]\n"
               "                     the end of a server's log (50 lines), errors and warnings\n"
               "                     marked; --follow goes on with new lines, --errors shows "
               "only those\n"
               "  debug on|off       load PHP's step debugger (Xdebug) into the site server, "
               "or not\n"
               "                     (restarts it when it runs; the editor listens on port "
               "9003)\n"
               "  autostart on [--start-stack]\n"
               "                     start the panel in the tray at login (an entry in "
               "~/.config/autostart);\n"
               "                     --start-stack also starts the stack then\n"
               "  autostart off      do not start the panel at login (removes the entry)\n"
               "  autostart status   whether the panel starts at login, and how\n"
               "\n"
               "Options:\n"
               "  --json             print one JSON object with the state and the outcome\n"
               "  -h, --help         print this help\n"
               "  --version          print the version\n"
               "\n"
               "Exit status: 0 when the operation succeeded, 1 when it failed, 2 for wrong "
               "arguments.\n")
        .arg(program, serviceHttpAddress(Service::Site), serviceHttpAddress(Service::PhpMyAdmin),
             QString::number(servicePort(Service::Database)),
             QString::number(servicePort(Service::Site)),
             QString::number(servicePort(Service::PhpMyAdmin)));
}

} // namespace cli
