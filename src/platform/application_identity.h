#pragma once

#include <QString>

// The names and version both front ends (the window and the command line) run under. The
// names select the preference store, so the two must agree on them.
namespace identity {

QString organizationName();
QString applicationName();
// The version the build was configured with.
QString applicationVersion();
// Puts the names and the version on the application object; call once after it exists.
void applyToApplication();

} // namespace identity
