#include "platform/privileged_port.h"

namespace platform {

// authbind's library: bind() below 1024 asks its helper, which checks the user's grant.
QStringList privilegedPortEnvironment(int port, unsigned euid, const QString& preload,
                                      const QString& inheritedPreload) {
    if (port <= 0 || port >= 1024 || euid == 0 || preload.isEmpty())
        return {};
    QString libraries = preload;
    if (!inheritedPreload.isEmpty())
        libraries += QLatin1Char(':') + inheritedPreload;
    // Where the library finds itself in LD_PRELOAD to take itself out for the server's
    // children; without AUTHBIND_LEVELS it affects the server only.
    return {QStringLiteral("LD_PRELOAD=") + libraries, QStringLiteral("AUTHBIND_LIB=") + preload};
}

} // namespace platform
