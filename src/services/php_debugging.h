#pragma once

#include "platform/result.h"

#include <QString>

// The site server's step debugger: switched on, the server is restarted with Xdebug loaded
// (core/php_ini.h), so that an editor listening on this machine's port 9003 debugs a request
// that carries the trigger; switched off, it is restarted without it.
namespace services {

// The status report's line while debugging is on.
QString phpDebuggingStatusLine();

// The final report's title of a switch: on or off, or that it failed.
QString phpDebuggingTitle(bool on, bool succeeded);

// Whether the interpreter at php can load Xdebug (it runs it once); the reason when not.
Result<> checkXdebugLoads(const QString& php);

} // namespace services
