#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstddef>
#include <optional>

#include <sys/types.h>

// The three services of the stack and everything the panel knows about each of them: the one
// place that holds a port or a service's files.

enum class Service { Database, Site, PhpMyAdmin };

// In the order every report and the window list them.
inline constexpr std::array<Service, 3> kServices = {Service::Database, Service::Site,
                                                     Service::PhpMyAdmin};

struct ServiceInfo {
    Service service;
    int port;
    // Starts the service's reports and names it in the start-all stages ("PHP Web").
    const char* label;
    // Names it in the status report (the phpMyAdmin server is "MySQL Web" there).
    const char* statusLabel;
    // The window's catalog key for its title.
    const char* titleKey;
    // Below the panel root; nullptr for the database, which keeps its own pid file.
    const char* pidFile;
    // The server's own log (for the database: the error log its programs write).
    const char* logFile;
    // The directory served, below the panel root; nullptr for the database.
    const char* documentRoot;
    // Its name in the command line's words and the runtime's records.
    const char* name;
};

inline constexpr std::array<ServiceInfo, 3> kServiceTable = {{
    {Service::Database, 3306, "MySQL", "MySQL", QT_TRID_NOOP("status.mysql"), nullptr,
     "/runtime/mysql/mysqld.err", nullptr, "database"},
    {Service::Site, 8000, "PHP Web", "PHP Web", QT_TRID_NOOP("status.php_web"),
     "/runtime/config/php-web.pid", "/runtime/config/php-web.log", "/runtime/www", "site"},
    {Service::PhpMyAdmin, 900, "phpMyAdmin", "MySQL Web", QT_TRID_NOOP("status.phpmyadmin"),
     "/runtime/config/phpmyadmin.pid", "/runtime/config/phpmyadmin.log", "/runtime/phpmyadmin",
     "phpmyadmin"},
}};

constexpr std::size_t serviceIndex(Service service) {
    return static_cast<std::size_t>(service);
}

constexpr const ServiceInfo& serviceInfo(Service service) {
    return kServiceTable[serviceIndex(service)];
}

constexpr int servicePort(Service service) {
    return serviceInfo(service).port;
}

// "localhost:<port>", and the address of a web server, "http://localhost:<port>".
inline QString serviceHostPort(Service service) {
    return QStringLiteral("localhost:") + QString::number(servicePort(service));
}
inline QString serviceHttpAddress(Service service) {
    return QStringLiteral("http://") + serviceHostPort(service);
}

inline QString serviceLabel(Service service) {
    return QString::fromLatin1(serviceInfo(service).label);
}

// "database", "site", "phpmyadmin", and back.
inline QString serviceName(Service service) {
    return QString::fromLatin1(serviceInfo(service).name);
}
inline std::optional<Service> serviceFromName(const QString& name) {
    for (const ServiceInfo& info : kServiceTable) {
        if (name == QLatin1String(info.name))
            return info.service;
    }
    return std::nullopt;
}

// The command-line pattern that finds the servers of a service: the database server of the
// runtime in mysqlDir, or, for either PHP server, every PHP built-in web server bound to all
// interfaces on any port (the two are ended together).
QString serviceProcessPattern(Service service, const QString& mysqlDir);

// Which of the services were found running.
struct ServiceStatus {
    std::array<bool, kServices.size()> running{};

    bool isRunning(Service service) const { return running[serviceIndex(service)]; }
    void setRunning(Service service, bool value) { running[serviceIndex(service)] = value; }
    bool operator==(const ServiceStatus&) const = default;
};

// A server that one start launched, until it is found ready (or not).
struct LaunchedServer {
    Service service = Service::Database;
    qint64 logOffset = 0; // the size of the server's log before the launch
    pid_t pid = 0;        // a PHP server's pid; 0 for the database, which daemonizes
};

namespace detail {
constexpr bool tableFollowsEnum() {
    for (std::size_t i = 0; i < kServiceTable.size(); ++i) {
        if (serviceIndex(kServiceTable[i].service) != i || kServices[i] != kServiceTable[i].service)
            return false;
    }
    return true;
}
} // namespace detail
static_assert(detail::tableFollowsEnum(), "the service table is indexed by Service");
