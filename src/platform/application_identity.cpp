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
}

} // namespace identity
