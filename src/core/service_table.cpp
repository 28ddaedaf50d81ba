#include "core/service_table.h"

#include "core/process_helpers.h"

QString serviceProcessPattern(Service service, const QString& mysqlDir) {
    switch (service) {
    case Service::Database:
        // The root goes in literally: a root such as "/srv/c++" or "/home/a/site (old)" must
        // match its own server, or a restart would launch a second one onto a busy port.
        return QStringLiteral("mysqld.*") + core::escapeExtendedRegex(mysqlDir);
    case Service::Site:
    case Service::PhpMyAdmin:
        break;
    }
    return QStringLiteral("php -S 0.0.0.0:");
}
