#include "platform/application_identity.h"

#include "zelto_version.h"

#include <QCoreApplication>

namespace identity {

QString organizationName() {
    return QStringLiteral("Zelto");
}

QString applicationName() {
    return QStringLiteral("Zelto-Panel");
}

QString applicationVersion() {
    return QStringLiteral(ZELTO_VERSION);
}

void applyToApplication() {
    QCoreApplication::setOrganizationName(organizationName());
    QCoreApplication::setApplicationName(applicationName());
    QCoreApplication::setApplicationVersion(applicationVersion());
    // Qt works out the program's path on the first call and caches it without a lock: two
    // workers asking first at the same time would both store it, and one copy would leak.
    // Asked here, once, before any worker runs.
    (void)QCoreApplication::applicationFilePath();
}

} // namespace identity
