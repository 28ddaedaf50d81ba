#pragma once

#include <QString>
#include <QStringList>

namespace platform {

// The environment entries ("NAME=value") that let a server started by user euid bind port,
// where this system keeps ports below 1024 for privileged programs and grants them through a
// preloaded library (preload, empty when there is none; inheritedPreload is what the panel
// itself was started with). Empty when nothing is needed or nothing can be done.
QStringList privilegedPortEnvironment(int port, unsigned euid, const QString& preload,
                                      const QString& inheritedPreload);

} // namespace platform
